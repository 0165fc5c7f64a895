#pragma once
// CREATE UNIQUE INDEX ... WITH IGNORE_DUP_KEY: an INSERT leaves out each row
// whose key the index already holds (also from an earlier row of the same
// statement), keeps the others, and tells the client "Duplicate key was
// ignored." (3604) once. An UPDATE that repeats a key still fails (2601).
//
// The index keeps its SQLite form; a BEFORE INSERT trigger of the table,
// sqlengine_ignore_dup_<stored index name>, skips a row whose key is there
// (RAISE(IGNORE) skips that one row) after calling sqlengine_ignored_duplicate(),
// which notes the skip for the statement's session thread. A NULL in a key
// matches a NULL, as SQL Server's keys hold NULL as one value (null_keys.h).

#include <sqlite3.h>

#include <string>
#include <vector>

namespace sqlengine::exec {

// Gives the index `stored_index` of `table` (in SQLite schema `schema`) over
// `columns` its trigger. Throws std::runtime_error when SQLite refuses.
void IgnoreDuplicateKeys(sqlite3* db, const std::string& schema, const std::string& table,
                         const std::string& stored_index, const std::vector<std::string>& columns);

// Drops the trigger of the index, if it has one (the index is dropped or
// replaced).
void StopIgnoringDuplicateKeys(sqlite3* db, const std::string& schema,
                               const std::string& stored_index);

// After the index `from` took the stored name `to`: its trigger follows.
// Throws std::runtime_error when SQLite refuses.
void RenameIgnoringDuplicateKeys(sqlite3* db, const std::string& schema, const std::string& from,
                                 const std::string& to);

// Whether a row was skipped on this thread since the last call; clears it.
bool TakeIgnoredDuplicate();

// Registers sqlengine_ignored_duplicate() on `db`.
void RegisterIgnoredDuplicateFunction(sqlite3* db);

}  // namespace sqlengine::exec
