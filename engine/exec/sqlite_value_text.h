#pragma once
// The text of an SQLite value as an engine function receives it.

#include <sqlite3.h>

#include <string>

namespace sqlengine::exec {

// The value's UTF-8 text (bytes included past any NUL); empty for NULL.
inline std::string SqliteValueText(sqlite3_value* value) {
  const unsigned char* text = sqlite3_value_text(value);
  return text ? std::string(reinterpret_cast<const char*>(text),
                            static_cast<size_t>(sqlite3_value_bytes(value)))
              : std::string();
}

}  // namespace sqlengine::exec
