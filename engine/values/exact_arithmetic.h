#pragma once
// Exact arithmetic on decimal, numeric and money values, to SQL Server's
// rules: the caller (the binder) decides the result's precision and scale by
// the type rules; these functions compute the exact value at that scale and
// say when it does not fit. Intermediate products and quotients use 256 bits,
// so no operation on 38-digit operands loses a digit before the final
// rounding.

#include <array>
#include <cstdint>
#include <optional>

#include "engine/common/types.h"

namespace sqlengine::values {

// Why an operation has no value: the caller reports 8115 or 8134.
enum class ArithmeticFault { kNone, kOverflow, kDivideByZero };

struct ExactResult {
  Decimal value;
  ArithmeticFault fault = ArithmeticFault::kNone;
};

// Sums and differences are exact before they are rounded (half away from
// zero) to `scale`; kOverflow when more than `precision` digits remain.
ExactResult Add(const Decimal& a, const Decimal& b, int precision, int scale);
ExactResult Subtract(const Decimal& a, const Decimal& b, int precision, int scale);

// The full product, rounded half away from zero to `scale`.
ExactResult Multiply(const Decimal& a, const Decimal& b, int precision, int scale);

// The quotient truncated toward zero at `scale`, as SQL Server divides.
ExactResult Divide(const Decimal& a, const Decimal& b, int precision, int scale);

// a - b * trunc(a / b), with the sign of a, at `scale`.
ExactResult Remainder(const Decimal& a, const Decimal& b, int precision, int scale);

// -1, 0 or 1 by value, whatever the two scales.
int Compare(const Decimal& a, const Decimal& b);

// True when the value has at most `precision` digits at its own scale.
bool FitsPrecision(const Decimal& value, int precision);

// money's and smallmoney's ranges, for a value at scale 4.
bool FitsMoney(const Decimal& value);
bool FitsSmallMoney(const Decimal& value);

// Sixteen bytes whose byte order is the numeric order of values that share
// one scale, as a column's values do: a key SQLite can sort, compare and
// index as a BLOB for decimals wider than 64 bits.
std::array<std::uint8_t, 16> OrderedKey(const Decimal& value);
Decimal FromOrderedKey(const std::array<std::uint8_t, 16>& key, int scale);

// SUM and AVG over decimals: an exact running total. SUM's result is
// decimal(38, s) and overflows past 38 digits; AVG's scale is max(s, 6) and
// its quotient is truncated like any decimal division.
class DecimalSum {
 public:
  // False (and the total is lost) when the total passes 38 digits.
  bool Add(const Decimal& value);
  std::int64_t Count() const { return count_; }
  // nullopt when nothing was added.
  std::optional<Decimal> Total() const;
  std::optional<Decimal> Average(int scale) const;

 private:
  __int128 total_ = 0;
  int scale_ = -1;
  std::int64_t count_ = 0;
  bool overflowed_ = false;
};

}  // namespace sqlengine::values
