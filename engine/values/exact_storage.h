#pragma once
// The stored ("raw") form of decimal, numeric, money and smallmoney values:
//  - money, smallmoney and decimal(p, s) with p <= 18: a 64-bit integer,
//    the value times 10^s (money and smallmoney: s = 4);
//  - decimal(p, s) with p > 18: the 16-byte OrderedKey of the value at s.
// Values of one type compare, sort and index in their raw form as numbers
// (integers) or byte strings (keys) do, so SQLite needs no help for that.
// Decoding never checks a range (an integer SUM of a column is a raw value
// of more digits than the column's); encoding always does.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "engine/common/types.h"

namespace sqlengine::values {

using ExactKey = std::array<std::uint8_t, 16>;
using RawExact = std::variant<std::int64_t, ExactKey>;

// decimal (numeric), money and smallmoney.
bool IsExactType(SqlType type);

// True when values of `type` are stored as 64-bit integers, false for keys.
bool StoredAsInteger(const ColumnType& type);

// The scale a type's raw values carry: 4 for money and smallmoney.
int RawScale(const ColumnType& type);

// The digits a value of the type may have at that scale: its precision;
// money 19, smallmoney 10 (whose ranges are narrower still).
int DigitsOf(const ColumnType& type);

// Whether `value` (at any scale) lies in the range of `type` once rounded
// to its scale: precision digits, or money's and smallmoney's integer range.
bool InTypeRange(const Decimal& value, const ColumnType& type);

enum class ExactFault { kNone, kOverflow, kNotANumber };

struct RawResult {
  RawExact raw;
  ExactFault fault = ExactFault::kNone;
};

// `value` rounded half away from zero to the type's scale; kOverflow when
// it then lies outside the type's range.
RawResult ToRaw(const Decimal& value, const ColumnType& type);

// The value a raw form of `type` stands for, at the type's scale.
Decimal FromRaw(const RawExact& raw, const ColumnType& type);

// A number written as text ("[+|-]digits[.digits]", blanks around) in the
// raw form of `type`: kNotANumber for other text, kOverflow past the range.
RawResult RawFromText(std::string_view text, const ColumnType& type);

// Every digit of the type's scale, no exponent: "-12.50".
std::string RawText(const RawExact& raw, const ColumnType& type);

// The nearest double.
double RawToDouble(const RawExact& raw, const ColumnType& type);

}  // namespace sqlengine::values
