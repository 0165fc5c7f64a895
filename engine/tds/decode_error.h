#pragma once
// The one failure the codec reports: the bytes a peer sent do not form a valid
// message (truncated, lying lengths, unknown types, invalid UTF-16 ...).

#include <cstdint>
#include <stdexcept>
#include <string>

namespace sqlengine::tds {

class DecodeError : public std::runtime_error {
 public:
  explicit DecodeError(const std::string& what) : std::runtime_error(what) {}
};

// The message ended before what its bytes announced (a length, a field).
class Truncated : public DecodeError {
 public:
  explicit Truncated(const std::string& what) : DecodeError(what) {}
};

// Bytes that frame correctly but are no valid value of their type (a decimal
// beyond 38 digits, a date out of range). Callers that could frame the value
// may answer with an error and go on reading.
class InvalidValue : public DecodeError {
 public:
  explicit InvalidValue(const std::string& what) : DecodeError(what) {}
};

// "0xA7": how a type code appears in logs and messages.
std::string HexCode(std::uint8_t code);

}  // namespace sqlengine::tds
