#pragma once
// The triggers of a database: kept as their CREATE text in the database's
// own triggers table (so they travel with its file through detach, attach,
// backup and restore), listed in sysobjects as xtype 'TR', found for a
// table and a kind of change.

#include <sqlite3.h>

#include <string>
#include <string_view>
#include <vector>

#include "engine/tsql/statement.h"

namespace sqlengine::exec {

class Session;

// The database's triggers table: name, table_name, instead_of, events
// ('I', 'U', 'D' as fired for), encrypted, definition (the CREATE text). Made
// with the first trigger.
inline constexpr const char* kTriggersTable = "sqlengine_triggers";

// Whether the database reached as `schema` has the triggers table.
bool HasTriggers(sqlite3* db, const std::string& schema);

enum class TriggerEvent { kInsert, kUpdate, kDelete };

// One stored trigger, as a firing needs it.
struct StoredTrigger {
  std::string name;
  std::string table;
  bool instead_of = false;
  std::string events;  // 'I', 'U', 'D': the changes it fires for
  std::string text;    // the CREATE / ALTER TRIGGER statement as written
};

// CREATE / ALTER TRIGGER on a table of the current database, or INSTEAD OF
// on a view. Throws 208 for a table that does not exist (or a view for an
// AFTER trigger), 2714 when CREATE finds the name
// taken, 208 when ALTER finds no such trigger, 3704 without the right to
// alter the table, the body's syntax errors. `written` is the text it keeps.
void DefineTrigger(Session& session, const tsql::Statement& statement,
                   const std::string& written);

// DROP TRIGGER name [, ...]. Throws 3701 for a missing one, 3704 without
// the right to alter its table.
void DropTriggers(Session& session, const tsql::Statement& statement);

// The triggers of `table` in `schema` that fire for `event`, in the order
// they were created; none when the database has no triggers table. Runs
// the engine's own SQL on `db`.
std::vector<StoredTrigger> TriggersFor(sqlite3* db, const std::string& schema,
                                       const std::string& table, TriggerEvent event);

// The table the trigger `trigger` of `schema` belongs to; empty when there
// is no such trigger.
std::string TableOfTrigger(sqlite3* db, const std::string& schema, std::string_view trigger);

// Every trigger of `table`, in the order they fire.
std::vector<StoredTrigger> TriggersOf(sqlite3* db, const std::string& schema,
                                      const std::string& table);

// Drops every trigger of `table` (its table is being dropped).
void ForgetTableTriggers(sqlite3* db, const std::string& schema, const std::string& table);

}  // namespace sqlengine::exec
