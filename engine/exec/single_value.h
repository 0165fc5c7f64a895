#pragma once
// The aggregate sqlengine_single_value(x) that the front end wraps around
// the value of a scalar subquery: NULL for no row, the value for one row,
// error 512 for more (SQLite would take the first row silently).

#include <sqlite3.h>

namespace sqlengine::exec {

// Throws std::runtime_error when SQLite refuses the registration.
void RegisterSingleValue(sqlite3* db);

}  // namespace sqlengine::exec
