#include "engine/exec/catalog_writes.h"

#include <stdexcept>

#include "engine/catalog/sqlite_handle.h"
#include "engine/exec/database_access.h"
#include "engine/exec/session.h"

namespace sqlengine::exec {

namespace {

// Refuses a read-only database before any lock is queued for.
Session& Writable(Session& session) {
  RequireWritable(session);
  return session;
}

}  // namespace

CatalogWrite::CatalogWrite(Session& session)
    : db_(Writable(session).Connection().Handle()),
      gate_(session, "main"),
      engine_sql_(session.Connection().Authorizer()),
      savepoint_(session, "main", "sqlengine_catalog_write") {}

void CatalogWrite::Commit() { savepoint_.Release(); }

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
