#pragma once
// PRELOGIN (packet 0x12): what the client offers, how encryption is agreed,
// and what the engine answers.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sqlengine::tds {

enum class Encryption : std::uint8_t { kOff = 0, kOn = 1, kNotSupported = 2, kRequired = 3 };

// Set in the client's ENCRYPTION value when it asks to log in with a
// certificate (not offered here; the password login goes on).
inline constexpr std::uint8_t kEncryptClientCert = 0x80;

struct PreloginRequest {
  std::optional<std::uint8_t> encryption;  // as sent, flags included
  std::string instance;                    // INSTOPT without its NUL
  std::optional<bool> mars;
  std::vector<std::uint8_t> client_version;
};

// Throws DecodeError for a malformed option table.
PreloginRequest DecodePrelogin(std::span<const std::uint8_t> body);

enum class EncryptionScope { kNone, kLoginOnly, kWholeConnection };

struct EncryptionAgreement {
  Encryption answer = Encryption::kNotSupported;  // the server's ENCRYPTION value
  EncryptionScope scope = EncryptionScope::kNone;
  bool refused = false;  // the answer is sent, then the connection is closed
};

// How the server is set: no TLS at all (ENCRYPT_NOT_SUP), TLS offered with
// at least the login encrypted when the client can (ENCRYPT_OFF), or every
// connection encrypted (ENCRYPT_ON).
enum class ServerEncryption { kUnavailable, kOffered, kRequired };

// The server's side of the ENCRYPTION exchange. A client without the option
// counts as ENCRYPT_NOT_SUP.
EncryptionAgreement NegotiateEncryption(std::optional<std::uint8_t> client,
                                        ServerEncryption server);

// The reply body: VERSION (our product version), ENCRYPTION = `encryption`,
// INSTOPT 0 (any instance name is accepted), THREADID empty, MARS off.
std::vector<std::uint8_t> EncodePreloginResponse(Encryption encryption);

}  // namespace sqlengine::tds
