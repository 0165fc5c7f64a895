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

// SUM or AVG (`function`: "sum" / "avg") of `argument`, as `result`.
std::string ExactAggregate(std::string_view function, const std::string& argument,
                           const ColumnType& argument_type, const ColumnType& result);

}  // namespace sqlengine::tsql::generate
