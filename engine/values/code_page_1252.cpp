#include "engine/values/code_page_1252.h"

#include <array>

namespace sqlengine::values {
namespace {

// Bytes 0x80..0x9F; 0 marks the five unassigned positions.
constexpr std::array<char16_t, 32> kHighBytes = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

}  // namespace

char32_t Cp1252ToCodePoint(std::uint8_t byte) {
  if (byte >= 0x80 && byte <= 0x9F && kHighBytes[byte - 0x80] != 0) return kHighBytes[byte - 0x80];
  return byte;
}

std::optional<std::uint8_t> CodePointToCp1252(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<std::uint8_t>(c);
  for (std::size_t k = 0; k < kHighBytes.size(); ++k) {
    if (kHighBytes[k] != 0 && kHighBytes[k] == c) return static_cast<std::uint8_t>(0x80 + k);
  }
  return std::nullopt;
}

}  // namespace sqlengine::values
