#pragma once
// A multi-step write to one database (a definition stored with its catalog
// rows, a rename, a change to the engine's own tables) made all or nothing
// under a savepoint that holds the database's write lock from before its
// first read, so no other session's commit can come between what it reads
// and what it writes. Used on the session's thread only.

#include <sqlite3.h>

#include <string>

namespace sqlengine::exec {

class Session;

class LockedSavepoint {
 public:
  // Queues `session` for the write lock of `schema` ("main" or an attached
  // database's alias) as a statement of its transaction would, opens
  // SAVEPOINT `name` and takes the file's lock at once. Throws SqlError 1222
  // when the lock wait timed out, 1205 for a deadlock victim, Cancelled when
  // the session was cancelled; nothing stays open when it throws.
  LockedSavepoint(Session& session, const std::string& schema, std::string name);
  // Undoes everything since construction unless Release() was called; does
  // nothing when the transaction around it has been rolled back already.
  ~LockedSavepoint();
  LockedSavepoint(const LockedSavepoint&) = delete;
  LockedSavepoint& operator=(const LockedSavepoint&) = delete;

  // Keeps the changes (in the session's transaction, if any). Throws
  // std::runtime_error when SQLite refuses.
  void Release();

 private:
  void Undo();

  sqlite3* db_;
  std::string name_;
  bool open_ = false;
};

}  // namespace sqlengine::exec
