#include "engine/tds/prelogin.h"

#include "engine/tds/byte_reader.h"
#include "engine/tds/byte_writer.h"
#include "engine/tds/server_identity.h"

namespace sqlengine::tds {
namespace {

enum Option : std::uint8_t {
  kVersion = 0,
  kEncryption = 1,
  kInstance = 2,
  kThreadId = 3,
  kMars = 4,
  kTerminator = 0xFF
};

}  // namespace

PreloginRequest DecodePrelogin(std::span<const std::uint8_t> body) {
  PreloginRequest request;
  ByteReader table(body);
  for (;;) {
    std::uint8_t option = table.U8();
    if (option == kTerminator) break;
    std::uint16_t offset = table.U16Be();
    std::uint16_t length = table.U16Be();
    if (static_cast<std::size_t>(offset) + length > body.size()) {
      throw DecodeError("PRELOGIN option points outside the message");
    }
    auto data = body.subspan(offset, length);
    switch (option) {
      case kVersion:
        request.client_version.assign(data.begin(), data.end());
        break;
      case kEncryption:
        if (length < 1) throw DecodeError("PRELOGIN ENCRYPTION without a value");
        request.encryption = data[0];
        break;
      case kInstance:
        for (std::uint8_t c : data) {
          if (c == 0) break;
          request.instance.push_back(static_cast<char>(c));
        }
        break;
      case kMars:
        if (length >= 1) request.mars = data[0] != 0;
        break;
      default:
        break;  // THREADID, TRACEID, FEDAUTHREQUIRED, NONCEOPT: not used
    }
  }
  return request;
}

EncryptionAgreement NegotiateEncryption(std::optional<std::uint8_t> client,
                                        ServerEncryption server) {
  const std::uint8_t value = client.value_or(static_cast<std::uint8_t>(Encryption::kNotSupported));
  const auto level = static_cast<Encryption>(value & ~kEncryptClientCert);
  const bool wants_certificate_login = (value & kEncryptClientCert) != 0;
  const bool known_level = level == Encryption::kOff || level == Encryption::kOn ||
                           level == Encryption::kNotSupported || level == Encryption::kRequired;
  EncryptionAgreement agreement;
  if (server == ServerEncryption::kUnavailable || !known_level) {
    // Only a client content without encryption may go on.
    agreement.refused = wants_certificate_login || !known_level || level == Encryption::kOn ||
                        level == Encryption::kRequired;
    return agreement;
  }
  const bool required = server == ServerEncryption::kRequired;
  switch (level) {
    case Encryption::kOff:
      agreement.answer = required ? Encryption::kRequired : Encryption::kOff;
      agreement.scope = required ? EncryptionScope::kWholeConnection : EncryptionScope::kLoginOnly;
      break;
    case Encryption::kOn:
    case Encryption::kRequired:
      agreement.answer = Encryption::kOn;
      agreement.scope = EncryptionScope::kWholeConnection;
      break;
    case Encryption::kNotSupported:
      // A certificate login needs TLS, which the client says it cannot do.
      if (wants_certificate_login || required) {
        agreement.answer = Encryption::kRequired;
        agreement.refused = true;
      }
      break;
  }
  return agreement;
}

std::vector<std::uint8_t> EncodePreloginResponse(Encryption encryption) {
  struct Entry {
    std::uint8_t option;
    std::vector<std::uint8_t> data;
  };
  const std::vector<Entry> entries = {
      {kVersion,
       {kProductVersion[0], kProductVersion[1], kProductVersion[2], kProductVersion[3], 0, 0}},
      {kEncryption, {static_cast<std::uint8_t>(encryption)}},
      {kInstance, {0}},
      {kThreadId, {}},
      {kMars, {0}},
  };
  ByteWriter out;
  std::uint16_t offset = static_cast<std::uint16_t>(entries.size() * 5 + 1);
  for (const Entry& e : entries) {
    out.U8(e.option);
    out.U16Be(offset);
    out.U16Be(static_cast<std::uint16_t>(e.data.size()));
    offset = static_cast<std::uint16_t>(offset + e.data.size());
  }
  out.U8(kTerminator);
  for (const Entry& e : entries) out.Append(e.data);
  return std::move(out.Bytes());
}

}  // namespace sqlengine::tds
