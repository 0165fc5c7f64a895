#include "engine/values/float_rounding.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sqlengine::values {
namespace {

// The 17 significant digits that identify a double, as digits with
// `whole_digits` of them before the point: 94.55 is "94549999999999997"
// with 2. Digits past the 17th are taken as zeros.
std::string SignificantDigits(double value, size_t& whole_digits) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.16e", std::fabs(value));
  std::string mantissa(buffer, 1);
  mantissa.append(buffer + 2, 16);
  int exponent = std::atoi(std::strchr(buffer, 'e') + 1);
  if (exponent >= 0) {
    whole_digits = static_cast<size_t>(exponent) + 1;
    if (mantissa.size() < whole_digits) mantissa.resize(whole_digits, '0');
    return mantissa;
  }
  whole_digits = 1;
  return std::string(static_cast<size_t>(-exponent), '0') + mantissa;
}

}  // namespace

std::string RoundedFloatText(double value, int places, bool truncate) {
  size_t whole = 0;
  std::string digits = std::isfinite(value) ? SignificantDigits(value, whole) : std::string("0");
  if (!std::isfinite(value)) whole = 1;
  long keep = static_cast<long>(whole) + places;  // leading digits that stay
  bool up = false;
  if (keep < 0) {
    digits.clear();
  } else {
    auto kept = static_cast<size_t>(keep);
    up = !truncate && kept < digits.size() && digits[kept] >= '5';
    digits.resize(std::min(kept, digits.size()));
  }
  if (up) {
    size_t at = digits.size();
    while (at > 0 && digits[at - 1] == '9') digits[--at] = '0';
    if (at == 0) {
      digits.insert(digits.begin(), '1');
      ++whole;
    } else {
      ++digits[at - 1];
    }
  }
  size_t decimals = places > 0 ? static_cast<size_t>(places) : 0;
  digits.resize(whole + decimals, '0');
  size_t leading = 0;
  while (leading + 1 < whole && digits[leading] == '0') ++leading;
  std::string text = digits.substr(leading, whole - leading);
  if (decimals > 0) text += '.' + digits.substr(whole);
  return text;
}

}  // namespace sqlengine::values
