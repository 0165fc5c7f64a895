#pragma once
// The SQLite function behind T-SQL's binary '+' (see tsql/arithmetic_functions.h):
// sqlengine_add(a, b) is NULL when either is NULL; concatenates when both are
// character or binary data; adds when both are numbers; converts character
// data to the other side's number type (245 when it is none), and moves a
// datetime text by a number of days.

#include <sqlite3.h>

namespace sqlengine::exec {

// Throws std::runtime_error when SQLite refuses the registration.
void RegisterAdditionFunction(sqlite3* db);

}  // namespace sqlengine::exec
