#pragma once
// LOGIN7 (packet 0x10) in the 7.0/7.1 (86-byte fixed part) and 7.2+ (94-byte)
// layouts. FeatureExt and SSPI data are skipped.

#include <cstdint>
#include <span>
#include <string>

#include "engine/common/engine_api.h"

namespace sqlengine::tds {

struct Login7 {
  std::uint32_t tds_version = 0;  // as sent (0x74000004 for 7.4)
  std::uint32_t packet_size = 0;  // requested; 0 means the server default
  std::uint32_t client_pid = 0;
  std::uint8_t option_flags1 = 0;
  std::uint8_t option_flags2 = 0;
  std::uint8_t type_flags = 0;
  std::uint8_t option_flags3 = 0;
  std::string server_name;
  std::string library_name;
  std::string language;
  LoginRequest request;  // user, de-obfuscated password, database, app, host, integrated
};

inline constexpr std::uint8_t kIntegratedSecurity = 0x80;  // OptionFlags2
inline constexpr std::uint8_t kOdbcClient = 0x02;          // OptionFlags2: fODBC

// Throws DecodeError for a truncated fixed part, strings that point outside
// the message, or invalid UTF-16 in any string.
Login7 DecodeLogin7(std::span<const std::uint8_t> body);

// Reverses the client's password obfuscation (XOR 0xA5, nibble swap); also
// the obfuscation itself with the steps in the other order.
std::uint8_t DeobfuscatePasswordByte(std::uint8_t b);
std::uint8_t ObfuscatePasswordByte(std::uint8_t b);

}  // namespace sqlengine::tds
