#include "engine/tsql/generate/exact_expressions.h"

#include <algorithm>
#include <cstdio>

#include "engine/tsql/arithmetic_functions.h"
#include "engine/tsql/bind/type_rules.h"
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
                           const ColumnType& argument_type, const ColumnType& result,
                           const std::string& filter) {
  if (!argument.starts_with("DISTINCT "))
    return Call(function, {argument, ExactTypeArgument(argument_type), ExactTypeArgument(result)}) +
           filter;
  // SQLite takes DISTINCT with one argument alone. SQLite's own sum()
  // reports its overflow without the result's type, and would stop at 64
  // bits where decimal(38) goes on: only a sum at the argument's scale
  // takes it.
  if (function == "sum" && values::StoredAsInteger(argument_type) &&
      values::RawScale(argument_type) == values::RawScale(result)) {
    // SQLite's own integer sum at the argument's scale; its "integer
    // overflow" is 8115. A wider result takes the total on as its form.
    std::string sum = "sum(" + argument + ")" + filter;
    if (values::StoredAsInteger(result)) return sum;
    ColumnType widest = argument_type;
    widest.type = SqlType::kDecimal;
    widest.precision = kIntegerDigits;
    widest.scale = values::RawScale(argument_type);
    return Call("rescale", {sum, ExactTypeArgument(widest), ExactTypeArgument(result)});
  }
  // The others add the distinct stored values in the one-argument
  // sqlengine_exact_collect and take the result from its total and count.
  return Call("collected", {"sqlengine_exact_collect(" + argument + ")" + filter,
                            ExactTypeArgument(argument_type), ExactTypeArgument(result),
                            function == "avg" ? "1" : "0"});
}

std::string ExactCast(const std::string& sql, const ColumnType& from, const ColumnType& to) {
  if (WidensAsInteger(from, to)) return Rescaled(sql, from, to);
  return Call("cast", {sql, ExactTypeArgument(from), ExactTypeArgument(to)});
}

namespace {

using bind::BoundExpr;
using bind::BoundKind;
using bind::ClassOf;
using bind::TypeClass;

bool Exact(const ColumnType& type) { return values::IsExactType(type.type); }

// Whether a value of `from` converts to `to` without changing its stored
// form: the same type, or a decimal of the same form and scale and no fewer
// digits.
bool SameForm(const ColumnType& from, const ColumnType& to) {
  if (from.type != to.type) return false;
  if (from.type != SqlType::kDecimal) return true;
  return from.scale == to.scale && from.precision <= to.precision &&
         values::StoredAsInteger(from) == values::StoredAsInteger(to);
}

// The exact type an operand takes part in exact arithmetic or comparison
// as: whole numbers as decimal(n, 0); exact types as they are.
ColumnType OperandType(const ColumnType& type) {
  if (Exact(type)) return type;
  ColumnType operand = bind::AsDecimal(type);
  if (operand.type != SqlType::kDecimal) return type;
  return operand;
}

bool IsWhole(const ColumnType& type) { return ClassOf(type.type) == TypeClass::kInteger; }

// A type every value of `a` and `b` fits exactly: the larger scale and the
// larger whole part, within 38 digits.
ColumnType Covering(const ColumnType& a, const ColumnType& b) {
  ColumnType x = bind::AsDecimal(a), y = bind::AsDecimal(b);
  int scale = std::max(x.scale, y.scale);
  ColumnType type{SqlType::kDecimal};
  type.precision = std::min(38, scale + std::max(x.precision - x.scale, y.precision - y.scale));
  type.scale = scale;
  if (SameForm(a, b)) return b;
  return type;
}

const ColumnType kFloat{SqlType::kFloat};

// a op b for a comparison operator, where a or b is exact.
std::string Compared(std::string_view op, const BoundExpr& a, const BoundExpr& b,
                     ExprWriter& writer) {
  std::string left = writer.Expr(a), right = writer.Expr(b);
  bool exact_pair = (Exact(a.type) || IsWhole(a.type)) && (Exact(b.type) || IsWhole(b.type));
  if (!exact_pair) {
    // Beside a float (or anything else) the exact value is a float.
    return "(" + ExactConverted(left, a.type, kFloat) + " " + std::string(op) + " " +
           ExactConverted(right, b.type, kFloat) + ")";
  }
  ColumnType a_type = OperandType(a.type), b_type = OperandType(b.type);
  return ExactComparison(op, ExactConverted(left, a.type, a_type), a_type,
                         ExactConverted(right, b.type, b_type), b_type);
}

std::string Negated(const BoundExpr& e, ExprWriter& writer) {
  const BoundExpr& value = *e.args[0];
  std::string sql = writer.Expr(value);
  if (e.type.type == SqlType::kDecimal && values::StoredAsInteger(e.type))
    return "(- " + ExactConverted(sql, value.type, e.type) + ")";
  // money's lowest value has no positive twin; keys are negated by the engine.
  ColumnType zero{SqlType::kDecimal};
  zero.precision = 1;
  return ExactArithmetic("-", "0", zero, sql, value.type, e.type);
}

std::optional<std::string> Arithmetic(const BoundExpr& e, ExprWriter& writer) {
  const BoundExpr& a = *e.args[0];
  const BoundExpr& b = *e.args[1];
  if (Exact(e.type)) {
    ColumnType a_type = OperandType(a.type), b_type = OperandType(b.type);
    return ExactArithmetic(e.op, ExactConverted(writer.Expr(a), a.type, a_type), a_type,
                           ExactConverted(writer.Expr(b), b.type, b_type), b_type, e.type);
  }
  if (!Exact(a.type) && !Exact(b.type)) return std::nullopt;
  // A float result: the exact operand is read as a float.
  std::string left = ExactConverted(writer.Expr(a), a.type, kFloat);
  std::string right = ExactConverted(writer.Expr(b), b.type, kFloat);
  std::string result =
      e.op == "/" || e.op == "%"
          ? "CAST(" + left + " AS REAL) " + e.op + " " + std::string(kDivisorFunction) + "(" +
                right + ")"
          : left + " " + e.op + " " + right;
  // A real result is held in single precision, as in the plain generator.
  if (e.type.type == SqlType::kReal) return "sqlengine_real(" + result + ")";
  if (e.type.type == SqlType::kFloat) return "sqlengine_float(" + result + ")";
  return "(" + result + ")";
}

// x [NOT] IN (query) with an exact value on either side: both sides in one
// type that holds every value of each exactly (a float beside a float).
std::optional<std::string> InQuery(const BoundExpr& e, ExprWriter& writer) {
  const BoundExpr& value = *e.args[0];
  const ColumnType& listed = e.query->columns.front().type;
  if (!Exact(value.type) && !Exact(listed)) return std::nullopt;
  if (Exact(value.type) && SameForm(value.type, listed)) return std::nullopt;
  bool exact_pair =
      (Exact(value.type) || IsWhole(value.type)) && (Exact(listed) || IsWhole(listed));
  ColumnType common = exact_pair ? Covering(OperandType(value.type), OperandType(listed)) : kFloat;
  return "(" + ExactConverted(writer.Expr(value), value.type, common) +
         (e.negated ? " NOT IN (" : " IN (") + "WITH \"sqlengine_in\" (\"v\") AS (" +
         writer.Query(*e.query) + ") SELECT " + ExactConverted("\"v\"", listed, common) +
         " FROM \"sqlengine_in\"))";
}

std::optional<std::string> Case(const BoundExpr& e, ExprWriter& writer) {
  size_t pairs = e.args.size() - (e.has_else ? 1 : 0);
  bool exact = Exact(e.type);
  for (size_t k = 1; k < pairs && !exact; k += 2) exact = Exact(e.args[k]->type);
  if (e.has_else && !exact) exact = Exact(e.args.back()->type);
  if (!exact) return std::nullopt;
  auto result = [&](const BoundExpr& branch) {
    return branch.null_literal ? std::string("NULL")
                               : ExactConverted(writer.Expr(branch), branch.type, e.type);
  };
  std::string sql = "CASE";
  for (size_t k = 0; k < pairs; k += 2)
    sql += " WHEN " + writer.Expr(*e.args[k]) + " THEN " + result(*e.args[k + 1]);
  if (e.has_else) sql += " ELSE " + result(*e.args.back());
  return sql + " END";
}

std::optional<std::string> Convert(const BoundExpr& e, ExprWriter& writer) {
  const BoundExpr& value = *e.args[0];
  const ColumnType& from = value.type;
  const ColumnType& to = e.type;
  if (!Exact(from) && !Exact(to)) return std::nullopt;
  if (value.null_literal) return "NULL";
  TypeClass source = ClassOf(from.type), target = ClassOf(to.type);
  if (Exact(to)) {
    std::string sql = writer.Expr(value);
    if (Exact(from)) return SameForm(from, to) ? sql : ExactCast(sql, from, to);
    if (source == TypeClass::kDateTime)
      return ToExact("sqlengine_datetime_days(" + sql + ")", kFloat, to);
    if (from.type == SqlType::kSqlVariant) {
      // The variant converted to `to` comes back as its exact text (or a
      // whole number), which reads as `to` unchanged.
      return ToExact(
          "sqlengine_variant_value(" + sql + ", " + QuoteSqliteString(TypeDeclaration(to)) + ")",
          ColumnType{SqlType::kVarChar, 64}, to);
    }
    return ToExact(sql, from, to);
  }
  std::string sql = writer.Expr(value);
  if (to.type == SqlType::kBit || target == TypeClass::kInteger)
    return ExactToInteger(sql, from, to);
  if (target == TypeClass::kApproximate) return ExactToFloat(sql, from);
  if (target == TypeClass::kCharacter) {
    std::string style = e.args.size() > 1 ? writer.Expr(*e.args[1]) : std::string("0");
    if (to.length == kMaxLength) return Call("style", {sql, ExactTypeArgument(from), style});
    // Text longer than the target's length fails as SQL Server fails it.
    return Call("style", {sql, ExactTypeArgument(from), style, std::to_string(to.length),
                          QuoteSqliteString(std::string(TypeName(to.type)))});
  }
  if (target == TypeClass::kDateTime) {
    std::string days = "sqlengine_days_datetime(" + ExactToFloat(sql, from) + ")";
    return to.type == SqlType::kSmallDateTime ? "sqlengine_smalldatetime(" + days + ")" : days;
  }
  if (to.type == SqlType::kSqlVariant)
    return "sqlengine_variant(" + ExactToText(sql, from) + ", " +
           QuoteSqliteString(TypeDeclaration(from)) + ")";
  if (to.type == SqlType::kBinary || to.type == SqlType::kVarBinary) {
    const std::string length = std::to_string(to.length);
    const std::string fixed = to.type == SqlType::kBinary ? "1" : "0";
    // money's stored form is its count of ten-thousandths, the integer its
    // bytes hold.
    if (from.type != SqlType::kDecimal)
      return "sqlengine_integer_bytes(" + sql + ", " +
             (from.type == SqlType::kMoney ? "8" : "4") + ", " + length + ", " + fixed + ")";
    return "sqlengine_value_bytes(" + ExactToText(sql, from) + ", " +
           QuoteSqliteString(TypeDeclaration(from)) + ", " + length + ", " + fixed + ")";
  }
  return ExactToFloat(sql, from);
}

std::optional<std::string> FunctionCall(const BoundExpr& e, ExprWriter& writer) {
  bool exact_argument =
      std::any_of(e.args.begin(), e.args.end(), [](const auto& arg) { return Exact(arg->type); });
  if (!exact_argument && !Exact(e.type)) return std::nullopt;
  const std::string& name = e.sql;
  // SELECT @v = value storing the variable as the row is worked out: the
  // value goes in, and comes back, in the variable's own stored form.
  if (name == bind::kAssignFunction && e.args.size() == 2) {
    const BoundExpr& value = *e.args[1];
    return name + "(" + writer.Expr(*e.args[0]) + ", " +
           (value.null_literal ? std::string("NULL")
                               : ExactConverted(writer.Expr(value), value.type, e.type)) +
           ")";
  }
  if (name == "ifnull" || name == "coalesce" || name == "nullif") {
    std::string sql = name + "(";
    for (size_t k = 0; k < e.args.size(); ++k) {
      const BoundExpr& arg = *e.args[k];
      sql += (k > 0 ? ", " : "") + (arg.null_literal
                                        ? std::string("NULL")
                                        : ExactConverted(writer.Expr(arg), arg.type, e.type));
    }
    return sql + ")";
  }
  if (!e.args.empty() && Exact(e.args[0]->type) && Exact(e.type)) {
    const BoundExpr& value = *e.args[0];
    std::string sql = writer.Expr(value);
    std::string from = ExactTypeArgument(value.type), result = ExactTypeArgument(e.type);
    if (name == "round" && e.args.size() >= 2) {
      std::string truncate = e.args.size() > 2 ? writer.Expr(*e.args[2]) : std::string("NULL");
      return Call("round", {sql, from, writer.Expr(*e.args[1]), truncate, result});
    }
    if (name == "floor") return Call("floor", {sql, from, result});
    if (name == "ceil") return Call("ceiling", {sql, from, result});
    if (name == "abs") return Call("abs", {sql, from, result});
    if (name == "sign") return Call("sign", {sql, from, result});
    if (name == "power" && e.args.size() == 2) {
      const BoundExpr& exponent = *e.args[1];
      return Call("power", {sql, from, ExactConverted(writer.Expr(exponent), exponent.type, kFloat),
                            result});
    }
  }
  // A user function is handed exact arguments as their text and answers an
  // exact result as text, every digit kept. Any other function reads exact
  // arguments as floats; an exact result is taken from the float it answers.
  bool user_function = name.starts_with("sqlengine_user_function") ||
                       name.starts_with("sqlengine_table_function");
  std::string sql = name + "(";
  for (size_t k = 0; k < e.args.size(); ++k) {
    const BoundExpr& arg = *e.args[k];
    std::string argument = writer.Argument(arg);
    if (Exact(arg.type)) {
      argument = user_function ? ExactToText(writer.Expr(arg), arg.type)
                               : ExactToFloat(writer.Expr(arg), arg.type);
    }
    sql += (k > 0 ? ", " : "") + argument;
  }
  sql += ")";
  return Exact(e.type) ? ToExact(sql, kFloat, e.type) : sql;
}

std::optional<std::string> Literal(const BoundExpr& e) {
  if (!Exact(e.type) || e.null_literal) return std::nullopt;
  // A column's declared default, in parentheses, is in the stored form already.
  if (e.sql.starts_with("(")) return e.sql;
  // A money constant of more than four decimals is written round(number, 4);
  // the stored form rounds the number itself.
  std::string number = e.sql;
  if (number.starts_with("round(")) number = number.substr(6, number.find(',') - 6);
  if (std::optional<std::string> literal = ExactLiteral(number, e.type)) return *literal;
  // Past the type's range: the conversion reports it when it runs.
  return Call("from", {number, ExactTypeArgument(e.type)});
}

}  // namespace

std::string ExactConverted(const std::string& sql, const ColumnType& from, const ColumnType& to) {
  if (Exact(from) && Exact(to)) return SameForm(from, to) ? sql : ExactCast(sql, from, to);
  if (Exact(to)) {
    if (ClassOf(from.type) == TypeClass::kDateTime)
      return ToExact("sqlengine_datetime_days(" + sql + ")", kFloat, to);
    return ToExact(sql, from, to);
  }
  if (!Exact(from)) return sql;
  switch (ClassOf(to.type)) {
    case TypeClass::kInteger:
      return ExactToInteger(sql, from, to);
    case TypeClass::kCharacter:
      return ExactToText(sql, from);
    default:
      return ExactToFloat(sql, from);
  }
}

std::optional<std::string> StoredFormExpr(const BoundExpr& e, ExprWriter& writer) {
  switch (e.kind) {
    case BoundKind::kLiteral:
      return Literal(e);
    case BoundKind::kNegate:
      if (!Exact(e.type)) return std::nullopt;
      return Negated(e, writer);
    case BoundKind::kArithmetic:
      return Arithmetic(e, writer);
    case BoundKind::kComparison:
      if (e.binary_comparison || (!Exact(e.args[0]->type) && !Exact(e.args[1]->type)))
        return std::nullopt;
      return Compared(e.op, *e.args[0], *e.args[1], writer);
    case BoundKind::kBetween: {
      if (e.binary_comparison || std::none_of(e.args.begin(), e.args.end(),
                                              [](const auto& arg) { return Exact(arg->type); }))
        return std::nullopt;
      std::string sql = "(" + Compared(">=", *e.args[0], *e.args[1], writer) + " AND " +
                        Compared("<=", *e.args[0], *e.args[2], writer) + ")";
      return e.negated ? "(NOT " + sql + ")" : sql;
    }
    case BoundKind::kInList: {
      if (e.binary_comparison || std::none_of(e.args.begin(), e.args.end(),
                                              [](const auto& arg) { return Exact(arg->type); }))
        return std::nullopt;
      // x IN (a, b) is x = a OR x = b, unknown as SQL's IN is.
      std::string sql;
      for (size_t k = 1; k < e.args.size(); ++k)
        sql += (k > 1 ? " OR " : "") + Compared("=", *e.args[0], *e.args[k], writer);
      return e.negated ? "(NOT (" + sql + "))" : "(" + sql + ")";
    }
    case BoundKind::kInQuery:
      if (e.binary_comparison) return std::nullopt;
      return InQuery(e, writer);
    case BoundKind::kCase:
      return Case(e, writer);
    case BoundKind::kConvert:
      return Convert(e, writer);
    case BoundKind::kCall:
      return FunctionCall(e, writer);
    default:
      return std::nullopt;
  }
}

}  // namespace sqlengine::tsql::generate
