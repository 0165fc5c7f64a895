#include "engine/exec/catalog_writes.h"

#include <stdexcept>

#include "engine/catalog/sqlite_handle.h"
#include "engine/exec/database_access.h"
#include "engine/exec/session.h"

namespace sqlengine::exec {

CatalogWrite::CatalogWrite(Session& session)
    : db_(session.Connection().Handle()), engine_sql_(session.Connection().Authorizer()) {
  RequireWritable(session);
  LockForWrite(session, "main");
  gate_.emplace(session, "main");
  catalog::Exec(db_, "SAVEPOINT sqlengine_catalog_write");
  try {
    TakeWriteLockFirst(db_, "main");
  } catch (...) {
    sqlite3_exec(db_, "ROLLBACK TO sqlengine_catalog_write; RELEASE sqlengine_catalog_write",
                 nullptr, nullptr, nullptr);
    throw;
  }
}

CatalogWrite::~CatalogWrite() {
  if (!open_) return;
  sqlite3_exec(db_, "ROLLBACK TO sqlengine_catalog_write; RELEASE sqlengine_catalog_write", nullptr,
               nullptr, nullptr);
}

void CatalogWrite::Commit() {
  catalog::Exec(db_, "RELEASE sqlengine_catalog_write");
  open_ = false;
}

void RunWithTexts(sqlite3* db, const std::string& sql, std::initializer_list<std::string> texts) {
  catalog::PreparedStatement statement = catalog::Prepare(db, sql);
  int index = 1;
  for (const std::string& text : texts) {
    sqlite3_bind_text(statement.get(), index++, text.c_str(), static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
  }
  int rc = sqlite3_step(statement.get());
  if (rc != SQLITE_DONE && rc != SQLITE_ROW) throw std::runtime_error(sqlite3_errmsg(db));
}

bool HasTable(sqlite3* db, const std::string& table) {
  catalog::PreparedStatement find =
      catalog::Prepare(db, "SELECT 1 FROM main.sqlite_master WHERE type = 'table' AND name = ?");
  sqlite3_bind_text(find.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  return sqlite3_step(find.get()) == SQLITE_ROW;
}

}  // namespace sqlengine::exec
