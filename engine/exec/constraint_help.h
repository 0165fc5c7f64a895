#pragma once
// sp_helpconstraint 'table': the table's constraints in SQL Server 2000's
// result sets (the object's name; one row per constraint, a foreign key
// followed by the row naming what it references; the foreign keys of other
// tables that reference it), with 15469 / 15470 when a set would be empty.

#include <sqlite3.h>

#include <string>
#include <vector>

#include "engine/common/sink.h"
#include "engine/exec/procedures.h"

namespace sqlengine::exec {

class Session;

// Throws SqlError 15009 for a table that does not exist or cannot be read.
void HelpConstraint(Session& session, const std::vector<CallArgument>& arguments, ResultSink& sink);

// The sets after the object's name, for `table` of the connection's current
// database (named `database`; SQLite schema `schema`, "temp" for a #temp
// table), as sp_help ends with them too.
void SendConstraintSets(sqlite3* db, const std::string& database, const std::string& table,
                        ResultSink& sink, const std::string& schema = "main");

}  // namespace sqlengine::exec
