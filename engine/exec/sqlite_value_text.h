#pragma once
// The text of an SQLite value as an engine function receives it, the text it
// returns, and character positions in UTF-8 text.

#include <sqlite3.h>

#include <string>
#include <string_view>

namespace sqlengine::exec {

// The value's UTF-8 text (bytes included past any NUL); empty for NULL.
inline std::string SqliteValueText(sqlite3_value* value) {
  const unsigned char* text = sqlite3_value_text(value);
  return text ? std::string(reinterpret_cast<const char*>(text),
                            static_cast<size_t>(sqlite3_value_bytes(value)))
              : std::string();
}

inline void SqliteResultText(sqlite3_context* context, std::string_view text) {
  sqlite3_result_text(context, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

// Number of characters in UTF-8 text.
inline size_t Utf8CharacterCount(std::string_view text) {
  size_t count = 0;
  for (char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return count;
}

// The byte offset of character `characters` (the size when there are fewer).
inline size_t Utf8ByteOffset(std::string_view text, size_t characters) {
  size_t i = 0;
  while (i < text.size() && characters > 0) {
    ++i;
    while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) ++i;
    --characters;
  }
  return i;
}

}  // namespace sqlengine::exec
