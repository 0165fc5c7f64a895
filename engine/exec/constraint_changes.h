#pragma once
// ALTER TABLE t ADD CONSTRAINT c UNIQUE | PRIMARY KEY [CLUSTERED | NONCLUSTERED] (columns) and
// ALTER TABLE t DROP CONSTRAINT c for the constraints added so: each is a unique index named c,
// so adding one needs no table rebuild and keeps the table's data, triggers and indexes.

#include <sqlite3.h>

#include <functional>
#include <string>
#include <string_view>

#include "engine/tsql/token.h"

namespace sqlengine::exec {

// Whether `alter` (an ALTER TABLE statement's tokens) adds a UNIQUE or PRIMARY KEY constraint
// or drops a constraint, which ChangeConstraint runs.
bool IsConstraintChange(const tsql::Tokens& alter);

// Runs the change; `schema_for` gives the SQLite schema of a named database
// ("" when the table name has none). Throws SqlError 1505 when existing rows repeat a
// key, 2714 when an object named c exists, 3728 when c names no constraint the table has and
// std::runtime_error when SQLite refuses a step.
void ChangeConstraint(sqlite3* db, const tsql::Tokens& alter,
                      const std::function<std::string(std::string_view)>& schema_for);

}  // namespace sqlengine::exec
