#pragma once
// A session's #temp tables as tempdb's catalog shows them. SQLite keeps them
// in the temporary database of the session's connection under the names
// they were given ("#orders"). tempdb's catalog names each as SQL Server
// does: the name, '_' up to 116 characters and a 12-digit hexadecimal number
// the engine counts from its start, 128 characters in all
// ("#orders____...____00000000001A"); a table variable keeps its own name
// ("#0A1B2C3D"). kTempObjectsTable, in the temporary database too (so it
// rolls back and moves with the tables), holds each table's catalog name,
// object id and creation time.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace sqlengine::exec {

inline constexpr const char* kTempObjectsTable = "sqlengine_temp_objects";

// Temporary tables' object ids: kTempObjectIdBase + the engine's number of
// the table, apart from every database's own objects (numbered by rowid
// from 1000, or by the objects table from 2009058209).
inline constexpr std::int64_t kTempObjectIdBase = 1000000000;

// The name tempdb's catalog gives the engine's `number`-th temporary table.
std::string TempCatalogName(std::string_view name, std::uint64_t number, bool table_variable);

// Records the new temporary table `name`, the engine's `number`-th (a table
// of that name recorded before, and every table dropped since, is
// forgotten). Throws std::runtime_error.
void RecordTempTable(sqlite3* db, const std::string& name, std::uint64_t number,
                     bool table_variable);

// The catalog name recorded for the temporary table `name` (SQLite's);
// empty when none is.
std::string TempCatalogNameOf(sqlite3* db, const std::string& name);

// The name a table's unnamed constraints are named after: `table`, or for a
// #temp table (SQLite schema "temp") the name tempdb's catalog gives it, so
// that "PK__#t_______<id>" is SQL Server's form and no two sessions' #t share
// a constraint's id.
std::string ConstraintTableName(sqlite3* db, const std::string& schema, const std::string& table);

// Constraint names are tempdb's objects: throws 2714 when a constraint of
// the #temp table `table` (SQLite's name) was named as one of another of the
// session's #temp tables, or of another session's as that session last
// published them. Names the engine made are unique already and not checked.
void RefuseTakenTempConstraintNames(sqlite3* db, const std::string& table);
// Whether another session's #temp table has a constraint called `name`, as
// that session last published its tables.
bool ConstraintNamedElsewhere(sqlite3* db, const std::string& name);

// Whether the connection's temporary database holds kTempObjectsTable.
bool HasTempObjects(sqlite3* db);

// The session's #temp tables and table variables as a parenthesised SELECT
// of name (SQLite's), catalog_name, id, crdate and sql; `recorded`: whether
// kTempObjectsTable exists (a table it has no row for reads as its own name,
// id 1000 + its schema rowid). The temporary tables the engine makes for
// itself (a trigger's rows, a view's captured changes) are not among them.
std::string TempTablesSql(bool recorded);

// A temporary table as tempdb's catalog lists it.
struct TempTableEntry {
  std::string catalog_name;
  std::int64_t id = 0;
  std::string crdate;
};

// The session's #temp table a procedure's argument names ('#t', 'dbo.#t',
// 'tempdb..#t' or its catalog name), as found in tempdb: `name` SQLite's.
struct NamedTempTable {
  std::string name;
  TempTableEntry entry;
};
std::optional<NamedTempTable> FindTempTable(sqlite3* db, std::string_view written);

}  // namespace sqlengine::exec
