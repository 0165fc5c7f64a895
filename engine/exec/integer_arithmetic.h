#pragma once
// SQLite functions for T-SQL's integer arithmetic, which the generated SQL
// calls for + - * / % and unary minus of tinyint, smallint, int and bigint
// operands. SQLite computes in 64 bits and turns a 64-bit overflow into a
// float; SQL Server checks every operation against its result type's range.
//
// sqlengine_int_add(a, b, width), sqlengine_int_subtract(a, b, width),
// sqlengine_int_multiply(a, b, width): the result, or error 8115 naming
// the type of `width` bytes (1 tinyint, 2 smallint, 4 int, 8 bigint) when
// it leaves that type's range. sqlengine_int_divide(a, b, width) and
// sqlengine_int_modulo(a, b, width): 8134 for a zero divisor, 8115 for the
// one quotient that overflows (the type's minimum divided by -1).
// sqlengine_int_range(x, width): x, or 8115 beyond the range (ABS, SUM).
// sqlengine_int_narrowed(x, width): x converted to a narrower type, or 220
// with the value for tinyint and smallint, 8115 for int.
// sqlengine_float_integer(x, width): a float x truncated to the integer type,
// or 232 with the value past its range. NULL operands give NULL.

#include <sqlite3.h>

namespace sqlengine::exec {

void RegisterIntegerArithmetic(sqlite3* db);

}  // namespace sqlengine::exec
