#pragma once
// The value a variable holds after SET @v = expr, DECLARE @v type = expr or
// SELECT @v = expr: the expression's value converted to the variable's
// declared type by SQL Server's rules for assignment.

#include <optional>

#include "engine/common/types.h"
#include "engine/tsql/token.h"

namespace sqlengine::exec {

// A number (integer, decimal or float) into datetime or smalldatetime counts
// days from 1900-01-01, its fraction a part of a day (SET @d = 1 is
// 1900-01-02, 1.5 is noon of that day); every other value as ConvertForType.
// Throws SqlError 8115 for a number of days outside the type's range, else
// as ConvertForType; an arithmetic error the session's settings turn into
// NULL gives NULL (arithmetic_errors.h). `source`, the expression's type
// where known: a uniqueidentifier into a character type shorter than its 36
// characters is 8170, never cut.
Value AssignedValue(const Value& value, const ColumnType& type,
                    const std::optional<ColumnType>& source = std::nullopt);

// The expression to evaluate for a variable of `type`: for a sql_variant,
// CAST((expression) AS sql_variant), so the value keeps the expression's own
// type as its base type; for binary(n) or varbinary(n), CAST((expression) AS
// that type), so a number or date is laid out by its own type; for an
// integer type, CAST((expression) AS that type), so money is rounded where
// other numbers are cut; the expression itself otherwise.
// tinyint, smallint, int or bigint: the types AssignedExpression reads an
// expression into through CAST.
bool IsWholeNumberType(SqlType type);

tsql::Tokens AssignedExpression(tsql::Tokens expression, const ColumnType& type, int line);

}  // namespace sqlengine::exec
