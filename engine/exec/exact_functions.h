#pragma once
// The SQLite functions generated SQL uses on decimal, numeric, money and
// smallmoney values in their stored form (values/exact_storage.h: an integer
// of units of the type's scale, or a 16-byte key past 18 digits). A type
// argument is a declaration as the schema stores it ('decimal(10,2)',
// 'money'), a constant, parsed once per statement. NULL in gives NULL out.
//
//   sqlengine_exact_from(v, 'to')              any value: integer, float
//                                              (rounded), text (parsed) -> raw
//   sqlengine_exact_rescale(raw, 'from', 'to') raw -> raw of another type
//   sqlengine_exact_to_float(raw, 't')         -> double
//   sqlengine_exact_to_text(raw, 't')          -> "-12.50"
//   sqlengine_exact_to_integer(raw, 't', 'int type')  truncated toward zero
//   sqlengine_exact_add / _subtract / _multiply / _divide / _modulo
//       (a, 'ta', b, 'tb', 'result')           the exact result, then rounded
//                                              (products) or truncated
//                                              (quotients) to the result type
//   sqlengine_exact_compare(a, 'ta', b, 'tb')  -1, 0 or 1
//   sqlengine_exact_round(raw, 't', n, truncate, 'result')  ROUND
//   sqlengine_exact_ceiling / _floor / _abs / _sign (raw, 't', 'result')
//   sqlengine_exact_power(raw, 't', y, 'result')  exact for whole y >= 0
//   sqlengine_exact_cast(raw, 'from', 'to')   CAST: rescale, 8115 naming both types
//   sqlengine_exact_style(raw, 't', style)     CONVERT to text: decimals in full,
//                                              money to 2 decimals (style 1
//                                              with thousands separators) or 4
//   sqlengine_exact_check(v, 't')              v when it is in t's stored form
//                                              and range, else the error
//
// Failures end the statement with SQL Server's errors: 8115 past the result
// type's range, 8134 for a zero divisor, 8114 for text that is no number,
// 3623 for a power outside its domain.

#include <sqlite3.h>

namespace sqlengine::exec {

// Registers every function above. Throws std::runtime_error when SQLite refuses.
void RegisterExactFunctions(sqlite3* db);

}  // namespace sqlengine::exec
