#include "engine/tests/server/tds_client.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

#include "engine/tds/byte_reader.h"
#include "engine/tds/byte_writer.h"
#include "engine/tds/login7.h"
#include "engine/tds/prelogin.h"
#include "engine/tds/type_info.h"
#include "engine/tds/value_codec.h"

namespace sqlengine::testing {

using tds::ByteReader;
using tds::ByteWriter;
using tds::Token;

std::vector<std::uint8_t> BuildLogin7(const LoginOptions& o) {
  ByteWriter strings;
  struct Field {
    std::uint16_t offset, length;
  };
  constexpr std::size_t kFixed = 94;
  auto add = [&](const std::string& text, bool password = false) {
    Field f{static_cast<std::uint16_t>(kFixed + strings.Size()), 0};
    std::size_t start = strings.Size();
    f.length = static_cast<std::uint16_t>(strings.Ucs2(text));
    if (password) {
      for (std::size_t i = start; i < strings.Size(); ++i) {
        strings.Bytes()[i] = tds::ObfuscatePasswordByte(strings.Bytes()[i]);
      }
    }
    return f;
  };
  Field host = add("testhost"), user = add(o.user), pass = add(o.password, true),
        app = add("wire-test"), server = add("127.0.0.1"), library = add("raw"), language = add(""),
        database = add(o.database);
  Field empty{static_cast<std::uint16_t>(kFixed + strings.Size()), 0};
  ByteWriter w;
  w.U32(static_cast<std::uint32_t>(kFixed + strings.Size()));
  w.U32(o.tds_version);
  w.U32(o.packet_size);
  w.U32(7);     // ClientProgVer
  w.U32(4242);  // ClientPID
  w.U32(0);     // ConnectionID
  w.U8(0xE0);
  w.U8(static_cast<std::uint8_t>(0x03 | (o.integrated ? tds::kIntegratedSecurity : 0)));
  w.U8(0);
  w.U8(0);
  w.U32(0);
  w.U32(0x0409);
  for (Field f : {host, user, pass, app, server, empty, library, language, database}) {
    w.U16(f.offset);
    w.U16(f.length);
  }
  for (int i = 0; i < 6; ++i) w.U8(0);
  for (int i = 0; i < 3; ++i) {  // SSPI, AtchDBFile, ChangePassword
    w.U16(empty.offset);
    w.U16(0);
  }
  w.U32(0);  // cbSSPILong
  w.Append(strings.Bytes());
  return w.Bytes();
}

std::vector<std::uint8_t> AllHeaders(std::uint64_t descriptor) {
  ByteWriter w;
  w.U32(22);
  w.U32(18);
  w.U16(2);
  w.U64(descriptor);
  w.U32(1);
  return w.Bytes();
}

std::vector<std::uint8_t> BuildBatch(const std::string& text, tds::TdsVersion version,
                                     std::uint64_t descriptor) {
  ByteWriter w;
  if (tds::HasAllHeaders(version)) w.Append(AllHeaders(descriptor));
  w.Ucs2(text);
  return w.Bytes();
}

namespace {

tds::TypeInfo ReadColumnType(ByteReader& in, tds::TdsVersion version) {
  if (tds::HasWideCounts(version)) {
    in.U32();
  } else {
    in.U16();
  }
  in.U16();  // flags
  return tds::ReadTypeInfo(in, version);
}

Value ReadRowValue(const tds::TypeInfo& type, ByteReader& in) {
  if (tds::IsTextPointerType(type.type)) {
    std::uint8_t pointer = in.U8();
    if (pointer == 0) return std::monostate{};
    in.Skip(pointer + 8u);
  }
  return tds::ReadValue(type, in);
}

}  // namespace

std::vector<Event> ParseTokens(std::span<const std::uint8_t> body, tds::TdsVersion version) {
  std::vector<Event> events;
  std::vector<tds::TypeInfo> types;
  ByteReader in(body);
  while (!in.AtEnd()) {
    Event e;
    e.token = static_cast<Token>(in.U8());
    switch (e.token) {
      case Token::kLoginAck: {
        ByteReader t(in.Take(in.U16()));
        t.U8();
        auto v = t.Take(4);
        e.version = (static_cast<std::uint32_t>(v[0]) << 24) | (v[1] << 16) | (v[2] << 8) | v[3];
        e.text = t.BVarChar();
        t.Skip(4);
        if (!t.AtEnd()) throw tds::DecodeError("LOGINACK length does not match its content");
        version = tds::NegotiateVersion(e.version);
        break;
      }
      case Token::kEnvChange: {
        ByteReader t(in.Take(in.U16()));
        e.env_type = t.U8();
        if (e.env_type == 7 || e.env_type >= 8) {
          auto fresh = t.Take(t.U8());
          auto old = t.Take(t.U8());
          auto descriptor = fresh.size() == 8 ? fresh : old;
          if (descriptor.size() == 8) e.descriptor = ByteReader(descriptor).U64();
          e.env_new.assign(fresh.begin(), fresh.end());
        } else {
          e.env_new = t.BVarChar();
          e.env_old = t.BVarChar();
        }
        if (!t.AtEnd()) throw tds::DecodeError("ENVCHANGE length does not match its content");
        break;
      }
      case Token::kInfo:
      case Token::kError: {
        ByteReader t(in.Take(in.U16()));
        e.number = t.I32();
        t.U8();
        e.message_class = t.U8();
        e.text = t.UsVarChar();
        t.BVarChar();
        t.BVarChar();
        e.line = tds::HasWideCounts(version) ? t.I32() : t.U16();
        if (!t.AtEnd()) throw tds::DecodeError("INFO length does not match its line width");
        break;
      }
      case Token::kDone:
      case Token::kDoneProc:
      case Token::kDoneInProc:
        e.status = in.U16();
        in.U16();
        e.count = tds::HasWideCounts(version) ? in.U64() : in.U32();
        break;
      case Token::kColMetadata: {
        std::uint16_t count = in.U16();
        types.clear();
        for (std::uint16_t i = 0; i < count; ++i) {
          tds::TypeInfo type = ReadColumnType(in, version);
          if (tds::IsTextPointerType(type.type)) {
            if (tds::HasWideCounts(version)) {
              for (std::uint8_t parts = in.U8(); parts > 0; --parts) in.UsVarChar();
            } else {
              in.UsVarChar();
            }
          }
          types.push_back(type);
          e.columns.push_back(in.BVarChar());
        }
        e.types = types;
        break;
      }
      case Token::kRow:
        for (const tds::TypeInfo& type : types) e.values.push_back(ReadRowValue(type, in));
        break;
      case Token::kReturnStatus:
        e.return_status = in.I32();
        break;
      case Token::kReturnValue: {
        e.ordinal = in.U16();
        e.columns.push_back(in.BVarChar());
        in.U8();
        tds::TypeInfo type = ReadColumnType(in, version);
        e.types.push_back(type);
        e.values.push_back(tds::ReadValue(type, in));
        break;
      }
      default:
        throw tds::DecodeError("unknown token " + std::to_string(static_cast<int>(e.token)));
    }
    events.push_back(std::move(e));
  }
  return events;
}

std::vector<Token> TokenOrder(const std::vector<Event>& events) {
  std::vector<Token> out;
  for (const Event& e : events) out.push_back(e.token);
  return out;
}

bool DrainUntilAttentionAck(TdsClient& client) {
  for (int i = 0; i < 10; ++i) {
    auto r = client.Receive();
    if (!r) return false;
    auto events = ParseTokens(r->body, client.version());
    if (!events.empty() && events.back().token == Token::kDone &&
        (events.back().status & tds::kDoneAttention)) {
      return true;
    }
  }
  return false;
}

std::vector<Event> Only(const std::vector<Event>& events, Token token) {
  std::vector<Event> out;
  for (const Event& e : events) {
    if (e.token == token) out.push_back(e);
  }
  return out;
}

TdsClient::TdsClient(int port) {
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    throw std::runtime_error("cannot connect to the test server");
  }
  int one = 1;
  setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

TdsClient::~TdsClient() {
  StopTls();
  SSL_CTX_free(tls_context_);
  close(fd_);
}

void TdsClient::SendCiphertext() {
  std::vector<std::uint8_t> out(BIO_ctrl_pending(to_server_));
  if (out.empty()) return;
  BIO_read(to_server_, out.data(), static_cast<int>(out.size()));
  SSL* tls = tls_;
  tls_ = nullptr;  // the records go out as they are
  SendRaw(out);
  tls_ = tls;
}

bool TdsClient::ReceiveCiphertext() {
  std::uint8_t buffer[16 * 1024];
  pollfd p{fd_, POLLIN, 0};
  if (poll(&p, 1, 20000) <= 0) {
    ADD_FAILURE() << "no data from the server within 20 s";
    return false;
  }
  ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
  if (n <= 0) return false;
  BIO_write(from_server_, buffer, static_cast<int>(n));
  return true;
}

std::optional<std::uint8_t> TdsClient::Prelogin(std::uint8_t encryption) {
  const std::uint8_t prelogin[] = {0x00, 0x00, 0x0B, 0x00, 0x06, 0x01, 0x00, 0x11, 0x00,
                                   0x01, 0xFF, 0x09, 0x00, 0x00, 0x00, 0x00, 0x00, encryption};
  Send(tds::PacketType::kPrelogin, prelogin);
  auto reply = Receive();
  if (!reply) return std::nullopt;
  return tds::DecodePrelogin(reply->body).encryption;
}

void TdsClient::StartTls(const std::filesystem::path& trusted) {
  tls_context_ = SSL_CTX_new(TLS_client_method());
  SSL_CTX_set_verify(tls_context_, SSL_VERIFY_PEER, nullptr);
  ASSERT_EQ(SSL_CTX_load_verify_locations(tls_context_, trusted.c_str(), nullptr), 1);
  SSL* tls = SSL_new(tls_context_);
  SSL_set1_host(tls, "localhost");
  from_server_ = BIO_new(BIO_s_mem());
  to_server_ = BIO_new(BIO_s_mem());
  BIO_set_mem_eof_return(from_server_, -1);
  SSL_set_bio(tls, from_server_, to_server_);
  SSL_set_connect_state(tls);
  for (;;) {
    int rc = SSL_do_handshake(tls);
    std::vector<std::uint8_t> out(BIO_ctrl_pending(to_server_));
    if (!out.empty()) {
      BIO_read(to_server_, out.data(), static_cast<int>(out.size()));
      Send(tds::PacketType::kPrelogin, out);
    }
    if (rc == 1) break;
    if (SSL_get_error(tls, rc) != SSL_ERROR_WANT_READ) {
      std::string verified = X509_verify_cert_error_string(SSL_get_verify_result(tls));
      SSL_free(tls);
      FAIL() << "TLS handshake failed; certificate check: " << verified;
    }
    auto reply = Receive();
    if (!reply) SSL_free(tls);
    ASSERT_TRUE(reply) << "the server closed the connection during the TLS handshake";
    for (const tds::PacketHeader& header : reply->headers) {
      ASSERT_EQ(header.type, static_cast<std::uint8_t>(tds::PacketType::kPrelogin));
    }
    BIO_write(from_server_, reply->body.data(), static_cast<int>(reply->body.size()));
  }
  tls_ = tls;
}

void TdsClient::StopTls() {
  SSL_free(tls_);
  tls_ = nullptr;
}

void TdsClient::SendRaw(std::span<const std::uint8_t> bytes) {
  if (tls_) {
    ASSERT_EQ(SSL_write(tls_, bytes.data(), static_cast<int>(bytes.size())),
              static_cast<int>(bytes.size()));
    SendCiphertext();
    return;
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) throw std::runtime_error("send failed");
    done += static_cast<std::size_t>(n);
  }
}

void TdsClient::Send(tds::PacketType type, std::span<const std::uint8_t> body,
                     std::size_t packet_size) {
  std::vector<std::uint8_t> packets;
  std::uint8_t id = 1;
  tds::AppendPackets(body, packet_size, 0, true, &id, packets);
  // AppendPackets writes server packets; stamp the request type on each.
  for (std::size_t at = 0; at < packets.size();) {
    packets[at] = static_cast<std::uint8_t>(type);
    at += static_cast<std::size_t>((packets[at + 2] << 8) | packets[at + 3]);
  }
  SendRaw(packets);
}

bool TdsClient::ReadExactly(std::uint8_t* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    if (tls_) {
      int n = SSL_read(tls_, data + done, static_cast<int>(size - done));
      if (n > 0) {
        done += static_cast<std::size_t>(n);
      } else if (SSL_get_error(tls_, n) != SSL_ERROR_WANT_READ || !ReceiveCiphertext()) {
        return false;
      }
      continue;
    }
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 20000) <= 0) {
      ADD_FAILURE() << "no data from the server within 20 s";
      return false;
    }
    ssize_t n = recv(fd_, data + done, size - done, 0);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::optional<Response> TdsClient::Receive() {
  Response response;
  for (;;) {
    std::uint8_t raw[tds::kHeaderSize];
    if (!ReadExactly(raw, sizeof raw)) return std::nullopt;
    tds::PacketHeader header =
        tds::ParseHeader(std::span<const std::uint8_t, tds::kHeaderSize>(raw, tds::kHeaderSize));
    std::vector<std::uint8_t> payload(header.length - tds::kHeaderSize);
    if (!ReadExactly(payload.data(), payload.size())) return std::nullopt;
    response.headers.push_back(header);
    response.body.insert(response.body.end(), payload.begin(), payload.end());
    if (header.status & tds::kStatusEndOfMessage) return response;
  }
}

bool TdsClient::WaitForClose() {
  std::uint8_t buffer[4096];
  for (;;) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 20000) <= 0) return false;
    ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
    if (n <= 0) return true;
  }
}

Response TdsClient::Login(const LoginOptions& options) {
  const std::uint8_t prelogin[] = {0x00, 0x00, 0x0B, 0x00, 0x06, 0x01, 0x00, 0x11, 0x00,
                                   0x01, 0xFF, 0x09, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02};
  Send(tds::PacketType::kPrelogin, prelogin);
  auto reply = Receive();
  if (!reply) throw std::runtime_error("no PRELOGIN reply");
  Send(tds::PacketType::kLogin7, BuildLogin7(options));
  auto response = Receive();
  if (!response) throw std::runtime_error("no login response");
  version_ = tds::NegotiateVersion(options.tds_version);
  return *response;
}

void TdsClient::LoginOrFail(const LoginOptions& options) {
  Response r = Login(options);
  auto events = ParseTokens(r.body, tds::NegotiateVersion(options.tds_version));
  ASSERT_FALSE(events.empty());
  ASSERT_EQ(events.front().token, Token::kLoginAck);
  // From here on the client reads what the server agreed to, as drivers do.
  version_ = tds::NegotiateVersion(events.front().version);
}

std::vector<Event> TdsClient::Batch(const std::string& text) {
  Send(tds::PacketType::kSqlBatch, BuildBatch(text, version_));
  auto response = Receive();
  if (!response) throw std::runtime_error("connection closed during a batch");
  return ParseTokens(response->body, version_);
}

}  // namespace sqlengine::testing
