#pragma once
// A raw TDS client for tests: builds requests byte by byte, sends them in
// packets of a chosen size, and parses the server's token stream, so tests
// can check exactly what the server sends.

#include <openssl/ssl.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "engine/common/types.h"
#include "engine/tds/packet.h"
#include "engine/tds/tokens.h"
#include "engine/tds/version.h"

namespace sqlengine::testing {

struct LoginOptions {
  std::string user = "sa";
  std::string password;
  std::string database;
  std::uint32_t tds_version = 0x74000004;
  std::uint32_t packet_size = 4096;
  bool integrated = false;
};

std::vector<std::uint8_t> BuildLogin7(const LoginOptions& options);
// SQL batch body; from 7.2 with ALL_HEADERS carrying `descriptor`.
std::vector<std::uint8_t> BuildBatch(const std::string& text, tds::TdsVersion version,
                                     std::uint64_t descriptor = 0);
std::vector<std::uint8_t> AllHeaders(std::uint64_t descriptor);

struct Event {
  tds::Token token{};
  // DONE*
  std::uint16_t status = 0;
  std::uint64_t count = 0;
  // INFO / ERROR
  std::int32_t number = 0;
  int message_class = 0;
  std::string text;
  std::int32_t line = 0;
  // LOGINACK
  std::uint32_t version = 0;
  // ENVCHANGE
  int env_type = 0;
  std::string env_new, env_old;
  std::uint64_t descriptor = 0;
  // COLMETADATA / ROW / RETURNVALUE / RETURNSTATUS
  std::vector<std::string> columns;
  std::vector<tds::TypeInfo> types;
  Row values;
  std::int32_t return_status = 0;
  int ordinal = 0;
};

// Parses a whole response. Widths follow `version` until a LOGINACK switches
// them. Throws tds::DecodeError for anything it cannot parse.
std::vector<Event> ParseTokens(std::span<const std::uint8_t> body, tds::TdsVersion version);

struct Response {
  std::vector<tds::PacketHeader> headers;
  std::vector<std::uint8_t> body;
};

class TdsClient {
 public:
  explicit TdsClient(int port);
  ~TdsClient();
  TdsClient(const TdsClient&) = delete;
  TdsClient& operator=(const TdsClient&) = delete;

  void Send(tds::PacketType type, std::span<const std::uint8_t> body,
            std::size_t packet_size = 4096);
  void SendRaw(std::span<const std::uint8_t> bytes);
  // One response message; nullopt when the server closed the connection.
  // Fails the test after 20 s without data.
  std::optional<Response> Receive();
  // True when the server closes the connection within 20 s.
  bool WaitForClose();

  // Sends PRELOGIN offering `encryption` (ENCRYPTION option value); returns
  // the server's ENCRYPTION answer, nullopt when the connection closed.
  std::optional<std::uint8_t> Prelogin(std::uint8_t encryption);
  // The TLS handshake inside PRELOGIN packets, checking the server's
  // certificate against `trusted` for the name localhost; from then on every
  // byte is encrypted. Fails the test when the handshake fails.
  void StartTls(const std::filesystem::path& trusted);
  // Back to clear text, as a client does after an encrypted LOGIN7.
  void StopTls();

  // PRELOGIN then LOGIN7; returns the login response.
  Response Login(const LoginOptions& options = {});
  // Logs in and checks that it worked; the version the LOGINACK agreed to is kept.
  void LoginOrFail(const LoginOptions& options = {});
  std::vector<Event> Batch(const std::string& text);
  tds::TdsVersion version() const { return version_; }
  void set_version(tds::TdsVersion v) { version_ = v; }

 private:
  bool ReadExactly(std::uint8_t* data, std::size_t size);
  bool ReceiveCiphertext();
  void SendCiphertext();

  int fd_ = -1;
  tds::TdsVersion version_ = tds::TdsVersion::k74;
  SSL_CTX* tls_context_ = nullptr;
  SSL* tls_ = nullptr;  // set while encrypting
  BIO* from_server_ = nullptr;
  BIO* to_server_ = nullptr;
};

// Reads responses until one ends in DONE(ATTN), as a client does after it
// sent ATTENTION. False when the connection closed first.
bool DrainUntilAttentionAck(TdsClient& client);

// Polls `condition` until it holds or `seconds` pass.
template <typename Condition>
bool Eventually(Condition condition, int seconds = 20) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return condition();
}

// The token of each event, in order.
std::vector<tds::Token> TokenOrder(const std::vector<Event>& events);

// The events of one kind, in order.
std::vector<Event> Only(const std::vector<Event>& events, tds::Token token);

}  // namespace sqlengine::testing
