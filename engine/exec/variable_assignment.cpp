#include "engine/exec/variable_assignment.h"

#include <cmath>
#include <optional>
#include <string>

#include "engine/common/error.h"
#include "engine/exec/date_numbers.h"
#include "engine/exec/value_conversion.h"
#include "engine/tsql/type_name.h"
#include "engine/values/calendar.h"
#include "engine/values/date_text.h"

namespace sqlengine::exec {
namespace {

std::optional<long double> DaysOf(const Value& value) {
  if (const auto* number = std::get_if<std::int64_t>(&value)) return *number;
  if (const auto* number = std::get_if<double>(&value)) return *number;
  if (const auto* number = std::get_if<Decimal>(&value))
    return static_cast<long double>(number->unscaled) / std::pow(10.0L, number->scale);
  return std::nullopt;
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
