#pragma once
// Whether a table exists, answered from the copy of the schema SQLite keeps
// in the connection's memory instead of a scan of sqlite_schema (which has
// no index: a scan reads every table's, index's and trigger's row).

#include <sqlite3.h>

#include <optional>
#include <string>

namespace sqlengine::exec {

// Whether SQLite schema `schema` has a table (not a view) named `name`, in
// SQLite's case-blind comparison of names. Answered only while the
// connection has a transaction open on that schema: the statement that
// opened it brought the connection's copy up to that transaction's view, and
// nothing but this connection's own statements (which keep the copy current)
// can change it before the transaction ends; and always for "temp", which
// only this connection changes. Nullopt otherwise, or when
// SQLite could not tell: the caller then reads sqlite_schema as a statement
// would.
//
// Inside an explicit transaction, on a connection armed by SchemaMayChange,
// the answers are kept until SchemaMayChange is next called for it.
std::optional<bool> KnownTable(sqlite3* db, const std::string& schema, const char* name);

// Called for each statement on `db` that may change a schema as `db` sees
// it (DDL, ATTACH, DETACH, the transaction and savepoint statements: all
// but reads and plain data changes), before it runs: forgets what KnownTable
// kept for `db`, and from the first call on lets it keep answers for `db`.
// The caller must call it for every such statement until
// StopKeepingKnownTables.
void SchemaMayChange(sqlite3* db);
// Before `db` closes: nothing is kept for it any more.
void StopKeepingKnownTables(sqlite3* db);

}  // namespace sqlengine::exec
