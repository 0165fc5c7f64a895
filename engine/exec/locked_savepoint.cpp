#include "engine/exec/locked_savepoint.h"

#include "engine/catalog/sqlite_handle.h"
#include "engine/exec/session.h"
#include "engine/exec/write_lock.h"
#include "engine/tsql/sqlite_quoting.h"

namespace sqlengine::exec {

LockedSavepoint::LockedSavepoint(Session& session, const std::string& schema, std::string name)
    : db_(session.Connection().Handle()), name_(tsql::QuoteSqliteName(name)) {
  LockForWrite(session, schema);
  catalog::Exec(db_, "SAVEPOINT " + name_);
  open_ = true;
  try {
    TakeWriteLockFirst(db_, schema);
  } catch (...) {
    Undo();
    throw;
  }
}

LockedSavepoint::~LockedSavepoint() { Undo(); }

void LockedSavepoint::Undo() {
  if (!open_) return;
  open_ = false;
  if (sqlite3_get_autocommit(db_)) return;
  sqlite3_exec(db_, ("ROLLBACK TO " + name_ + "; RELEASE " + name_).c_str(), nullptr, nullptr,
               nullptr);
}

void LockedSavepoint::Release() {
  catalog::Exec(db_, "RELEASE " + name_);
  open_ = false;
}

}  // namespace sqlengine::exec
