#pragma once
// SQLite failures as SQL Server errors.

#include <sqlite3.h>

#include <string>
#include <string_view>

#include "engine/common/error.h"
#include "engine/tsql/sqlite_text.h"

namespace sqlengine::exec {

// Thrown instead of an error when the session's cancel flag interrupted a statement.
struct Cancelled {};

// What the translation needs to know about the statement that failed.
struct FailedStatement {
  const tsql::SqliteText* text = nullptr;
  std::string_view verb;      // "INSERT", "UPDATE" ... for constraint messages
  std::string database;       // the current database (owned: it outlives the session call)
  int line = 1;
};

// The database of `db` opened read-only (its SQLite schema name when it is
// attached), for 3906; `current` names the main one.
std::string ReadOnlyDatabase(sqlite3* db, std::string_view current);

// The text an engine function hands to sqlite3_result_error so that the
// error keeps its SQL Server number: "sqlengine:<number>:<text>".
std::string FunctionErrorText(const SqlError& error);

// Ends an engine function's call with `error` (sqlite3_result_error of its
// FunctionErrorText), or with NULL for an arithmetic error the session's
// settings turn into NULL (arithmetic_errors.h).
void ResultSqlError(sqlite3_context* context, const SqlError& error);

// Throws the SqlError for rc (the connection's last error), or Cancelled.
[[noreturn]] void ThrowSqliteError(sqlite3* db, int rc, const FailedStatement& failed);

// Errors that end the whole batch (compile errors, conversions) rather than
// only their statement.
bool AbortsBatch(const SqlError& error);
// Whether an error in a procedure's body also ends the batches that called
// it and rolls back the transaction (conversion errors, the nesting limit,
// arguments for a procedure without parameters), where a missing object or
// column ends only the procedure and leaves the transaction open.
bool AbortsCallers(const SqlError& error);

}  // namespace sqlengine::exec
