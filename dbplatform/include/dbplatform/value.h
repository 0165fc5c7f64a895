#pragma once
// A data value as the data access objects hand it out and take it in.

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace dbplatform {

struct DateTime {
  int year = 1900, month = 1, day = 1, hour = 0, minute = 0, second = 0, millisecond = 0;
  friend bool operator==(const DateTime&, const DateTime&) = default;
};

using Bytes = std::vector<std::uint8_t>;

struct Null {
  friend bool operator==(const Null&, const Null&) = default;
};

// Integers keep their width so that a procedure parameter can be bound as a
// 16-bit integer; decimals keep the server's exact text (e.g. "12.50").
struct DecimalText {
  std::string text;
  friend bool operator==(const DecimalText&, const DecimalText&) = default;
};

using Value = std::variant<Null, bool, std::int16_t, std::int32_t, std::int64_t, double,
                           DecimalText, std::string, Bytes, DateTime>;

// The usual text form: integers in decimal, floating values as the shortest
// text that reads back the same, dates as YYYY-MM-DD hh:mm:ss[.fff], bytes as
// 0x + upper-case hex, booleans as True/False, null as the empty text.
std::string ToText(const Value& value);
// Appends ToText(value) to `out`, for callers that build one text of many values.
void AppendText(const Value& value, std::string& out);

inline bool IsNull(const Value& value) { return std::holds_alternative<Null>(value); }

}  // namespace dbplatform
