#include "engine/exec/variable_assignment.h"

#include <cmath>
#include <optional>
#include <string>

#include "engine/common/error.h"
#include "engine/exec/value_conversion.h"
#include "engine/tsql/type_name.h"
#include "engine/values/calendar.h"
#include "engine/values/date_text.h"

namespace sqlengine::exec {
namespace {

constexpr long double kMillisecondsPerDay = 86400000.0L;

std::optional<long double> DaysOf(const Value& value) {
  if (const auto* number = std::get_if<std::int64_t>(&value)) return *number;
  if (const auto* number = std::get_if<double>(&value)) return *number;
  if (const auto* number = std::get_if<Decimal>(&value))
    return static_cast<long double>(number->unscaled) / std::pow(10.0L, number->scale);
  return std::nullopt;
}

// Days from 1900-01-01 to `year`-`month`-`day`.
std::int64_t DaysFrom1900(int year, int month, int day) {
  return values::DaysFromCivil(year, month, day) + values::kDays1900To1970;
}

DateTime DateTimeFromDays(long double days, SqlType type) {
  const bool small = type == SqlType::kSmallDateTime;
  // The first and the day after the last day of the type's range.
  const long double first = small ? 0 : DaysFrom1900(1753, 1, 1);
  const long double end = small ? DaysFrom1900(2079, 6, 7) : DaysFrom1900(10000, 1, 1);
  if (!std::isfinite(days) || days < first || days >= end)
    throw MakeError(8115, {"expression", std::string(tsql::TypeName(type))});
  auto milliseconds = static_cast<std::int64_t>(std::llroundl(days * kMillisecondsPerDay));
  std::int64_t whole_days =
      milliseconds >= 0 ? milliseconds / 86400000 : (milliseconds - 86399999) / 86400000;
  std::int64_t rest = milliseconds - whole_days * 86400000;
  DateTime when;
  values::CivilFromDays(whole_days - values::kDays1900To1970, &when.year, &when.month, &when.day);
  when.hour = static_cast<int>(rest / 3600000);
  when.minute = static_cast<int>(rest / 60000 % 60);
  when.second = static_cast<int>(rest / 1000 % 60);
  when.millisecond = static_cast<int>(rest % 1000);
  return values::RoundedToKind(
      when, small ? values::DateKind::kSmallDateTime : values::DateKind::kDateTime);
}

}  // namespace

Value AssignedValue(const Value& value, const ColumnType& type) {
  if (type.type == SqlType::kDateTime || type.type == SqlType::kSmallDateTime) {
    if (std::optional<long double> days = DaysOf(value)) return DateTimeFromDays(*days, type.type);
  }
  return ConvertForType(value, type);
}

tsql::Tokens AssignedExpression(tsql::Tokens expression, const ColumnType& type, int line) {
  if (type.type != SqlType::kSqlVariant || expression.empty()) return expression;
  auto symbol = [line](std::string_view text) {
    tsql::Token token = tsql::WordToken(text, line);
    token.kind = tsql::TokenKind::kSymbol;
    return token;
  };
  tsql::Tokens cast{tsql::WordToken("CAST", line), symbol("("), symbol("(")};
  cast.insert(cast.end(), expression.begin(), expression.end());
  for (tsql::Token token : {symbol(")"), tsql::WordToken("AS", line),
                            tsql::WordToken("sql_variant", line), symbol(")")})
    cast.push_back(std::move(token));
  return cast;
}

}  // namespace sqlengine::exec
