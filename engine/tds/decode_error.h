#pragma once
// The one failure the codec reports: the bytes a peer sent do not form a valid
// message (truncated, lying lengths, unknown types, invalid UTF-16 ...).

#include <stdexcept>
#include <string>

namespace sqlengine::tds {

class DecodeError : public std::runtime_error {
 public:
  explicit DecodeError(const std::string& what) : std::runtime_error(what) {}
};

}  // namespace sqlengine::tds
