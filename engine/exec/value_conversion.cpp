#include "engine/exec/value_conversion.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>

#include "engine/common/error.h"
#include "engine/exec/date_settings.h"
#include "engine/exec/sqlite_value_text.h"
#include "engine/tsql/type_name.h"
#include "engine/values/binary_integer.h"
#include "engine/values/calendar.h"
#include "engine/values/date_style_text.h"
#include "engine/values/date_text.h"
#include "engine/values/number_text.h"
#include "engine/values/variant_value.h"

namespace sqlengine::exec {
namespace {

constexpr int kExpressionTextLength = 4000;

bool IsIntegerType(SqlType type) {
  return type == SqlType::kTinyInt || type == SqlType::kSmallInt || type == SqlType::kInt ||
         type == SqlType::kBigInt || type == SqlType::kBit;
}

bool IsDecimalType(SqlType type) {
  return type == SqlType::kDecimal || type == SqlType::kMoney || type == SqlType::kSmallMoney;
}

bool IsDateType(SqlType type) {
  return type == SqlType::kDateTime || type == SqlType::kSmallDateTime;
}

bool IsBinaryType(SqlType type) {
  return type == SqlType::kBinary || type == SqlType::kVarBinary || type == SqlType::kImage;
}

__int128 PowerOfTen(int exponent) {
  __int128 result = 1;
  for (int i = 0; i < exponent; ++i) result *= 10;
  return result;
}

std::string Trimmed(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
    text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
    text.remove_suffix(1);
  return std::string(text);
}

bool ParseDecimal(std::string_view text, int scale, Decimal& out) {
  std::optional<Decimal> parsed = values::DecimalFromText(text, scale);
  if (parsed) out = *parsed;
  return parsed.has_value();
}

values::DateKind DateKindOf(SqlType type) {
  return type == SqlType::kSmallDateTime ? values::DateKind::kSmallDateTime
                                         : values::DateKind::kDateTime;
}

bool InDateTimeRange(const DateTime& value) {
  return value.month >= 1 && value.month <= 12 && value.day >= 1 &&
         value.day <= values::DaysInMonth(value.year, value.month) && value.hour <= 23 &&
         value.minute <= 59 && value.second <= 59 && value.year >= 1753 && value.year <= 9999;
}

// The stored form "YYYY-MM-DD HH:MM:SS.mmm" (or without ".mmm") read digit by
// digit: every stored datetime of a streamed result passes through here.
bool ParseStoredDateTime(std::string_view text, DateTime& out) {
  constexpr std::string_view kPattern = "dddd-dd-dd dd:dd:dd.ddd";
  if (text.size() != kPattern.size() && text.size() != kPattern.size() - 4) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    bool digit = text[i] >= '0' && text[i] <= '9';
    if (kPattern[i] == 'd' ? !digit : text[i] != kPattern[i]) return false;
  }
  auto number = [text](size_t at, size_t digits) {
    int value = 0;
    for (size_t i = at; i < at + digits; ++i) value = value * 10 + (text[i] - '0');
    return value;
  };
  DateTime value;
  value.year = number(0, 4);
  value.month = number(5, 2);
  value.day = number(8, 2);
  value.hour = number(11, 2);
  value.minute = number(14, 2);
  value.second = number(17, 2);
  value.millisecond = text.size() == kPattern.size() ? number(20, 3) : 0;
  if (!InDateTimeRange(value)) return false;
  out = value;
  return true;
}

// Any text SQL Server reads as a datetime, under the session's DATEFORMAT;
// the stored form first, as most values arrive in it.
bool ParseDateTime(std::string_view text, DateTime& out) {
  if (ParseStoredDateTime(text, out)) return true;
  std::optional<DateTime> read =
      values::TryDateTimeFromText(text, values::DateKind::kDateTime, CurrentDateSettings().order);
  if (read) out = *read;
  return read.has_value();
}

SqlError ConversionError(const std::string& text, const ColumnType& type) {
  if (IsDateType(type.type)) return MakeError(241);
  if (IsIntegerType(type.type)) return MakeError(245, {text, tsql::TypeName(type.type)});
  // SQL Server's own words for text that is no amount, and "numeric" for
  // decimal as for numeric.
  if (type.type == SqlType::kMoney) return MakeError(235);
  if (type.type == SqlType::kSmallMoney) return MakeError(293);
  if (type.type == SqlType::kDecimal) return MakeError(8114, {"varchar", "numeric"});
  return MakeError(8114, {"varchar", tsql::TypeName(type.type)});
}

// Binary data read as SQL Server lays out a decimal in bytes: precision,
// scale, a byte of no meaning, the sign (0 negative), then the unscaled
// magnitude little-endian (0x08040001B471BC00 is 1234.9876). nullopt for
// bytes that hold no such value (too short, a precision outside 1..38).
std::optional<Decimal> DecimalFromBytes(const Bytes& bytes) {
  if (bytes.size() < 5 || bytes.size() > 4 + 16) return std::nullopt;
  int precision = bytes[0], scale = bytes[1];
  if (precision < 1 || precision > 38 || scale > precision) return std::nullopt;
  unsigned __int128 magnitude = 0;
  for (size_t k = bytes.size(); k > 4; --k) {
    if (magnitude >> 120) return std::nullopt;
    magnitude = (magnitude << 8) | bytes[k - 1];
  }
  if (magnitude >= static_cast<unsigned __int128>(PowerOfTen(38))) return std::nullopt;
  auto unscaled = static_cast<__int128>(magnitude);
  return Decimal{bytes[3] == 0 ? -unscaled : unscaled, scale};
}

// Text read as an amount of money or smallmoney: a currency sign ('$', '€',
// '£', ...) before or after the minus sign and thousands separators in the
// whole part are allowed, as SQL Server allows them ('$1,234.56', '-$5',
// '€ 1.000'); the amount without them. Text for another type is returned as
// it is.
std::string MoneySignsLeftOut(std::string_view text, const ColumnType& type) {
  if (type.type != SqlType::kMoney && type.type != SqlType::kSmallMoney) return std::string(text);
  std::string amount = Trimmed(text);
  size_t at = 0;
  std::string sign;
  auto take_sign = [&] {
    if (sign.empty() && at < amount.size() && (amount[at] == '-' || amount[at] == '+'))
      sign = amount[at++];
  };
  take_sign();
  if (size_t sign_length = values::CurrencySignLength(std::string_view(amount).substr(at))) {
    at += sign_length;
    while (at < amount.size() && std::isspace(static_cast<unsigned char>(amount[at]))) ++at;
    take_sign();
  }
  std::string plain = sign;
  bool point = false;
  for (; at < amount.size(); ++at) {
    char c = amount[at];
    point = point || c == '.';
    // A separator needs a digit before it, within the whole part.
    if (c == ',' && !point && !plain.empty() &&
        std::isdigit(static_cast<unsigned char>(plain.back())))
      continue;
    plain += c;
  }
  // A currency sign, a sign or a point with no digits is an amount of 0, as
  // ISNUMERIC's 1 for '$', '-' and '.' promises.
  std::string_view digits = std::string_view(plain).substr(sign.size());
  if (digits.empty() || digits == ".") return "0";
  return plain;
}

// Text read as an integer: a sign may stand apart from the digits by one
// blank ('- 1' is -1), and a sign with no digit after it is 0 ('-', '+'),
// as SQL Server reads them.
std::optional<std::int64_t> IntegerFromText(std::string_view text) {
  std::string number = Trimmed(text);
  if (number.empty() || (number.front() != '-' && number.front() != '+'))
    return values::WholeNumberFromText(number);
  std::string_view digits = std::string_view(number).substr(1);
  if (!digits.empty() && digits.front() == ' ') digits.remove_prefix(1);
  if (digits.empty()) return 0;
  if (!std::isdigit(static_cast<unsigned char>(digits.front()))) return std::nullopt;
  return values::WholeNumberFromText(number.substr(0, 1) + std::string(digits));
}

Value FromText(const std::string& text, const ColumnType& type) {
  // SQL Server reads an empty or blank text as 0 for integers, floats and
  // money (not for decimal: 8114).
  bool blank = Trimmed(text).empty();
  if (blank && IsIntegerType(type.type)) return std::int64_t{0};
  if (blank && (type.type == SqlType::kMoney || type.type == SqlType::kSmallMoney))
    return Decimal{0, type.scale};
  if (blank && (type.type == SqlType::kReal || type.type == SqlType::kFloat)) return 0.0;
  if (IsIntegerType(type.type)) {
    std::optional<std::int64_t> number = IntegerFromText(text);
    if (!number) throw ConversionError(text, type);
    return *number;
  }
  if (type.type == SqlType::kReal || type.type == SqlType::kFloat) {
    std::optional<double> number = values::FloatFromText(text);
    if (!number) throw ConversionError(text, type);
    return *number;
  }
  if (IsDecimalType(type.type)) {
    Decimal number;
    if (!ParseDecimal(MoneySignsLeftOut(text, type), type.scale, number))
      throw ConversionError(text, type);
    return number;
  }
  if (IsDateType(type.type)) {
    DateTime stored;
    if (ParseStoredDateTime(text, stored))
      return values::RoundedToKind(stored, DateKindOf(type.type));
    return values::DateTimeFromText(text, DateKindOf(type.type), CurrentDateSettings().order);
  }
  if (IsBinaryType(type.type)) return Bytes(text.begin(), text.end());
  return text;
}

Value FromInteger(std::int64_t number, const ColumnType& type) {
  if (IsDecimalType(type.type))
    return Decimal{static_cast<__int128>(number) * PowerOfTen(type.scale), type.scale};
  if (type.type == SqlType::kReal || type.type == SqlType::kFloat)
    return static_cast<double>(number);
  if (IsDateType(type.type)) {
    DateTime when;
    if (number >= 17530101 && number <= 99991231 && ParseDateTime(std::to_string(number), when))
      return when;
    throw ConversionError(std::to_string(number), type);
  }
  if (tsql::IsCharacterType(type.type) || type.type == SqlType::kUniqueIdentifier ||
      type.type == SqlType::kSqlVariant) {
    return std::to_string(number);
  }
  if (IsBinaryType(type.type)) {
    // An integer's own bytes: an int's four, a bigint's eight.
    int width = number >= INT32_MIN && number <= INT32_MAX ? 4 : 8;
    return values::FittedBinary(values::IntegerBytes(number, width), type.length,
                                type.type == SqlType::kBinary, true);
  }
  return number;
}

// A float as decimal goes through its 17 significant digits, and keeps at
// most 17 of them after the point (below 5E-18 it is 0), rounded half away
// from zero at each step; nullopt beyond 38 digits.
std::optional<Decimal> FloatAsDecimal(double number, int scale) {
  constexpr int kFloatDigits = 17;
  char text[40];
  // d.dddddddddddddddde[+-]x: the 17 digits and the power of ten of the first.
  int length = std::snprintf(text, sizeof text, "%.*e", kFloatDigits - 1, std::fabs(number));
  std::string_view written(text, static_cast<size_t>(std::max(length, 0)));
  size_t e = written.find('e');
  if (e == std::string_view::npos) return std::nullopt;
  std::string digits = std::string(written.substr(0, 1)) + std::string(written.substr(2, e - 2));
  int exponent = std::atoi(text + e + 1);
  std::string fixed = number < 0 ? "-" : "";
  if (exponent >= kFloatDigits - 1) {
    fixed += digits + std::string(static_cast<size_t>(exponent - (kFloatDigits - 1)), '0');
  } else if (exponent >= 0) {
    fixed += digits.substr(0, static_cast<size_t>(exponent) + 1) + "." +
             digits.substr(static_cast<size_t>(exponent) + 1);
  } else {
    fixed += "0." + std::string(static_cast<size_t>(-exponent - 1), '0') + digits;
  }
  if (exponent >= 38) return std::nullopt;
  std::optional<Decimal> kept = values::DecimalFromText(fixed, std::min(scale, kFloatDigits));
  if (!kept || scale <= kFloatDigits) return kept;
  __int128 widen = PowerOfTen(scale - kFloatDigits);
  if ((kept->unscaled < 0 ? -kept->unscaled : kept->unscaled) >= PowerOfTen(38) / widen)
    return std::nullopt;
  return Decimal{kept->unscaled * widen, scale};
}

Value FromDouble(double number, const ColumnType& type) {
  if (IsDecimalType(type.type)) {
    const std::string target = type.type == SqlType::kDecimal
                                   ? std::string("numeric")
                                   : std::string(tsql::TypeName(type.type));
    std::optional<Decimal> converted;
    if (std::isfinite(number)) converted = FloatAsDecimal(number, type.scale);
    const auto [low, high] = DecimalRange(type);
    if (!converted || converted->unscaled > high || converted->unscaled < low)
      throw MakeError(8115, {"float", target});
    return *converted;
  }
  if (IsIntegerType(type.type)) {
    if (!std::isfinite(number) || std::fabs(number) > 9.2e18)
      throw MakeError(8115, {"float", std::string(tsql::TypeName(type.type))});
    return static_cast<std::int64_t>(std::trunc(number));
  }
  if (tsql::IsCharacterType(type.type) || type.type == SqlType::kSqlVariant) {
    return ValueText(Value(number));
  }
  if (IsDateType(type.type)) throw ConversionError(ValueText(Value(number)), type);
  // SQLite's arithmetic runs to infinity where SQL Server's overflows.
  if (!std::isfinite(number) ||
      (type.type == SqlType::kReal && std::fabs(number) > std::numeric_limits<float>::max())) {
    throw MakeError(8115, {"expression", std::string(tsql::TypeName(type.type))});
  }
  return number;
}

}  // namespace

std::pair<__int128, __int128> DecimalRange(const ColumnType& type) {
  __int128 low, high;
  if (type.type == SqlType::kMoney) {
    high = std::numeric_limits<std::int64_t>::max();
    low = std::numeric_limits<std::int64_t>::min();
  } else if (type.type == SqlType::kSmallMoney) {
    high = std::numeric_limits<std::int32_t>::max();
    low = std::numeric_limits<std::int32_t>::min();
  } else {
    high = PowerOfTen(std::clamp(type.precision, 1, 38)) - 1;
    low = -high;
  }
  return {low, high};
}

Decimal FitDecimal(const Value& value, const ColumnType& type) {
  // SQL Server names decimal and numeric targets alike "numeric" here.
  std::string target =
      type.type == SqlType::kDecimal ? "numeric" : std::string(tsql::TypeName(type.type));
  SqlError overflow =
      MakeError(8115, {std::holds_alternative<double>(value) ? "float" : "numeric", target});
  Decimal fitted;
  if (const auto* number = std::get_if<double>(&value)) {
    if (!std::isfinite(*number)) throw overflow;
    std::optional<Decimal> converted = FloatAsDecimal(*number, type.scale);
    if (!converted) throw overflow;
    fitted = *converted;
  } else if (const auto* number = std::get_if<std::int64_t>(&value)) {
    __int128 scale = PowerOfTen(type.scale);
    __int128 magnitude = *number < 0 ? -static_cast<__int128>(*number) : *number;
    if (magnitude > PowerOfTen(38) / scale) throw overflow;
    fitted = Decimal{static_cast<__int128>(*number) * scale, type.scale};
  } else if (const auto* number = std::get_if<Decimal>(&value)) {
    if (!ParseDecimal(DecimalText(*number), type.scale, fitted)) throw overflow;
  } else if (const auto* bytes = std::get_if<Bytes>(&value);
             bytes && type.type != SqlType::kDecimal) {
    // money and smallmoney read their bytes as their count of ten-thousandths.
    int width = type.type == SqlType::kMoney ? 8 : 4;
    fitted = Decimal{values::IntegerFromBytes(*bytes, width), 4};
  } else if (const auto* bytes = std::get_if<Bytes>(&value)) {
    std::optional<Decimal> stored = DecimalFromBytes(*bytes);
    if (!stored) throw MakeError(8114, {"varbinary", "numeric"});
    if (!ParseDecimal(DecimalText(*stored), type.scale, fitted)) throw overflow;
  } else {
    std::string text = ValueText(value);
    if (!ParseDecimal(MoneySignsLeftOut(text, type), type.scale, fitted))
      throw ConversionError(text, type);
  }
  auto [low, high] = DecimalRange(type);
  if (fitted.unscaled < low || fitted.unscaled > high) throw overflow;
  return fitted;
}

Bytes ValueBytes(const Value& value, const ColumnType& from) {
  Bytes bytes;
  auto append = [&bytes](std::uint64_t bits, int width) {
    for (int k = width - 1; k >= 0; --k) bytes.push_back(static_cast<std::uint8_t>(bits >> (8 * k)));
  };
  if (from.type == SqlType::kDecimal) {
    Decimal number = FitDecimal(value, from);
    bytes = {static_cast<std::uint8_t>(from.precision), static_cast<std::uint8_t>(from.scale), 0,
             static_cast<std::uint8_t>(number.unscaled < 0 ? 0 : 1)};
    auto magnitude = static_cast<unsigned __int128>(number.unscaled < 0 ? -number.unscaled
                                                                        : number.unscaled);
    do {
      for (int k = 0; k < 4; ++k) {
        bytes.push_back(static_cast<std::uint8_t>(magnitude));
        magnitude >>= 8;
      }
    } while (magnitude != 0);
  } else if (from.type == SqlType::kMoney || from.type == SqlType::kSmallMoney) {
    Decimal amount = FitDecimal(value, from);
    append(static_cast<std::uint64_t>(static_cast<std::int64_t>(amount.unscaled)),
           from.type == SqlType::kMoney ? 8 : 4);
  } else if (from.type == SqlType::kFloat || from.type == SqlType::kReal) {
    double number = 0;
    if (const auto* d = std::get_if<double>(&value)) {
      number = *d;
    } else if (const auto* i = std::get_if<std::int64_t>(&value)) {
      number = static_cast<double>(*i);
    } else {
      number = std::get<double>(FromText(ValueText(value), ColumnType{SqlType::kFloat}));
    }
    if (from.type == SqlType::kReal) {
      append(std::bit_cast<std::uint32_t>(static_cast<float>(number)), 4);
    } else {
      append(std::bit_cast<std::uint64_t>(number), 8);
    }
  } else if (IsDateType(from.type)) {
    DateTime when;
    if (const auto* given = std::get_if<DateTime>(&value)) {
      when = *given;
    } else if (!ParseDateTime(ValueText(value), when)) {
      throw MakeError(241);
    }
    std::int64_t days = values::DaysFromCivil(when.year, when.month, when.day) +
                        values::kDays1900To1970;
    std::int64_t milliseconds =
        ((when.hour * 60 + when.minute) * 60 + when.second) * std::int64_t{1000} +
        when.millisecond;
    if (from.type == SqlType::kSmallDateTime) {
      append(static_cast<std::uint64_t>(days), 2);
      append(static_cast<std::uint64_t>(when.hour * 60 + when.minute), 2);
    } else {
      append(static_cast<std::uint64_t>(days), 4);
      append(static_cast<std::uint64_t>((milliseconds * 3 + 5) / 10), 4);
    }
  }
  return bytes;
}

DateTime DateTimeFromBytes(const Bytes& bytes, SqlType type) {
  const bool small = type == SqlType::kSmallDateTime;
  const size_t half = small ? 2 : 4;
  Bytes whole(2 * half, 0);
  const size_t used = std::min(bytes.size(), whole.size());
  std::copy(bytes.end() - static_cast<std::ptrdiff_t>(used), bytes.end(),
            whole.end() - static_cast<std::ptrdiff_t>(used));
  std::int64_t days = 0, time = 0;
  for (size_t k = 0; k < half; ++k) {
    days = (days << 8) | whole[k];
    time = (time << 8) | whole[half + k];
  }
  // A datetime's days are signed (before 1900 is negative); a smalldatetime's are not.
  if (!small && days >= 0x80000000) days -= std::int64_t{1} << 32;
  const std::int64_t first = small ? 0 : values::DaysFromCivil(1753, 1, 1) + values::kDays1900To1970;
  const std::int64_t end = small ? values::DaysFromCivil(2079, 6, 7) + values::kDays1900To1970
                                 : values::DaysFromCivil(10000, 1, 1) + values::kDays1900To1970;
  const std::int64_t per_day = small ? 24 * 60 : 24 * 60 * 60 * 300;
  if (days < first || days >= end || time >= per_day)
    throw MakeError(8115, {"expression", std::string(tsql::TypeName(type))});
  DateTime when;
  values::CivilFromDays(days - values::kDays1900To1970, &when.year, &when.month, &when.day);
  std::int64_t milliseconds = small ? time * 60000 : (time * 10 + 1) / 3;
  when.hour = static_cast<int>(milliseconds / 3600000);
  when.minute = static_cast<int>(milliseconds / 60000 % 60);
  when.second = static_cast<int>(milliseconds / 1000 % 60);
  when.millisecond = static_cast<int>(milliseconds % 1000);
  return when;
}

std::optional<DateTime> StoredDateTime(std::string_view text) {
  DateTime value;
  if (!ParseStoredDateTime(text, value)) return std::nullopt;
  return value;
}

std::optional<DateTime> ParseDateTimeText(std::string_view text) {
  DateTime value;
  if (!ParseDateTime(text, value)) return std::nullopt;
  return value;
}

std::string DateTimeText(const DateTime& value) { return values::DateTimeStyled(value, 121); }

std::string DecimalText(const Decimal& value) { return values::DecimalText(value); }

std::string ValueText(const Value& value) {
  if (const auto* number = std::get_if<std::int64_t>(&value)) return std::to_string(*number);
  if (const auto* number = std::get_if<double>(&value)) {
    char text[32];
    std::snprintf(text, sizeof text, "%.15g", *number);
    return text;
  }
  if (const auto* text = std::get_if<std::string>(&value)) return *text;
  if (const auto* bytes = std::get_if<Bytes>(&value))
    return std::string(bytes->begin(), bytes->end());
  if (const auto* number = std::get_if<Decimal>(&value)) return DecimalText(*number);
  if (const auto* when = std::get_if<DateTime>(&value)) return DateTimeText(*when);
  return {};
}

std::optional<ColumnType> DeclaredColumnType(sqlite3* db, sqlite3_stmt* statement, int column) {
  const char* declared = sqlite3_column_decltype(statement, column);
  if (declared == nullptr) return std::nullopt;
  std::optional<ColumnType> type = tsql::ParseDeclaredType(declared);
  if (!type) return std::nullopt;
  const char* schema = sqlite3_column_database_name(statement, column);
  const char* table = sqlite3_column_table_name(statement, column);
  const char* origin = sqlite3_column_origin_name(statement, column);
  int not_null = 0, primary_key = 0, autoincrement = 0;
  if (table != nullptr && origin != nullptr &&
      sqlite3_table_column_metadata(db, schema, table, origin, nullptr, nullptr, &not_null,
                                    &primary_key, &autoincrement) == SQLITE_OK) {
    type->nullable = !not_null && !primary_key;
    type->identity = autoincrement != 0;
  }
  return type;
}

void ValueTypeGuess::Observe(const Value& value) {
  if (const auto* number = std::get_if<std::int64_t>(&value)) {
    integer = true;
    big_integer = big_integer || *number > std::numeric_limits<std::int32_t>::max() ||
                  *number < std::numeric_limits<std::int32_t>::min();
  } else if (std::holds_alternative<double>(value)) {
    real = true;
  } else if (const auto* string = std::get_if<std::string>(&value)) {
    text = true;
    long_text = long_text || string->size() > static_cast<size_t>(kExpressionTextLength);
  } else if (const auto* bytes = std::get_if<Bytes>(&value)) {
    binary = true;
    long_binary = long_binary || bytes->size() > 8000;
  }
}

ColumnType ValueTypeGuess::Type() const {
  ColumnType type;
  if (text || (binary && (integer || real))) {
    type.type = SqlType::kNVarChar;
    type.length = long_text || long_binary ? kMaxLength : kExpressionTextLength;
  } else if (binary) {
    type.type = SqlType::kVarBinary;
    type.length = long_binary ? kMaxLength : 8000;
  } else if (real) {
    type.type = SqlType::kFloat;
  } else if (integer) {
    type.type = big_integer ? SqlType::kBigInt : SqlType::kInt;
  } else {
    type.type = SqlType::kInt;
  }
  return type;
}

std::string ResultColumnName(sqlite3_stmt* statement, int column) {
  const char* name = sqlite3_column_name(statement, column);
  if (name == nullptr) return {};
  std::string_view text(name);
  // A scalar subquery reports the origin of the column it selects, but its
  // own name is its text: an unnamed expression.
  if (sqlite3_column_origin_name(statement, column) != nullptr && !text.starts_with('('))
    return name;
  bool identifier =
      !text.empty() && (std::isalpha(static_cast<unsigned char>(text[0])) || text[0] == '_' ||
                        static_cast<unsigned char>(text[0]) >= 0x80);
  for (char c : text) {
    unsigned char u = static_cast<unsigned char>(c);
    if (!(std::isalnum(u) || c == '_' || c == '#' || c == '$' || u >= 0x80)) identifier = false;
  }
  for (std::string_view literal : {"null", "true", "false"}) {
    if (text.size() == literal.size() &&
        std::equal(text.begin(), text.end(), literal.begin(), [](char a, char b) {
          return std::tolower(static_cast<unsigned char>(a)) == b;
        })) {
      identifier = false;
    }
  }
  return identifier ? std::string(text) : std::string();
}

Value ColumnValue(sqlite3_stmt* statement, int column, const ColumnType& type) {
  // One call that takes the connection's lock per value; the statement is
  // stepped by this thread alone, so its value is read without it.
  sqlite3_value* value = sqlite3_column_value(statement, column);
  if (type.type == SqlType::kSqlVariant) return values::AsVariant(PlainValue(value));
  switch (sqlite3_value_type(value)) {
    case SQLITE_NULL:
      return std::monostate{};
    case SQLITE_INTEGER:
      return FromInteger(sqlite3_value_int64(value), type);
    case SQLITE_FLOAT:
      return FromDouble(sqlite3_value_double(value), type);
    case SQLITE_BLOB: {
      const auto* data = static_cast<const std::uint8_t*>(sqlite3_value_blob(value));
      Bytes bytes(data, data + sqlite3_value_bytes(value));
      if (IsBinaryType(type.type) || type.type == SqlType::kUniqueIdentifier) return bytes;
      return FromText(std::string(bytes.begin(), bytes.end()), type);
    }
    default: {
      const char* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
      std::string_view view(text, static_cast<size_t>(sqlite3_value_bytes(value)));
      DateTime when;
      if (IsDateType(type.type) && ParseStoredDateTime(view, when)) return when;
      // A character column's text is its value (FromText would copy it twice).
      if (tsql::IsCharacterType(type.type)) return std::string(view);
      return FromText(std::string(view), type);
    }
  }
}

Value PlainValue(sqlite3_value* value) {
  switch (sqlite3_value_type(value)) {
    case SQLITE_INTEGER:
      return static_cast<std::int64_t>(sqlite3_value_int64(value));
    case SQLITE_FLOAT:
      return sqlite3_value_double(value);
    case SQLITE_TEXT:
      return std::string(reinterpret_cast<const char*>(sqlite3_value_text(value)),
                         sqlite3_value_bytes(value));
    case SQLITE_BLOB: {
      const auto* data = static_cast<const std::uint8_t*>(sqlite3_value_blob(value));
      return Bytes(data, data + sqlite3_value_bytes(value));
    }
    default:
      return std::monostate{};
  }
}

void BindValue(sqlite3_stmt* statement, int index, const Value& value) {
  if (const auto* number = std::get_if<std::int64_t>(&value)) {
    sqlite3_bind_int64(statement, index, *number);
  } else if (const auto* number = std::get_if<double>(&value)) {
    sqlite3_bind_double(statement, index, *number);
  } else if (const auto* text = std::get_if<std::string>(&value)) {
    sqlite3_bind_text(statement, index, text->data(), static_cast<int>(text->size()),
                      SQLITE_TRANSIENT);
  } else if (const auto* bytes = std::get_if<Bytes>(&value)) {
    sqlite3_bind_blob(statement, index, bytes->data(), static_cast<int>(bytes->size()),
                      SQLITE_TRANSIENT);
  } else if (const auto* number = std::get_if<Decimal>(&value)) {
    if (number->scale == 0 && number->unscaled <= std::numeric_limits<std::int64_t>::max() &&
        number->unscaled >= std::numeric_limits<std::int64_t>::min()) {
      sqlite3_bind_int64(statement, index, static_cast<std::int64_t>(number->unscaled));
    } else {
      sqlite3_bind_double(statement, index, std::stod(DecimalText(*number)));
    }
  } else if (const auto* when = std::get_if<DateTime>(&value)) {
    std::string text = DateTimeText(*when);
    sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
  } else {
    sqlite3_bind_null(statement, index);
  }
}

// A text cut to a character type's length, as a variable or parameter of
// that type keeps it.
Value FittedText(Value value, const ColumnType& type) {
  auto* text = std::get_if<std::string>(&value);
  bool limited = type.type == SqlType::kChar || type.type == SqlType::kVarChar ||
                 type.type == SqlType::kNChar || type.type == SqlType::kNVarChar;
  if (text == nullptr || !limited || type.length <= 0) return value;
  size_t characters = 0;
  for (size_t at = 0; at < text->size(); ++at) {
    if ((static_cast<unsigned char>((*text)[at]) & 0xC0) == 0x80) continue;
    if (characters++ == static_cast<size_t>(type.length)) {
      text->resize(at);
      break;
    }
  }
  return value;
}

// An integer held to its type's range; a bit is 0 or 1. Beyond the range:
// 220 with the value for tinyint and smallint, else 8115.
Value InIntegerRange(Value value, const ColumnType& type) {
  const auto* number = std::get_if<std::int64_t>(&value);
  if (number == nullptr || !IsIntegerType(type.type)) return value;
  if (type.type == SqlType::kBit) return std::int64_t{*number != 0};
  std::int64_t low = INT64_MIN, high = INT64_MAX;
  if (type.type == SqlType::kTinyInt) low = 0, high = 255;
  if (type.type == SqlType::kSmallInt) low = INT16_MIN, high = INT16_MAX;
  if (type.type == SqlType::kInt) low = INT32_MIN, high = INT32_MAX;
  if (*number < low || *number > high) {
    std::string name(tsql::TypeName(type.type));
    if (type.type == SqlType::kTinyInt || type.type == SqlType::kSmallInt)
      throw MakeError(220, {name, std::to_string(*number)});
    throw MakeError(8115, {"expression", name});
  }
  return value;
}

// An integer as the text of a character type: a char or varchar too short
// for its digits holds '*', an nchar or nvarchar refuses them (8115).
Value IntegerText(std::int64_t number, const ColumnType& type) {
  std::string text = std::to_string(number);
  bool limited = type.type == SqlType::kChar || type.type == SqlType::kVarChar ||
                 type.type == SqlType::kNChar || type.type == SqlType::kNVarChar;
  if (!limited || type.length <= 0 || text.size() <= static_cast<size_t>(type.length)) return text;
  if (type.type == SqlType::kNChar || type.type == SqlType::kNVarChar)
    throw MakeError(8115, {"expression", std::string(tsql::TypeName(type.type))});
  return std::string("*");
}

Value BlankPadded(Value value, const ColumnType& type) {
  auto* text = std::get_if<std::string>(&value);
  if (text == nullptr || (type.type != SqlType::kChar && type.type != SqlType::kNChar) ||
      type.length <= 0) {
    return value;
  }
  size_t characters = Utf8CharacterCount(*text);
  if (characters < static_cast<size_t>(type.length))
    text->append(static_cast<size_t>(type.length) - characters, ' ');
  return value;
}

namespace {

// ConvertForType before a fixed-length character type's padding.
Value ConvertedValue(const Value& value, const ColumnType& type) {
  if (IsNull(value)) return value;
  if (type.type == SqlType::kSqlVariant) return values::AsVariant(value);
  if (const auto* bytes = std::get_if<Bytes>(&value)) {
    // A sql_variant converts as the value of its base type it holds.
    if (std::optional<values::VariantValue> variant = values::DecodeVariant(*bytes))
      return ConvertForType(variant->value, type);
  }
  if (const auto* text = std::get_if<std::string>(&value)) {
    return InIntegerRange(FittedText(FromText(*text, type), type), type);
  }
  if (const auto* number = std::get_if<std::int64_t>(&value)) {
    if (tsql::IsCharacterType(type.type)) return IntegerText(*number, type);
    return InIntegerRange(FromInteger(*number, type), type);
  }
  if (const auto* number = std::get_if<double>(&value))
    return InIntegerRange(FromDouble(*number, type), type);
  if (const auto* bytes = std::get_if<Bytes>(&value)) {
    if (IsBinaryType(type.type))
      return values::FittedBinary(*bytes, type.length, type.type == SqlType::kBinary, false);
    if (type.type == SqlType::kBit) {
      return std::int64_t{std::any_of(bytes->begin(), bytes->end(), [](auto b) { return b != 0; })};
    }
    if (IsIntegerType(type.type))
      return values::IntegerFromBytes(*bytes, values::IntegerWidth(type.type));
  }
  if (const auto* number = std::get_if<Decimal>(&value)) {
    // A typed decimal into an integer loses its fraction, as a float does;
    // into a bit any value but zero is 1.
    if (type.type == SqlType::kBit) return std::int64_t{number->unscaled != 0};
    if (IsIntegerType(type.type)) {
      __int128 whole = number->unscaled / PowerOfTen(number->scale);
      if (whole < INT64_MIN || whole > INT64_MAX)
        throw MakeError(8115, {"expression", std::string(tsql::TypeName(type.type))});
      return InIntegerRange(static_cast<std::int64_t>(whole), type);
    }
    if (type.type == SqlType::kReal || type.type == SqlType::kFloat)
      return std::stod(DecimalText(*number));
    // Its digits do not fit a shorter character type: never cut (8115).
    std::string text = DecimalText(*number);
    bool limited = type.type == SqlType::kChar || type.type == SqlType::kVarChar ||
                   type.type == SqlType::kNChar || type.type == SqlType::kNVarChar;
    if (limited && type.length > 0 && text.size() > static_cast<size_t>(type.length))
      throw MakeError(8115, {"numeric", std::string(tsql::TypeName(type.type))});
  }
  if (IsBinaryType(type.type)) return value;
  return FromText(ValueText(value), type);
}

}  // namespace

Value ConvertForType(const Value& value, const ColumnType& type) {
  Value converted = ConvertedValue(value, type);
  // A real holds its value to single precision (0.1 is 0.100000001490116).
  if (const auto* number = std::get_if<double>(&converted); number && type.type == SqlType::kReal)
    return static_cast<double>(static_cast<float>(*number));
  return BlankPadded(std::move(converted), type);
}

}  // namespace sqlengine::exec
