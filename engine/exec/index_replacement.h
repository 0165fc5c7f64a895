#pragma once
// CREATE [UNIQUE] INDEX ix ON t (...) WITH DROP_EXISTING: the table's index ix
// is replaced by the new definition in one step, or left as it was when the
// new one cannot be built.

#include <sqlite3.h>

#include "engine/tsql/name_resolver.h"
#include "engine/tsql/statement.h"

namespace sqlengine::exec {

// Runs the statement (its DROP_EXISTING option already taken out). The caller
// holds the table's write lock. Throws SqlError 7999 when the table has no
// index of that name, 1505 when the rows repeat a key of a new unique index.
void ReplaceIndex(sqlite3* db, const tsql::Statement& create, tsql::NameResolver& resolver);

}  // namespace sqlengine::exec
