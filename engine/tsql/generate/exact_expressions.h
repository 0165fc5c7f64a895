#pragma once
// Generated SQL for decimal, numeric, money and smallmoney expressions in
// their stored form (values/exact_storage.h): every expression of an exact
// type yields that form at its own type's scale. Plain SQLite integer
// operators are used where they cannot overflow or lose a digit (same-form
// values whose result stays within 18 digits); everything else calls the
// engine's functions (exec/exact_functions.h), which fail with SQL Server's
// errors. Inputs are SQL texts with their bound types.

#include <optional>
#include <string>
#include <string_view>

#include "engine/common/types.h"
#include "engine/tsql/bind/bound_tree.h"

namespace sqlengine::tsql::generate {

// The type argument of the engine's functions: 'decimal(10,2)', 'money'.
std::string ExactTypeArgument(const ColumnType& type);

// A written number ("1.50", "-3", "$12.5" without its sign) as the stored
// form of `type`: an integer or a blob literal. nullopt when the number does
// not fit the type (the caller converts at run time and reports 8115 there).
std::optional<std::string> ExactLiteral(std::string_view number, const ColumnType& type);

// `sql` (stored form of `from`) as the stored form of `to`; 8115 at run time
// when the value leaves `to`'s range.
std::string Rescaled(const std::string& sql, const ColumnType& from, const ColumnType& to);

// A value of a type that is not exact (integer, float, character data) as
// the stored form of `to`.
std::string ToExact(const std::string& sql, const ColumnType& from, const ColumnType& to);

// The stored form of `from` as a float, an integer type (truncated toward
// zero, bit: non-zero) or text with every digit of the scale.
std::string ExactToFloat(const std::string& sql, const ColumnType& from);
std::string ExactToInteger(const std::string& sql, const ColumnType& from, const ColumnType& to);
std::string ExactToText(const std::string& sql, const ColumnType& from);

// a op b (op one of + - * / %) of the types the binder gave, as `result`.
std::string ExactArithmetic(std::string_view op, const std::string& a, const ColumnType& a_type,
                            const std::string& b, const ColumnType& b_type,
                            const ColumnType& result);

// a op b (op one of = <> < > <= >=), true, false or NULL.
std::string ExactComparison(std::string_view op, const std::string& a, const ColumnType& a_type,
                            const std::string& b, const ColumnType& b_type);

// SUM or AVG (`function`: "sum" / "avg") of `argument` ("DISTINCT x" for
// the distinct values of x), as `result`; `filter` (" FILTER (WHERE ...)"
// or empty) limits the rows the aggregate reads.
std::string ExactAggregate(std::string_view function, const std::string& argument,
                           const ColumnType& argument_type, const ColumnType& result,
                           const std::string& filter = "");

// CAST / CONVERT of stored form `from` to exact `to`: as Rescaled, with
// 8115 naming the source type ("converting numeric to data type numeric").
std::string ExactCast(const std::string& sql, const ColumnType& from, const ColumnType& to);

// `sql`, a value of `from` (exact values in their stored form), as a value
// of `to` where T-SQL converts implicitly: between exact types rescaled,
// into an exact type encoded, out of one decoded; other pairs as they are.
std::string ExactConverted(const std::string& sql, const ColumnType& from, const ColumnType& to);

// The generator, for the parts of an expression it writes itself.
class ExprWriter {
 public:
  // The SQL of `e` (exact values in their stored form).
  virtual std::string Expr(const bind::BoundExpr& e) = 0;
  // `e` as a function's argument (char(n) values with their blanks).
  virtual std::string Argument(const bind::BoundExpr& e) = 0;
  virtual std::string Query(const bind::BoundQuery& query) = 0;

 protected:
  ~ExprWriter() = default;
};

// The SQL of `e` where exact values take part in it (as operands, branches,
// arguments or its result), reading and yielding them in their stored form;
// nullopt where the generator's own SQL for `e` is already right. Written
// values, UNION columns and aggregates are the generator's (see
// ExactConverted and ExactAggregate).
std::optional<std::string> StoredFormExpr(const bind::BoundExpr& e, ExprWriter& writer);

}  // namespace sqlengine::tsql::generate
