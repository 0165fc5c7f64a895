#pragma once
// IDENT_SEED, IDENT_INCR and IDENT_CURRENT of a table of the current
// database or a #temp table, named as text ('t', 'dbo.t', '[t]'): NULL for
// another database's table, an unknown one, one the user may not read or
// one without an identity column. IDENT_CURRENT of a table that never had a row is its seed.

#include <sqlite3.h>

#include "engine/exec/sql_functions.h"

namespace sqlengine::exec {

// `host` must outlive the connection. Throws std::runtime_error when SQLite
// refuses the registration.
void RegisterIdentityFunctions(sqlite3* db, FunctionHost& host);

}  // namespace sqlengine::exec
