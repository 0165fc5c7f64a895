#pragma once
// UTF-8, the engine's form of all text: one code point at a time.

#include <cstddef>
#include <string>
#include <string_view>

namespace sqlengine::values {

// Appends the code point's UTF-8 bytes.
void AppendUtf8(char32_t c, std::string& out);

// Decodes one code point starting at utf8[i] and advances i; a malformed
// sequence yields U+FFFD and consumes one byte. i must be below the size.
char32_t NextCodePoint(std::string_view utf8, std::size_t& i);

}  // namespace sqlengine::values
