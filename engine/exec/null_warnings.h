#pragma once
// The SQLite functions behind warning 8153: the aggregate
// sqlengine_null_count(x) counts the NULLs among its rows' x, and
// sqlengine_nulls_noted(value, nulls) passes an aggregate's value on and,
// when nulls is positive, tells `host` (FunctionHost::NoteNullEliminated;
// nothing is told without a host).

#include <sqlite3.h>

namespace sqlengine::exec {

class FunctionHost;

// Throws std::runtime_error when SQLite refuses a registration.
void RegisterNullWarnings(sqlite3* db, FunctionHost* host);

}  // namespace sqlengine::exec
