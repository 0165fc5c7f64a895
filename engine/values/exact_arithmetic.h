#pragma once
// Exact arithmetic on decimal, numeric and money values, to SQL Server's
// rules: the caller (the binder) decides the result's precision and scale by
// the type rules; these functions compute the exact value at that scale and
// say when it does not fit. Intermediate products and quotients use 256 bits,
// so no operation on 38-digit operands loses a digit before the final
// rounding.

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
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

// The unscaled value of the 16 key bytes at `key`.
inline __int128 OrderedKeyValue(const std::uint8_t* key) {
  static_assert(std::endian::native == std::endian::little);
  std::uint64_t high, low;
  std::memcpy(&high, key, 8);
  std::memcpy(&low, key + 8, 8);
  unsigned __int128 bits =
      (static_cast<unsigned __int128>(__builtin_bswap64(high)) << 64) | __builtin_bswap64(low);
  return static_cast<__int128>(bits ^ (static_cast<unsigned __int128>(1) << 127));
}

// SUM and AVG over decimals: an exact running total. SUM's result is
// decimal(38, s) and overflows past 38 digits; AVG's scale is max(s, 6) and
// its quotient is truncated like any decimal division.
class DecimalSum {
 public:
  // False (and the total is lost) when the total passes 38 digits.
  bool Add(const Decimal& value);
  // Add for a column's values, which all share the scale given once to
  // SetScale before the first: no scales to align, nothing to call.
  void SetScale(int scale) { scale_ = scale; }
  bool AddAtScale(__int128 unscaled) {
    if (overflowed_) return false;
    ++count_;
    if (__builtin_add_overflow(total_, unscaled, &total_) || total_ >= kLimit || total_ <= -kLimit)
      overflowed_ = true;
    return !overflowed_;
  }
  std::int64_t Count() const { return count_; }
  // nullopt when nothing was added.
  std::optional<Decimal> Total() const;
  std::optional<Decimal> Average(int scale) const;

 private:
  __int128 total_ = 0;
  int scale_ = -1;
  std::int64_t count_ = 0;
  bool overflowed_ = false;
  // 10^38: the first total of 39 digits.
  static constexpr __int128 kLimit = static_cast<__int128>(10'000'000'000'000'000'000ULL) *
                                     static_cast<__int128>(10'000'000'000'000'000'000ULL);
};

}  // namespace sqlengine::values
