#pragma once
// Pins a keyset query's reads to one database.

#include <string>

#include "engine/exec/keyset_query.h"

namespace sqlengine::exec {

// Makes the statements `query` reads rows with (RowByKey, Seek) name its
// table in `database` (the one current when the cursor opened), so that a
// FETCH after a USE still reads the cursor's table. The keyed query, run at
// the open, is left as written.
void ReadInDatabase(KeysetQuery& query, const std::string& database);

}  // namespace sqlengine::exec
