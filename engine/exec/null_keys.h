#pragma once
// Unique keys hold NULL as one value, as SQL Server's do: a UNIQUE column
// takes one NULL, a key (a, b) takes (1, NULL) once. SQLite's unique
// indexes let any key with a NULL repeat, so each table with such a key
// (a PRIMARY KEY, UNIQUE constraint or unique index with a column that
// allows NULL) has two triggers of the engine, sqlengine_null_keys_INSERT_
// and _UPDATE_<table>, that look for another row with the same key when a
// written row's key holds a NULL, and refuse the row with exactly the
// message SQLite's own check gives ("UNIQUE constraint failed: t.a, t.b"),
// which the engine names as 2627 or 2601. The key's SQLite index stays as it
// is: lookups by key search it as before, and a key without NULL costs
// nothing more than the trigger's WHEN.
//
// The triggers are AFTER triggers that read the row as stored, so they
// compare the values the engine's value-keeping triggers left (a datetime in
// its one text form); SQLite fires a table's triggers newest first, and an
// update those make to a key column fires the UPDATE trigger again. Made
// after the identity triggers, they run before a row moves to its identity.

#include <sqlite3.h>

#include <string>
#include <vector>

namespace sqlengine::exec {

// Makes the table's null-key triggers again from its unique indexes as they
// are now (dropping them when it has no such key): after any statement that
// makes, drops or renames a table, a key, an index or a key column, or
// changes whether a key column allows NULL. Throws std::runtime_error when
// SQLite refuses.
void KeepNullKeysUnique(sqlite3* db, const std::string& schema, const std::string& table);

// The first key with a NULL that rows of `schema`.`table` repeat in
// `columns`, as SQL Server shows it ("1, NULL"); empty when none repeats.
std::string RepeatedNullKey(sqlite3* db, const std::string& schema, const std::string& table,
                            const std::vector<std::string>& columns);

// For each user table of `schema` that has a key with a NULL: its triggers,
// and a line naming each key its rows already repeat (the rows are kept).
std::vector<std::string> KeepNullKeysUniqueInEveryTable(sqlite3* db, const std::string& schema);

}  // namespace sqlengine::exec
