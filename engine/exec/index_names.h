#pragma once
// Index names scoped per table, as SQL Server scopes them, over SQLite's
// names, which are scoped per database. An index keeps its name as written
// while no other index of the database has it (so every file made before
// keeps its names); an index whose name another table's index already has
// is stored as "<table>.<name>". The name shown (sysindexes, sp_helpindex,
// INDEXPROPERTY, messages) is the stored one without that prefix; DROP INDEX
// and CREATE INDEX ... DROP_EXISTING find an index by its table and shown
// name.

#include <sqlite3.h>

#include <optional>
#include <string>
#include <string_view>

namespace sqlengine::exec {

// The name SQL Server shows of index `stored` of table `table` (its name as
// sqlite_master keeps it).
std::string ShownIndexName(std::string_view stored, std::string_view table);

// The same as an SQL expression over the SQL expressions of the two names.
std::string ShownIndexNameSql(const std::string& stored, const std::string& table);

// The stored name of the index of `table` shown as `name` (both compared
// ignoring case) in SQLite schema `schema`; nullopt when the table has none.
// Throws std::runtime_error when SQLite fails.
std::optional<std::string> StoredIndexName(sqlite3* db, const std::string& schema,
                                           const std::string& table, const std::string& name);

// The name to store a new index `name` of `table` under. Throws SqlError
// 1913 when the table already has an index of that name.
std::string NewIndexName(sqlite3* db, const std::string& schema, const std::string& table,
                         const std::string& name);

}  // namespace sqlengine::exec
