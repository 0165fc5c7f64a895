#pragma once
// sqlengine_number_style(value, kind, scale, style): a money, decimal, float
// or real value as CONVERT to character data writes it.
// - money and smallmoney: style 0 two decimals, 1 with thousands
//   separators, 2 four decimals;
// - decimal and numeric: every digit of the type's scale;
// - float and real: style 0 at most 6 significant digits, in scientific
//   notation with a three-digit exponent when shorter (1e+006), style 1
//   always 8 digits, style 2 always 16.
// NULL for NULL.

#include <sqlite3.h>

#include <string>
#include <string_view>

namespace sqlengine::exec {

// kind: "money", "decimal", "float" or "real".
std::string NumberStyled(double value, std::string_view kind, int scale, int style);

// Throws std::runtime_error when SQLite refuses the registration.
void RegisterNumberStyles(sqlite3* db);

}  // namespace sqlengine::exec
