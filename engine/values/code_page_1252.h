#pragma once
// Windows-1252, the code page of non-Unicode character data in the server's
// collation: what a byte of varchar data is as a Unicode character, and back.

#include <cstdint>
#include <optional>

namespace sqlengine::values {

// The five unassigned bytes (0x81, 0x8D, 0x8F, 0x90, 0x9D) stand for the C1
// control characters of the same number, as Windows converts them.
char32_t Cp1252ToCodePoint(std::uint8_t byte);

// nullopt for a character the code page does not have.
std::optional<std::uint8_t> CodePointToCp1252(char32_t c);

}  // namespace sqlengine::values
