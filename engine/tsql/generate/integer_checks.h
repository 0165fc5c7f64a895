#pragma once
// The SQL for T-SQL's integer arithmetic: each + - * / % and unary minus of
// a tinyint, smallint, int or bigint result goes through the engine's
// checked functions (exec/integer_arithmetic.h), so an overflow anywhere in
// an expression is error 8115 as in SQL Server, not a float or a value
// caught only when the result is output.

#include <string>
#include <string_view>

#include "engine/common/types.h"

namespace sqlengine::tsql::generate {

// Arithmetic with a result of `type` needs the checked functions: an
// integer type other than bit.
bool CheckedInteger(const ColumnType& type);

// `left op right` (op one of + - * / %) within `type`'s range.
std::string CheckedArithmetic(std::string_view op, const std::string& left,
                              const std::string& right, const ColumnType& type);

// `-operand` within `type`'s range.
std::string CheckedNegation(const std::string& operand, const ColumnType& type);

// `value` (an ABS or a SUM of `type`) within that type's range.
std::string CheckedRange(const std::string& value, const ColumnType& type);

// `value` of integer type `from` converted to integer type `to`: checked
// against `to`'s range when it is narrower.
std::string CheckedNarrowing(const std::string& value, const ColumnType& from,
                             const ColumnType& to);

// `value` of type float or real converted to integer type `to`: truncated,
// and checked against `to`'s range.
std::string CheckedFromFloat(const std::string& value, const ColumnType& to);

}  // namespace sqlengine::tsql::generate
