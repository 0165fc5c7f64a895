#include "engine/tsql/generate/exact_expressions.h"

#include <algorithm>
#include <cstdio>

#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/type_name.h"
#include "engine/values/exact_storage.h"

namespace sqlengine::tsql::generate {
namespace {

constexpr int kIntegerDigits = 18;

bool IsMoney(const ColumnType& type) {
  return type.type == SqlType::kMoney || type.type == SqlType::kSmallMoney;
}

std::string PowerOfTenText(int exponent) { return "1" + std::string(exponent, '0'); }

// Whether `from`'s stored integers times 10^(to scale - from scale) are
// `to`'s and cannot leave its range: both integer forms, the scale not
// shrinking, and every value of `from` a value of `to`.
bool WidensAsInteger(const ColumnType& from, const ColumnType& to) {
  if (!values::StoredAsInteger(from) || !values::StoredAsInteger(to)) return false;
  int shift = values::RawScale(to) - values::RawScale(from);
  if (shift < 0) return false;
  if (to.type == SqlType::kMoney) return values::DigitsOf(from) + shift <= kIntegerDigits;
  if (to.type == SqlType::kSmallMoney) return from.type == SqlType::kSmallMoney;
  return values::DigitsOf(from) + shift <= values::DigitsOf(to) && !IsMoney(from);
}

std::string Call(std::string_view function, std::initializer_list<std::string> args) {
  std::string sql = "sqlengine_exact_" + std::string(function) + "(";
  bool first = true;
  for (const std::string& arg : args) {
    sql += (first ? "" : ", ") + arg;
    first = false;
  }
  return sql + ")";
}

}  // namespace

std::string ExactTypeArgument(const ColumnType& type) {
  if (type.type == SqlType::kMoney) return "'money'";
  if (type.type == SqlType::kSmallMoney) return "'smallmoney'";
  return "'decimal(" + std::to_string(type.precision) + "," + std::to_string(type.scale) + ")'";
}

std::optional<std::string> ExactLiteral(std::string_view number, const ColumnType& type) {
  values::RawResult raw = values::RawFromText(number, type);
  if (raw.fault != values::ExactFault::kNone) return std::nullopt;
  if (const auto* integer = std::get_if<std::int64_t>(&raw.raw)) {
    // -2^63 has no positive twin for SQLite to negate.
    if (*integer == INT64_MIN) return "(-9223372036854775807 - 1)";
    return std::to_string(*integer);
  }
  std::string blob = "X'";
  char hex[3];
  for (std::uint8_t byte : std::get<values::ExactKey>(raw.raw)) {
    std::snprintf(hex, sizeof hex, "%02X", byte);
    blob += hex;
  }
  return blob + "'";
}

std::string Rescaled(const std::string& sql, const ColumnType& from, const ColumnType& to) {
  if (WidensAsInteger(from, to)) {
    int shift = values::RawScale(to) - values::RawScale(from);
    return shift == 0 ? sql : "(" + sql + " * " + PowerOfTenText(shift) + ")";
  }
  if (!values::StoredAsInteger(from) && !values::StoredAsInteger(to) && from.scale == to.scale &&
      from.precision <= to.precision)
    return sql;
  return Call("rescale", {sql, ExactTypeArgument(from), ExactTypeArgument(to)});
}

std::string ToExact(const std::string& sql, const ColumnType& from, const ColumnType& to) {
  // A whole number of few enough digits scales up inside 64 bits.
  int digits = from.type == SqlType::kTinyInt    ? 3
               : from.type == SqlType::kSmallInt ? 5
               : from.type == SqlType::kInt      ? 10
               : from.type == SqlType::kBit      ? 1
                                                 : 0;
  if (digits > 0 && values::StoredAsInteger(to) &&
      digits + values::RawScale(to) <= std::min(values::DigitsOf(to), kIntegerDigits) &&
      to.type != SqlType::kSmallMoney) {
    int scale = values::RawScale(to);
    return scale == 0 ? sql : "(" + sql + " * " + PowerOfTenText(scale) + ")";
  }
  return Call("from", {sql, ExactTypeArgument(to)});
}

std::string ExactToFloat(const std::string& sql, const ColumnType& from) {
  return Call("to_float", {sql, ExactTypeArgument(from)});
}

std::string ExactToInteger(const std::string& sql, const ColumnType& from, const ColumnType& to) {
  return Call("to_integer", {sql, ExactTypeArgument(from), QuoteSqliteString(TypeDeclaration(to))});
}

std::string ExactToText(const std::string& sql, const ColumnType& from) {
  return Call("to_text", {sql, ExactTypeArgument(from)});
}

std::string ExactArithmetic(std::string_view op, const std::string& a, const ColumnType& a_type,
                            const std::string& b, const ColumnType& b_type,
                            const ColumnType& result) {
  if ((op == "+" || op == "-") && WidensAsInteger(a_type, result) &&
      WidensAsInteger(b_type, result) && !IsMoney(result)) {
    // Both operands fit the result at its scale, and the result's precision
    // has a digit to spare for the carry, all inside 18 digits.
    return "(" + Rescaled(a, a_type, result) + " " + std::string(op) + " " +
           Rescaled(b, b_type, result) + ")";
  }
  std::string_view function = op == "+"   ? "add"
                              : op == "-" ? "subtract"
                              : op == "*" ? "multiply"
                              : op == "/" ? "divide"
                                          : "modulo";
  return Call(function, {a, ExactTypeArgument(a_type), b, ExactTypeArgument(b_type),
                         ExactTypeArgument(result)});
}

std::string ExactComparison(std::string_view op, const std::string& a, const ColumnType& a_type,
                            const std::string& b, const ColumnType& b_type) {
  // Same form and scale: SQLite compares the integers, or the keys byte by byte.
  bool a_integer = values::StoredAsInteger(a_type), b_integer = values::StoredAsInteger(b_type);
  if (a_integer == b_integer && values::RawScale(a_type) == values::RawScale(b_type))
    return "(" + a + " " + std::string(op) + " " + b + ")";
  if (a_integer && b_integer) {
    // The narrower scale widened, when that stays inside 18 digits.
    if (values::RawScale(a_type) < values::RawScale(b_type) &&
        values::DigitsOf(a_type) + values::RawScale(b_type) - values::RawScale(a_type) <=
            kIntegerDigits) {
      return "((" + a + " * " +
             PowerOfTenText(values::RawScale(b_type) - values::RawScale(a_type)) + ") " +
             std::string(op) + " " + b + ")";
    }
    if (values::RawScale(b_type) < values::RawScale(a_type) &&
        values::DigitsOf(b_type) + values::RawScale(a_type) - values::RawScale(b_type) <=
            kIntegerDigits) {
      return "(" + a + " " + std::string(op) + " (" + b + " * " +
             PowerOfTenText(values::RawScale(a_type) - values::RawScale(b_type)) + "))";
    }
  }
  return "(" + Call("compare", {a, ExactTypeArgument(a_type), b, ExactTypeArgument(b_type)}) + " " +
         std::string(op) + " 0)";
}

std::string ExactAggregate(std::string_view function, const std::string& argument,
                           const ColumnType& argument_type, const ColumnType& result) {
  if (function == "sum" && values::StoredAsInteger(argument_type) &&
      values::RawScale(argument_type) == values::RawScale(result)) {
    // SQLite's own integer sum at the argument's scale; its "integer
    // overflow" is 8115. A wider result takes the total on as its form.
    std::string sum = "sum(" + argument + ")";
    if (values::StoredAsInteger(result)) return sum;
    ColumnType widest = argument_type;
    widest.type = SqlType::kDecimal;
    widest.precision = kIntegerDigits;
    widest.scale = values::RawScale(argument_type);
    return Call("rescale", {sum, ExactTypeArgument(widest), ExactTypeArgument(result)});
  }
  return Call(function, {argument, ExactTypeArgument(argument_type), ExactTypeArgument(result)});
}

}  // namespace sqlengine::tsql::generate
