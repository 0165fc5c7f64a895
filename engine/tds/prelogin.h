#pragma once
// PRELOGIN (packet 0x12): what the client offers and what the engine answers.
// Encryption is never supported, so the answer always says NOT_SUP.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sqlengine::tds {

enum class Encryption : std::uint8_t { kOff = 0, kOn = 1, kNotSupported = 2, kRequired = 3 };

struct PreloginRequest {
  std::optional<Encryption> encryption;
  std::string instance;  // INSTOPT without its NUL
  std::optional<bool> mars;
  std::vector<std::uint8_t> client_version;
};

// Throws DecodeError for a malformed option table.
PreloginRequest DecodePrelogin(std::span<const std::uint8_t> body);

// The reply body: VERSION (our product version), ENCRYPTION = NOT_SUP,
// INSTOPT 0 (any instance name is accepted), THREADID empty, MARS off.
std::vector<std::uint8_t> EncodePreloginResponse();

}  // namespace sqlengine::tds
