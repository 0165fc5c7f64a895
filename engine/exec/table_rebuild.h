#pragma once
// Rebuilding a table under a new definition, for changes SQLite keeps in the
// table's storage (taking out a PRIMARY KEY or UNIQUE constraint, whose index
// belongs to the table): the rows move to a table made from the new text,
// rowids included, the old table is dropped and the new one takes its name,
// and the table's indexes, triggers and identity counter are made again.

#include <sqlite3.h>

#include <string>

#include "engine/exec/foreign_keys_off.h"
#include "engine/exec/table_definition.h"

namespace sqlengine::exec {

// Rebuilds `definition.table` in `schema` from `sql`, which must keep every
// column in its place. Needs a ForeignKeysOff and a savepoint of the caller's,
// rolled back on a throw. Throws SqlError 3725 when a foreign key of another
// table refers to a key the new definition no longer has, 2627 / 1505 when the
// rows repeat a key it keeps, std::runtime_error when SQLite refuses a step.
void RebuildTable(sqlite3* db, const std::string& schema, const TableDefinition& definition,
                  const std::string& sql, const std::string& constraint);

}  // namespace sqlengine::exec
