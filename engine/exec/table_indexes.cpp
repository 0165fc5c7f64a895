#include "engine/exec/table_indexes.h"

#include <algorithm>

#include "engine/catalog/sqlite_handle.h"
#include "engine/exec/index_names.h"
#include "engine/exec/table_constraints.h"
#include "engine/tsql/lexer.h"
#include "engine/tsql/sqlite_quoting.h"

namespace sqlengine::exec {

std::vector<TableIndex> IndexesOf(sqlite3* db, const std::string& table,
                                  const std::string& schema) {
  auto indexes = catalog::Prepare(
      db, "SELECT l.name, l.\"unique\", l.origin, instr(coalesce(m.sql, ''), ?2) > 0 FROM "
          "pragma_index_list(?1, ?3) l LEFT JOIN " + tsql::QuoteSqliteName(schema) +
          ".sqlite_master m ON m.type = 'index' AND m.name = l.name ORDER BY l.name");
  sqlite3_bind_text(indexes.get(), 3, schema.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(indexes.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(indexes.get(), 2, kClusteredMarker.data(),
                    static_cast<int>(kClusteredMarker.size()), SQLITE_TRANSIENT);
  std::vector<TableConstraint> keys_declared = ReadTableConstraints(db, schema, table);
  std::vector<TableIndex> found;
  while (sqlite3_step(indexes.get()) == SQLITE_ROW) {
    std::string stored = catalog::ColumnText(indexes.get(), 0);
    TableIndex index;
    index.name = ShownIndexName(stored, table);
    index.unique = sqlite3_column_int(indexes.get(), 1) != 0;
    std::string origin = catalog::ColumnText(indexes.get(), 2);
    index.clustered = sqlite3_column_int(indexes.get(), 3) != 0;
    if (tsql::ToLower(index.name).starts_with("sqlengine_")) continue;
    auto columns =
        catalog::Prepare(db,
                         "SELECT name, desc FROM pragma_index_xinfo(?1, ?2) WHERE key = 1 "
                         "ORDER BY seqno");
    sqlite3_bind_text(columns.get(), 1, stored.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(columns.get(), 2, schema.c_str(), -1, SQLITE_TRANSIENT);
    while (sqlite3_step(columns.get()) == SQLITE_ROW) {
      index.columns.push_back(
          {catalog::ColumnText(columns.get(), 0), sqlite3_column_int(columns.get(), 1) != 0});
    }
    // A key's index carries the key constraint's name.
    for (const TableConstraint& c : keys_declared) {
      bool same = c.columns.size() == index.columns.size();
      for (size_t k = 0; same && k < index.columns.size(); ++k) {
        same = tsql::EqualsIgnoreCase(c.columns[k], index.columns[k].name);
      }
      bool declared = origin != "c" && !c.from_index;
      bool added = origin == "c" && c.from_index && tsql::EqualsIgnoreCase(c.name, index.name);
      if ((c.xtype == "PK" || c.xtype == "UQ") && same && (declared || added)) {
        index.name = c.name;
        index.key_kind = c.xtype;
        index.clustered = c.clustered;
      }
    }
    found.push_back(std::move(index));
  }
  std::sort(found.begin(), found.end(), [](const TableIndex& a, const TableIndex& b) {
    return tsql::ToLower(a.name) < tsql::ToLower(b.name);
  });
  return found;
}

}  // namespace sqlengine::exec
