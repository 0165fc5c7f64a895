#pragma once
// Byte tables written as hex text ("12 01 00 2F ...").

#include <cstdint>
#include <string_view>
#include <vector>

namespace sqlengine::testing {

inline std::vector<std::uint8_t> Hex(std::string_view text) {
  std::vector<std::uint8_t> out;
  int high = -1;
  for (char c : text) {
    int v = c >= '0' && c <= '9'   ? c - '0'
            : c >= 'A' && c <= 'F' ? c - 'A' + 10
            : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                   : -1;
    if (v < 0) continue;
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<std::uint8_t>(high * 16 + v));
      high = -1;
    }
  }
  return out;
}

}  // namespace sqlengine::testing
