#include "engine/values/exact_arithmetic.h"

#include <algorithm>
#include <array>

namespace sqlengine::values {
namespace {

using u128 = unsigned __int128;

constexpr int kMaxDigits = 38;

constexpr std::array<u128, kMaxDigits + 1> kPowersOfTen = [] {
  std::array<u128, kMaxDigits + 1> powers{};
  powers[0] = 1;
  for (int i = 1; i <= kMaxDigits; ++i) powers[i] = powers[i - 1] * 10;
  return powers;
}();

// 10^exponent for exponent <= 38 (1 below 0), from a table: sums call it per row.
u128 PowerOfTen(int exponent) {
  return exponent <= 0 ? 1 : kPowersOfTen[static_cast<size_t>(std::min(exponent, kMaxDigits))];
}

// An unsigned 256-bit magnitude, four 64-bit limbs, least significant first.
// Enough for the product of two 38-digit numbers (< 10^76 < 2^256).
struct Wide {
  std::array<std::uint64_t, 4> limbs{};

  static Wide From(u128 value) {
    Wide w;
    w.limbs[0] = static_cast<std::uint64_t>(value);
    w.limbs[1] = static_cast<std::uint64_t>(value >> 64);
    return w;
  }
  bool FitsIn128() const { return limbs[2] == 0 && limbs[3] == 0; }
  u128 Low128() const { return (static_cast<u128>(limbs[1]) << 64) | limbs[0]; }
  bool IsZero() const {
    return std::all_of(limbs.begin(), limbs.end(), [](auto l) { return !l; });
  }
};

int CompareWide(const Wide& a, const Wide& b) {
  for (int i = 3; i >= 0; --i) {
    if (a.limbs[i] != b.limbs[i]) return a.limbs[i] < b.limbs[i] ? -1 : 1;
  }
  return 0;
}

// False when the sum passes 256 bits.
bool AddWide(Wide& a, const Wide& b) {
  u128 carry = 0;
  for (int i = 0; i < 4; ++i) {
    u128 sum = static_cast<u128>(a.limbs[i]) + b.limbs[i] + carry;
    a.limbs[i] = static_cast<std::uint64_t>(sum);
    carry = sum >> 64;
  }
  return carry == 0;
}

// a -= b, for a >= b.
void SubtractWide(Wide& a, const Wide& b) {
  std::uint64_t borrow = 0;
  for (int i = 0; i < 4; ++i) {
    u128 subtrahend = static_cast<u128>(b.limbs[i]) + borrow;
    borrow = static_cast<u128>(a.limbs[i]) < subtrahend ? 1 : 0;
    a.limbs[i] = static_cast<std::uint64_t>(static_cast<u128>(a.limbs[i]) - subtrahend);
  }
}

// False when the product passes 256 bits.
bool MultiplySmall(Wide& a, std::uint64_t factor) {
  u128 carry = 0;
  for (int i = 0; i < 4; ++i) {
    u128 product = static_cast<u128>(a.limbs[i]) * factor + carry;
    a.limbs[i] = static_cast<std::uint64_t>(product);
    carry = product >> 64;
  }
  return carry == 0;
}

// a /= divisor; returns the remainder.
std::uint64_t DivideSmall(Wide& a, std::uint64_t divisor) {
  u128 remainder = 0;
  for (int i = 3; i >= 0; --i) {
    u128 part = (remainder << 64) | a.limbs[i];
    a.limbs[i] = static_cast<std::uint64_t>(part / divisor);
    remainder = part % divisor;
  }
  return static_cast<std::uint64_t>(remainder);
}

Wide MultiplyFull(u128 a, u128 b) {
  Wide result;
  const std::uint64_t x[2] = {static_cast<std::uint64_t>(a), static_cast<std::uint64_t>(a >> 64)};
  const std::uint64_t y[2] = {static_cast<std::uint64_t>(b), static_cast<std::uint64_t>(b >> 64)};
  for (int i = 0; i < 2; ++i) {
    u128 carry = 0;
    for (int j = 0; j < 2; ++j) {
      u128 sum = static_cast<u128>(x[i]) * y[j] + result.limbs[i + j] + carry;
      result.limbs[i + j] = static_cast<std::uint64_t>(sum);
      carry = sum >> 64;
    }
    result.limbs[i + 2] = static_cast<std::uint64_t>(carry);
  }
  return result;
}

// False when value * 10^exponent passes 256 bits.
bool ScaleUp(Wide& value, int exponent) {
  for (; exponent > 0; exponent -= 19) {
    if (!MultiplySmall(value, static_cast<std::uint64_t>(PowerOfTen(std::min(exponent, 19)))))
      return false;
  }
  return true;
}

// value / 10^exponent, rounded half away from zero (on the magnitude).
void ScaleDownRounded(Wide& value, int exponent) {
  if (exponent <= 0) return;
  for (int left = exponent - 1; left > 0; left -= 19)
    DivideSmall(value, static_cast<std::uint64_t>(PowerOfTen(std::min(left, 19))));
  std::uint64_t dropped = DivideSmall(value, 10);
  if (dropped >= 5) AddWide(value, Wide::From(1));
}

u128 Magnitude(__int128 value) {
  return value < 0 ? static_cast<u128>(-value) : static_cast<u128>(value);
}

// A signed wide result brought to `scale` from `from_scale` and checked
// against `precision`.
ExactResult Finish(Wide magnitude, bool negative, int from_scale, int precision, int scale) {
  if (from_scale < scale) {
    if (!ScaleUp(magnitude, scale - from_scale)) return {{}, ArithmeticFault::kOverflow};
  } else {
    ScaleDownRounded(magnitude, from_scale - scale);
  }
  if (!magnitude.FitsIn128() || magnitude.Low128() >= PowerOfTen(std::min(precision, kMaxDigits)))
    return {{}, ArithmeticFault::kOverflow};
  __int128 unscaled = static_cast<__int128>(magnitude.Low128());
  return {{negative ? -unscaled : unscaled, scale}, ArithmeticFault::kNone};
}

// a and b brought to their common scale as wide magnitudes.
struct Aligned {
  Wide a, b;
  int scale;
};

Aligned Align(const Decimal& a, const Decimal& b) {
  Aligned aligned{Wide::From(Magnitude(a.unscaled)), Wide::From(Magnitude(b.unscaled)),
                  std::max(a.scale, b.scale)};
  // Both stay below 10^38 * 10^38, well inside 256 bits.
  ScaleUp(aligned.a, aligned.scale - a.scale);
  ScaleUp(aligned.b, aligned.scale - b.scale);
  return aligned;
}

ExactResult SignedSum(const Decimal& a, const Decimal& b, bool subtract, int precision, int scale) {
  Aligned aligned = Align(a, b);
  bool a_negative = a.unscaled < 0;
  bool b_negative = (b.unscaled < 0) != subtract && b.unscaled != 0;
  if (a_negative == b_negative) {
    AddWide(aligned.a, aligned.b);
    return Finish(aligned.a, a_negative, aligned.scale, precision, scale);
  }
  if (CompareWide(aligned.a, aligned.b) >= 0) {
    SubtractWide(aligned.a, aligned.b);
    return Finish(aligned.a, a_negative, aligned.scale, precision, scale);
  }
  SubtractWide(aligned.b, aligned.a);
  return Finish(aligned.b, b_negative, aligned.scale, precision, scale);
}

// trunc(a * 10^exponent / b) for magnitudes, one decimal digit at a time so
// the numerator never has to exist; nullopt once the quotient passes
// `limit`. Also gives the final remainder (scaled as the quotient).
struct Quotient {
  u128 value;
  Wide remainder;
};

std::optional<Quotient> LongDivide(u128 a, int exponent, u128 b, u128 limit) {
  if (exponent < 0) {
    // trunc(trunc(a / 10^k) / b) is trunc(a / (10^k b)).
    a = -exponent > kMaxDigits ? 0 : a / PowerOfTen(-exponent);
    exponent = 0;
  }
  u128 quotient = a / b;
  if (quotient >= limit) return std::nullopt;
  Wide remainder = Wide::From(a % b);
  const Wide divisor = Wide::From(b);
  for (int i = 0; i < exponent; ++i) {
    MultiplySmall(remainder, 10);  // below 10 * 2^127
    unsigned digit = 0;
    while (CompareWide(remainder, divisor) >= 0) {
      SubtractWide(remainder, divisor);
      ++digit;
    }
    quotient = quotient * 10 + digit;
    if (quotient >= limit) return std::nullopt;
  }
  return Quotient{quotient, remainder};
}

}  // namespace

ExactResult Add(const Decimal& a, const Decimal& b, int precision, int scale) {
  return SignedSum(a, b, false, precision, scale);
}

ExactResult Subtract(const Decimal& a, const Decimal& b, int precision, int scale) {
  return SignedSum(a, b, true, precision, scale);
}

ExactResult Multiply(const Decimal& a, const Decimal& b, int precision, int scale) {
  Wide product = MultiplyFull(Magnitude(a.unscaled), Magnitude(b.unscaled));
  bool negative = (a.unscaled < 0) != (b.unscaled < 0) && !product.IsZero();
  return Finish(product, negative, a.scale + b.scale, precision, scale);
}

ExactResult Divide(const Decimal& a, const Decimal& b, int precision, int scale) {
  if (b.unscaled == 0) return {{}, ArithmeticFault::kDivideByZero};
  // a/10^s1 / (b/10^s2) at scale S is trunc(a * 10^(S - s1 + s2) / b).
  std::optional<Quotient> quotient =
      LongDivide(Magnitude(a.unscaled), scale - a.scale + b.scale, Magnitude(b.unscaled),
                 PowerOfTen(std::min(precision, kMaxDigits)));
  if (!quotient) return {{}, ArithmeticFault::kOverflow};
  __int128 unscaled = static_cast<__int128>(quotient->value);
  bool negative = (a.unscaled < 0) != (b.unscaled < 0);
  return {{negative ? -unscaled : unscaled, scale}, ArithmeticFault::kNone};
}

ExactResult Remainder(const Decimal& a, const Decimal& b, int precision, int scale) {
  if (b.unscaled == 0) return {{}, ArithmeticFault::kDivideByZero};
  Aligned aligned = Align(a, b);
  // Both magnitudes are below 2^256; the whole quotient is not needed, only
  // what is left of a after taking b out as often as it goes.
  Wide left = aligned.a;
  if (aligned.b.FitsIn128() && left.FitsIn128()) {
    left = Wide::From(left.Low128() % aligned.b.Low128());
  } else {
    // Shift-and-subtract on the wide magnitudes.
    Wide divisor = aligned.b;
    int shifts = 0;
    while (CompareWide(divisor, left) <= 0 && !(divisor.limbs[3] >> 63)) {
      MultiplySmall(divisor, 2);
      ++shifts;
    }
    for (; shifts >= 0; --shifts) {
      if (CompareWide(left, divisor) >= 0) SubtractWide(left, divisor);
      DivideSmall(divisor, 2);
    }
  }
  return Finish(left, a.unscaled < 0 && !left.IsZero(), aligned.scale, precision, scale);
}

int Compare(const Decimal& a, const Decimal& b) {
  bool a_negative = a.unscaled < 0, b_negative = b.unscaled < 0;
  if (a_negative != b_negative) return a_negative ? -1 : 1;
  Aligned aligned = Align(a, b);
  int by_magnitude = CompareWide(aligned.a, aligned.b);
  return a_negative ? -by_magnitude : by_magnitude;
}

bool FitsPrecision(const Decimal& value, int precision) {
  return Magnitude(value.unscaled) < PowerOfTen(std::min(precision, kMaxDigits));
}

bool FitsMoney(const Decimal& value) {
  return value.unscaled >= INT64_MIN && value.unscaled <= INT64_MAX;
}

bool FitsSmallMoney(const Decimal& value) {
  return value.unscaled >= INT32_MIN && value.unscaled <= INT32_MAX;
}

std::array<std::uint8_t, 16> OrderedKey(const Decimal& value) {
  // Two's complement with the sign bit flipped sorts as unsigned bytes.
  u128 bits = static_cast<u128>(value.unscaled) ^ (static_cast<u128>(1) << 127);
  std::uint64_t high = __builtin_bswap64(static_cast<std::uint64_t>(bits >> 64));
  std::uint64_t low = __builtin_bswap64(static_cast<std::uint64_t>(bits));
  std::array<std::uint8_t, 16> key;
  std::memcpy(key.data(), &high, 8);
  std::memcpy(key.data() + 8, &low, 8);
  return key;
}

Decimal FromOrderedKey(const std::array<std::uint8_t, 16>& key, int scale) {
  return Decimal{OrderedKeyValue(key.data()), scale};
}

bool DecimalSum::Add(const Decimal& value) {
  if (overflowed_) return false;
  ++count_;
  __int128 addend = value.unscaled;
  if (scale_ < 0) scale_ = value.scale;
  if (value.scale > scale_) {
    // A wider scale than before: the total takes it on.
    __int128 factor = static_cast<__int128>(PowerOfTen(value.scale - scale_));
    if (__builtin_mul_overflow(total_, factor, &total_)) return !(overflowed_ = true);
    scale_ = value.scale;
  } else if (value.scale < scale_) {
    __int128 factor = static_cast<__int128>(PowerOfTen(scale_ - value.scale));
    if (__builtin_mul_overflow(addend, factor, &addend)) return !(overflowed_ = true);
  }
  if (__builtin_add_overflow(total_, addend, &total_) ||
      Magnitude(total_) >= PowerOfTen(kMaxDigits))
    return !(overflowed_ = true);
  return true;
}

std::optional<Decimal> DecimalSum::Total() const {
  if (count_ == 0 || overflowed_) return std::nullopt;
  return Decimal{total_, scale_};
}

std::optional<Decimal> DecimalSum::Average(int scale) const {
  std::optional<Decimal> total = Total();
  if (!total) return std::nullopt;
  ExactResult average = Divide(*total, Decimal{count_, 0}, kMaxDigits, scale);
  if (average.fault != ArithmeticFault::kNone) return std::nullopt;
  return average.value;
}

}  // namespace sqlengine::values
