#pragma once
// A change the engine makes to its own tables (and SQLite's schema) in the
// session's current database on behalf of a system procedure or DDL
// statement: queued behind the database's other writers like a user's
// write, run with the engine's rights, and all or nothing. Used on the
// session's thread only.

#include <sqlite3.h>

#include <initializer_list>
#include <string>

#include "engine/exec/locked_savepoint.h"
#include "engine/exec/statement_authorizer.h"
#include "engine/exec/write_lock.h"

namespace sqlengine::exec {

class Session;

class CatalogWrite {
 public:
  // Throws 3906 when the database is read-only, 1222 / Cancelled while
  // waiting for the write lock.
  explicit CatalogWrite(Session& session);
  CatalogWrite(const CatalogWrite&) = delete;
  CatalogWrite& operator=(const CatalogWrite&) = delete;

  sqlite3* Db() const { return db_; }
  // Keeps the changes; without it, destruction undoes them.
  void Commit();

 private:
  sqlite3* db_;
  WriteGate gate_;
  StatementAuthorizer::EngineScope engine_sql_;
  LockedSavepoint savepoint_;
};

// Binds text parameters 1..n and steps once; throws std::runtime_error with
// SQLite's message on failure.
void RunWithTexts(sqlite3* db, const std::string& sql, std::initializer_list<std::string> texts);

// Whether the current database's `table` (one of the engine's) exists.
bool HasTable(sqlite3* db, const std::string& table);

}  // namespace sqlengine::exec
