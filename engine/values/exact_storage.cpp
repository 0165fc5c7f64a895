#include "engine/values/exact_storage.h"

#include <algorithm>
#include <cstdlib>
#include <optional>

#include "engine/values/exact_arithmetic.h"
#include "engine/values/number_text.h"

namespace sqlengine::values {
namespace {

constexpr int kMaxDigits = 38;
constexpr int kMaxIntegerDigits = 18;

// "[+|-][digits][.digits]" with at least one digit, blanks around.
bool IsNumberText(std::string_view text) {
  size_t i = text.find_first_not_of(" \t\r\n");
  if (i == std::string_view::npos) return false;
  size_t end = text.find_last_not_of(" \t\r\n") + 1;
  if (text[i] == '+' || text[i] == '-') ++i;
  bool digit = false, point = false;
  for (; i < end; ++i) {
    if (text[i] >= '0' && text[i] <= '9') {
      digit = true;
    } else if (text[i] == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  return digit;
}

}  // namespace

int DigitsOf(const ColumnType& type) {
  switch (type.type) {
    case SqlType::kMoney:
      return 19;
    case SqlType::kSmallMoney:
      return 10;
    default:
      return type.precision <= 0 ? kMaxIntegerDigits : std::min(type.precision, kMaxDigits);
  }
}

bool IsExactType(SqlType type) {
  return type == SqlType::kDecimal || type == SqlType::kMoney || type == SqlType::kSmallMoney;
}

bool StoredAsInteger(const ColumnType& type) {
  return type.type != SqlType::kDecimal || DigitsOf(type) <= kMaxIntegerDigits;
}

int RawScale(const ColumnType& type) { return type.type == SqlType::kDecimal ? type.scale : 4; }

bool InTypeRange(const Decimal& value, const ColumnType& type) {
  ExactResult rounded = Add(value, Decimal{}, DigitsOf(type), RawScale(type));
  if (rounded.fault != ArithmeticFault::kNone) return false;
  if (type.type == SqlType::kMoney) return FitsMoney(rounded.value);
  if (type.type == SqlType::kSmallMoney) return FitsSmallMoney(rounded.value);
  return true;
}

RawResult ToRaw(const Decimal& value, const ColumnType& type) {
  ExactResult rounded = Add(value, Decimal{}, DigitsOf(type), RawScale(type));
  if (rounded.fault != ArithmeticFault::kNone ||
      (type.type == SqlType::kMoney && !FitsMoney(rounded.value)) ||
      (type.type == SqlType::kSmallMoney && !FitsSmallMoney(rounded.value))) {
    return {std::int64_t{0}, ExactFault::kOverflow};
  }
  if (StoredAsInteger(type)) return {static_cast<std::int64_t>(rounded.value.unscaled)};
  return {OrderedKey(rounded.value)};
}

Decimal FromRaw(const RawExact& raw, const ColumnType& type) {
  if (const auto* integer = std::get_if<std::int64_t>(&raw))
    return Decimal{*integer, RawScale(type)};
  return FromOrderedKey(std::get<ExactKey>(raw), RawScale(type));
}

RawResult RawFromText(std::string_view text, const ColumnType& type) {
  if (!IsNumberText(text)) return {std::int64_t{0}, ExactFault::kNotANumber};
  // Rounded once, at the type's scale, as the text is read.
  std::optional<Decimal> value = DecimalFromText(text, RawScale(type));
  if (!value) return {std::int64_t{0}, ExactFault::kOverflow};
  return ToRaw(*value, type);
}

std::string RawText(const RawExact& raw, const ColumnType& type) {
  return DecimalText(FromRaw(raw, type));
}

double RawToDouble(const RawExact& raw, const ColumnType& type) {
  return std::strtod(RawText(raw, type).c_str(), nullptr);
}

}  // namespace sqlengine::values
