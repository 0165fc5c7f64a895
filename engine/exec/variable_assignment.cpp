#include "engine/exec/variable_assignment.h"

#include <cmath>
#include <optional>
#include <string>

#include "engine/common/error.h"
#include "engine/exec/arithmetic_errors.h"
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

Value AssignedValue(const Value& value, const ColumnType& type,
                    const std::optional<ColumnType>& source) {
  if (source && source->type == SqlType::kUniqueIdentifier && !IsNull(value) &&
      tsql::IsCharacterType(type.type) && type.length != kMaxLength && type.length < 36)
    throw MakeError(8170);
  try {
    if (type.type == SqlType::kDateTime || type.type == SqlType::kSmallDateTime) {
      if (std::optional<long double> days = DaysOf(value))
        return DateTimeFromDays(*days, type.type);
    }
    Value converted = ConvertForType(value, type);
    // A decimal, money or smallmoney variable or parameter holds only what
    // its type does: 12345.6 into a decimal(5,2) is 8115 here, not a value
    // that fails wherever it is read later.
    if (const auto* number = std::get_if<Decimal>(&converted)) {
      auto [low, high] = DecimalRange(type);
      if (number->unscaled < low || number->unscaled > high) {
        throw MakeError(8115, {std::holds_alternative<double>(value) ? "float" : "numeric",
                               type.type == SqlType::kDecimal
                                   ? std::string("numeric")
                                   : std::string(tsql::TypeName(type.type))});
      }
    }
    return converted;
  } catch (const SqlError& error) {
    // An overflow is NULL under ANSI_WARNINGS and ARITHABORT OFF.
    if (AbsorbArithmeticError(error)) return Value{};
    throw;
  }
}

bool IsWholeNumberType(SqlType type) {
  return type == SqlType::kTinyInt || type == SqlType::kSmallInt || type == SqlType::kInt ||
         type == SqlType::kBigInt;
}

tsql::Tokens AssignedExpression(tsql::Tokens expression, const ColumnType& type, int line) {
  // A binary variable takes a number's or a date's bytes, which only the
  // expression's own type lays out; an integer variable takes money rounded
  // and other numbers cut, which only the expression's own type tells apart.
  const bool binary = type.type == SqlType::kBinary || type.type == SqlType::kVarBinary;
  const bool integer = IsWholeNumberType(type.type);
  if ((type.type != SqlType::kSqlVariant && !binary && !integer) || expression.empty())
    return expression;
  auto symbol = [line](std::string_view text) {
    tsql::Token token = tsql::WordToken(text, line);
    token.kind = tsql::TokenKind::kSymbol;
    return token;
  };
  tsql::Tokens cast{tsql::WordToken("CAST", line), symbol("("), symbol("(")};
  cast.insert(cast.end(), expression.begin(), expression.end());
  cast.push_back(symbol(")"));
  cast.push_back(tsql::WordToken("AS", line));
  cast.push_back(tsql::WordToken(
      binary || integer ? std::string(tsql::TypeName(type.type)) : std::string("sql_variant"),
      line));
  if (binary) {
    cast.push_back(symbol("("));
    tsql::Token length = tsql::WordToken(
        type.length == kMaxLength ? std::string("max") : std::to_string(type.length), line);
    if (type.length != kMaxLength) length.kind = tsql::TokenKind::kNumber;
    cast.push_back(std::move(length));
    cast.push_back(symbol(")"));
  }
  cast.push_back(symbol(")"));
  return cast;
}

}  // namespace sqlengine::exec
