#include "engine/exec/identity_counters_kept.h"

#include <sqlite3.h>

#include <stdexcept>

#include "engine/catalog/sqlite_handle.h"
#include "engine/tsql/sqlite_quoting.h"

namespace sqlengine::exec {
namespace {

bool HasTable(sqlite3* db, const std::string& schema, const char* table) {
  auto query = catalog::Prepare(db, "SELECT 1 FROM " + tsql::QuoteSqliteName(schema) +
                                        ".sqlite_master WHERE type = 'table' AND name = ?");
  sqlite3_bind_text(query.get(), 1, table, -1, SQLITE_STATIC);
  return sqlite3_step(query.get()) == SQLITE_ROW;
}

}  // namespace

IdentityCountersKept::IdentityCountersKept(sqlite3* db) : db_(db) {
  std::vector<std::string> schemas;
  auto databases = catalog::Prepare(db, "SELECT name FROM pragma_database_list");
  while (sqlite3_step(databases.get()) == SQLITE_ROW)
    schemas.push_back(catalog::ColumnText(databases.get(), 0));
  databases.reset();
  for (const std::string& schema : schemas) {
    const std::string quoted = tsql::QuoteSqliteName(schema);
    if (HasTable(db, schema, "sqlite_sequence")) {
      auto rows = catalog::Prepare(db, "SELECT name, seq FROM " + quoted + ".sqlite_sequence");
      while (sqlite3_step(rows.get()) == SQLITE_ROW) {
        counters_.push_back({schema, catalog::ColumnText(rows.get(), 0),
                             sqlite3_column_int64(rows.get(), 1), false});
      }
    }
    if (HasTable(db, schema, "sqlengine_identity")) {
      auto rows = catalog::Prepare(
          db, "SELECT name, last FROM " + quoted + ".sqlengine_identity WHERE last IS NOT NULL");
      while (sqlite3_step(rows.get()) == SQLITE_ROW) {
        counters_.push_back({schema, catalog::ColumnText(rows.get(), 0),
                             sqlite3_column_int64(rows.get(), 1), true});
      }
    }
  }
}

void IdentityCountersKept::Restore() const {
  for (const Counter& counter : counters_) {
    const std::string quoted = tsql::QuoteSqliteName(counter.schema);
    const std::string table = counter.assigned_by_engine ? "sqlengine_identity" : "sqlite_sequence";
    const std::string column = counter.assigned_by_engine ? "last" : "seq";
    // Read first and write only a counter the rollback took back: a write
    // takes the database's write lock, which another session may hold.
    auto now = catalog::Prepare(db_, "SELECT " + column + ", " +
                                         (counter.assigned_by_engine ? "increment" : "1") +
                                         " FROM " + quoted + "." + table + " WHERE name = ?");
    sqlite3_bind_text(now.get(), 1, counter.table.c_str(), -1, SQLITE_TRANSIENT);
    const bool listed = sqlite3_step(now.get()) == SQLITE_ROW;
    if (listed && sqlite3_column_type(now.get(), 0) != SQLITE_NULL) {
      const std::int64_t value = sqlite3_column_int64(now.get(), 0);
      const bool ascending = sqlite3_column_int64(now.get(), 1) > 0;
      if (ascending ? value >= counter.value : value <= counter.value) continue;
    }
    now.reset();
    catalog::PreparedStatement write{nullptr};
    if (listed) {
      write = catalog::Prepare(db_, "UPDATE " + quoted + "." + table + " SET " + column +
                                        " = ?2 WHERE name = ?1");
    } else if (!counter.assigned_by_engine &&
               HasTable(db_, counter.schema, counter.table.c_str())) {
      // The transaction took the table's first identity value: it had no
      // row in sqlite_sequence before. (A table the rollback removed has none.)
      write = catalog::Prepare(db_, "INSERT INTO " + quoted +
                                        ".sqlite_sequence (name, seq) VALUES (?1, ?2)");
    } else {
      continue;
    }
    sqlite3_bind_text(write.get(), 1, counter.table.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(write.get(), 2, counter.value);
    if (sqlite3_step(write.get()) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db_));
  }
}

}  // namespace sqlengine::exec
