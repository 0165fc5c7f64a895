#include "engine/exec/index_names.h"

#include "engine/catalog/sqlite_handle.h"
#include "engine/common/error.h"
#include "engine/tsql/dotted_name.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/token.h"

namespace sqlengine::exec {
namespace {

// The table's name as sqlite_master keeps it; `table` when there is none.
std::string StoredTableName(sqlite3* db, const std::string& schema, const std::string& table) {
  catalog::PreparedStatement found =
      catalog::Prepare(db, "SELECT name FROM " + tsql::QuoteSqliteName(schema) +
                               ".sqlite_master WHERE type = 'table' AND name = ?1 COLLATE NOCASE");
  sqlite3_bind_text(found.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(found.get()) == SQLITE_ROW) return catalog::ColumnText(found.get(), 0);
  return table;
}

}  // namespace

std::string ShownIndexName(std::string_view stored, std::string_view table) {
  if (stored.size() > table.size() + 1 && stored.substr(0, table.size()) == table &&
      stored[table.size()] == '.') {
    return std::string(stored.substr(table.size() + 1));
  }
  return std::string(stored);
}

std::string ShownIndexNameSql(const std::string& stored, const std::string& table) {
  return "CASE WHEN length(" + stored + ") > length(" + table + ") + 1 AND substr(" + stored +
         ", 1, length(" + table + ") + 1) = " + table + " || '.' THEN substr(" + stored +
         ", length(" + table + ") + 2) ELSE " + stored + " END";
}

std::optional<std::string> StoredIndexName(sqlite3* db, const std::string& schema,
                                           const std::string& table, const std::string& name) {
  catalog::PreparedStatement indexes = catalog::Prepare(
      db, "SELECT name, tbl_name FROM " + tsql::QuoteSqliteName(schema) +
              ".sqlite_master WHERE type = 'index' AND tbl_name = ?1 COLLATE NOCASE");
  sqlite3_bind_text(indexes.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  while (sqlite3_step(indexes.get()) == SQLITE_ROW) {
    std::string stored = catalog::ColumnText(indexes.get(), 0);
    if (tsql::EqualsIgnoreCase(ShownIndexName(stored, catalog::ColumnText(indexes.get(), 1)), name))
      return stored;
  }
  return std::nullopt;
}

std::string NewIndexName(sqlite3* db, const std::string& schema, const std::string& table,
                         const std::string& name) {
  std::string stored_table = StoredTableName(db, schema, table);
  if (StoredIndexName(db, schema, stored_table, name)) throw MakeError(1913, {stored_table, name});
  catalog::PreparedStatement taken =
      catalog::Prepare(db, "SELECT 1 FROM " + tsql::QuoteSqliteName(schema) +
                               ".sqlite_master WHERE name = ?1 COLLATE NOCASE");
  sqlite3_bind_text(taken.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(taken.get()) != SQLITE_ROW) return name;
  return stored_table + "." + name;
}

}  // namespace sqlengine::exec
