#include "engine/values/number_text.h"

#include <cctype>
#include <charconv>
#include <cstdlib>

namespace sqlengine::values {
namespace {

__int128 PowerOfTen(int exponent) {
  __int128 result = 1;
  for (int i = 0; i < exponent; ++i) result *= 10;
  return result;
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
    text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
    text.remove_suffix(1);
  return text;
}

}  // namespace

std::optional<std::int64_t> WholeNumberFromText(std::string_view text) {
  text = Trimmed(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  std::int64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<Decimal> DecimalFromText(std::string_view text, int scale) {
  text = Trimmed(text);
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  __int128 unscaled = 0;
  int fraction_digits = 0;
  bool seen_point = false, seen_digit = false, dropped = false, round_up = false;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c == '.' && !seen_point) {
      seen_point = true;
      continue;
    }
    if (c < '0' || c > '9') return std::nullopt;
    seen_digit = true;
    if (seen_point && fraction_digits == scale) {
      // Half away from zero, decided by the first digit beyond the scale.
      if (!dropped) round_up = c >= '5';
      dropped = true;
      continue;
    }
    if (seen_point) ++fraction_digits;
    // Checked before multiplying: a 39th digit would overflow 128 bits.
    if (unscaled > (PowerOfTen(38) - (c - '0')) / 10) return std::nullopt;
    unscaled = unscaled * 10 + (c - '0');
  }
  if (!seen_digit) return std::nullopt;
  __int128 padding = PowerOfTen(scale - fraction_digits);
  if (unscaled > PowerOfTen(38) / padding) return std::nullopt;
  unscaled = unscaled * padding + (round_up ? 1 : 0);
  return Decimal{negative ? -unscaled : unscaled, scale};
}

std::optional<double> FloatFromText(std::string_view text) {
  std::string trimmed(Trimmed(text));
  if (trimmed.empty()) return std::nullopt;
  char* end = nullptr;
  double value = std::strtod(trimmed.c_str(), &end);
  if (*end != '\0') return std::nullopt;
  return value;
}

Decimal Rescaled(const Decimal& value, int scale) {
  Decimal d = value;
  if (d.scale < scale) {
    d.unscaled *= PowerOfTen(scale - d.scale);
  } else if (d.scale > scale) {
    __int128 divisor = PowerOfTen(d.scale - scale);
    __int128 quotient = d.unscaled / divisor;
    __int128 remainder = d.unscaled % divisor;
    if (remainder * 2 >= divisor) ++quotient;
    if (remainder * 2 <= -divisor) --quotient;
    d.unscaled = quotient;
  }
  d.scale = scale;
  return d;
}

std::string DecimalText(const Decimal& value) {
  __int128 magnitude = value.unscaled < 0 ? -value.unscaled : value.unscaled;
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(magnitude % 10)));
    magnitude /= 10;
  } while (magnitude > 0);
  while (static_cast<int>(digits.size()) <= value.scale) digits.insert(digits.begin(), '0');
  if (value.scale > 0) digits.insert(digits.end() - value.scale, '.');
  return value.unscaled < 0 ? "-" + digits : digits;
}

size_t CurrencySignLength(std::string_view text) {
  if (text.empty()) return 0;
  auto byte = [&](size_t at) { return static_cast<unsigned char>(text[at]); };
  // '\\' is the yen sign of the Japanese code page.
  if (text[0] == '$' || text[0] == '\\') return 1;
  size_t size = byte(0) < 0xC0 ? 0 : byte(0) < 0xE0 ? 2 : byte(0) < 0xF0 ? 3 : 0;
  if (size == 0 || text.size() < size) return 0;
  char32_t c = byte(0) & (size == 2 ? 0x1F : 0x0F);
  for (size_t k = 1; k < size; ++k) {
    if ((byte(k) & 0xC0) != 0x80) return 0;
    c = (c << 6) | (byte(k) & 0x3F);
  }
  // Not U+20A0 (euro-currency), U+20A6 (naira) or U+FDFC (rial): SQL Server
  // reads no amount after them.
  bool sign = (c >= 0xA3 && c <= 0xA5) || c == 0x09F2 || c == 0x09F3 || c == 0x0E3F ||
              c == 0x17DB || (c >= 0x20A1 && c <= 0x20AC && c != 0x20A6) || c == 0xFE69 ||
              c == 0xFF04 || c == 0xFFE0 || c == 0xFFE1 || c == 0xFFE5 || c == 0xFFE6;
  return sign ? size : 0;
}

}  // namespace sqlengine::values
