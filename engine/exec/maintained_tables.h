#pragma once
// The table a maintenance statement or procedure names (UPDATE STATISTICS,
// DBCC CHECKIDENT / DBREINDEX, sp_rename ...), found as T-SQL finds it: in
// the current database, `db..t` / `db.dbo.t` in another, `#t` among the
// session's temporary tables.

#include <optional>
#include <string>
#include <string_view>

#include "engine/tsql/dotted_name.h"

namespace sqlengine::exec {

class Session;

struct MaintainedTable {
  std::string schema;    // SQLite schema: "main", "temp" or an attached alias
  std::string name;      // as stored
  std::string database;  // the database holding it ("tempdb" for #t)
};

// nullopt when the database holds no such table; throws SqlError 911 for an
// unknown database.
std::optional<MaintainedTable> FindMaintainedTable(Session& session, const tsql::DottedName& name);

// The same for a name written as text ('dbo.t', '[my table]', 'db..t').
std::optional<MaintainedTable> FindMaintainedTable(Session& session, std::string_view written);

// Whether the login may change `table`'s definition and upkeep (dbo,
// db_owner, db_ddladmin of its database; a temporary table is its session's).
bool MayMaintain(Session& session, const MaintainedTable& table);

}  // namespace sqlengine::exec
