#pragma once
// Switching SQLite's foreign key enforcement off for a stretch of work that
// must not act on referring rows (a table rebuilt under its own name, a bulk
// load told not to check constraints).

#include <sqlite3.h>

namespace sqlengine::exec {

// Turns foreign key enforcement off for its lifetime (when `wanted`), so that
// dropping the old table does not act on the rows that refer to it, and back
// to what it was after. Inside a transaction too: PRAGMA foreign_keys is a
// no-op there, the connection's configuration switch is not. Nothing may
// leave a deferred foreign key violation while it is off.
class ForeignKeysOff {
 public:
  explicit ForeignKeysOff(sqlite3* db, bool wanted = true);
  ~ForeignKeysOff();
  ForeignKeysOff(const ForeignKeysOff&) = delete;
  ForeignKeysOff& operator=(const ForeignKeysOff&) = delete;

 private:
  sqlite3* db_;
  int was_on_ = 0;
};

}  // namespace sqlengine::exec
