#pragma once
// T-SQL's string functions that SQLite lacks or answers differently: UPPER
// and LOWER of every letter (SQLite's change ASCII letters only), REPLACE
// without regard to case, STUFF,
// REVERSE, SPACE, REPLICATE, PATINDEX, ASCII, CHAR, NCHAR, SOUNDEX,
// DIFFERENCE, QUOTENAME, PARSENAME, ISNUMERIC, ISDATE, STR, and DATALENGTH
// as sqlengine_datalength (the binder supplies the argument's type).

#include <sqlite3.h>

namespace sqlengine::exec {

// Throws std::runtime_error when SQLite refuses a registration.
void RegisterStringFunctions(sqlite3* db);

}  // namespace sqlengine::exec
