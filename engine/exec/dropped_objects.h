#pragma once
// What goes with a table or view when DROP TABLE / DROP VIEW removes it:
// the rights granted on it and, for a view, its INSTEAD OF triggers. Rights
// and triggers are kept by the object's name, so without this a new object
// made later under the same name would inherit them.

#include <sqlite3.h>

#include <string>

#include "engine/tsql/statement.h"

namespace sqlengine::exec {

// After a DROP TABLE or DROP VIEW `statement` ran in `schema`; does nothing
// for other statements. Returns whether it forgot any right or owner.
bool ForgetDroppedObjects(sqlite3* db, const std::string& schema,
                          const tsql::Statement& statement);

}  // namespace sqlengine::exec
