#include "engine/exec/null_keys.h"

#include <algorithm>
#include <stdexcept>

#include "engine/catalog/sqlite_handle.h"
#include "engine/exec/constraint_conflicts.h"
#include "engine/exec/statement_authorizer.h"
#include "engine/tsql/sqlite_quoting.h"

namespace sqlengine::exec {
namespace {

constexpr const char* kEvents[] = {"INSERT", "UPDATE"};

// A unique key with a column that allows NULL: its columns as the table
// declares them.
using Key = std::vector<std::string>;

// The table's name as sqlite_master spells it; empty when it has none.
std::string StoredTableName(sqlite3* db, const std::string& quoted_schema,
                            const std::string& table) {
  auto query = catalog::Prepare(db, "SELECT name FROM " + quoted_schema +
                                        ".sqlite_master WHERE type = 'table' AND name = ?1 "
                                        "COLLATE NOCASE");
  sqlite3_bind_text(query.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  return sqlite3_step(query.get()) == SQLITE_ROW ? catalog::ColumnText(query.get(), 0)
                                                 : std::string();
}

std::vector<Key> NullableKeys(sqlite3* db, const std::string& schema, const std::string& table) {
  // Per unique index: its columns in order, each with whether it is NOT
  // NULL (an expression's column has no name and leaves the index out).
  auto query = catalog::Prepare(
      db,
      "SELECT l.name, i.name, coalesce(c.\"notnull\", 0) FROM pragma_index_list(?1, ?2) AS l "
      "JOIN pragma_index_info(l.name, ?2) AS i LEFT JOIN pragma_table_info(?1, ?2) AS c "
      "ON c.cid = i.cid WHERE l.\"unique\" = 1 AND l.partial = 0 ORDER BY l.seq, i.seqno");
  sqlite3_bind_text(query.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(query.get(), 2, schema.c_str(), -1, SQLITE_TRANSIENT);
  struct Index {
    std::string name;
    Key columns;
    bool nullable = false;
    bool expression = false;
  };
  std::vector<Index> indexes;
  while (sqlite3_step(query.get()) == SQLITE_ROW) {
    std::string index = catalog::ColumnText(query.get(), 0);
    if (indexes.empty() || indexes.back().name != index) indexes.push_back({index, {}});
    Index& current = indexes.back();
    if (sqlite3_column_type(query.get(), 1) == SQLITE_NULL) {
      current.expression = true;
      continue;
    }
    current.columns.push_back(catalog::ColumnText(query.get(), 1));
    current.nullable = current.nullable || sqlite3_column_int(query.get(), 2) == 0;
  }
  std::vector<Key> keys;
  for (Index& index : indexes) {
    if (!index.nullable || index.expression || index.columns.empty()) continue;
    if (std::find(keys.begin(), keys.end(), index.columns) == keys.end())
      keys.push_back(std::move(index.columns));
  }
  return keys;
}

void DropNullKeyTriggers(sqlite3* db, const std::string& quoted_schema, const std::string& table) {
  auto query = catalog::Prepare(
      db, "SELECT name FROM " + quoted_schema +
              ".sqlite_master WHERE type = 'trigger' AND tbl_name = ?1 COLLATE NOCASE AND "
              "name LIKE 'sqlengine\\_null\\_keys\\_%' ESCAPE '\\'");
  sqlite3_bind_text(query.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  std::vector<std::string> names;
  while (sqlite3_step(query.get()) == SQLITE_ROW) names.push_back(catalog::ColumnText(query.get(), 0));
  query.reset();
  for (const std::string& name : names)
    catalog::Exec(db, "DROP TRIGGER " + quoted_schema + "." + tsql::QuoteSqliteName(name));
}

// The statement that refuses the row NEW.rowid when another row repeats its
// `key` and the key holds a NULL, with SQLite's own message for the key.
std::string RefusalOf(const std::string& table, const Key& key) {
  std::string quoted_table = tsql::QuoteSqliteName(table);
  std::string message = "UNIQUE constraint failed: ";
  std::string has_null, same;
  for (size_t k = 0; k < key.size(); ++k) {
    std::string column = tsql::QuoteSqliteName(key[k]);
    message += (k > 0 ? ", " : "") + table + "." + key[k];
    has_null += (k > 0 ? " OR " : "") + std::string("k.") + column + " IS NULL";
    // The stored row's column on the right: IS compares under the left
    // column's collation, the key's own.
    same += "o." + column + " IS k." + column + " AND ";
  }
  return "SELECT RAISE(ABORT, " + tsql::QuoteSqliteString(message) + ") FROM " + quoted_table +
         " AS k WHERE k.rowid = NEW.rowid AND (" + has_null + ") AND EXISTS (SELECT 1 FROM " +
         quoted_table + " AS o WHERE " + same + "o.rowid <> k.rowid)";
}

}  // namespace

void KeepNullKeysUnique(sqlite3* db, const std::string& schema, const std::string& table) {
  std::string quoted_schema = tsql::QuoteSqliteName(schema);
  std::string stored = StoredTableName(db, quoted_schema, table);
  if (stored.empty()) return;
  DropNullKeyTriggers(db, quoted_schema, stored);
  std::vector<Key> keys = NullableKeys(db, schema, stored);
  if (keys.empty()) return;
  Key written;  // every column of a key, once
  std::string body;
  for (const Key& key : keys) {
    for (const std::string& column : key) {
      if (std::find(written.begin(), written.end(), column) == written.end())
        written.push_back(column);
    }
    body += RefusalOf(stored, key) + "; ";
  }
  std::string when, columns;
  for (const std::string& column : written) {
    std::string quoted = tsql::QuoteSqliteName(column);
    when += (when.empty() ? "" : " OR ") + std::string("NEW.") + quoted + " IS NULL";
    columns += (columns.empty() ? "" : ", ") + quoted;
  }
  for (const char* event : kEvents) {
    std::string on = std::string(event) == "UPDATE" ? "UPDATE OF " + columns : event;
    catalog::Exec(db, "CREATE TRIGGER " + quoted_schema + "." +
                          tsql::QuoteSqliteName("sqlengine_null_keys_" + std::string(event) + "_" +
                                                stored) +
                          " AFTER " + on + " ON " + tsql::QuoteSqliteName(stored) +
                          " FOR EACH ROW WHEN " + when + " BEGIN " + body + "END");
  }
}

std::string RepeatedNullKey(sqlite3* db, const std::string& schema, const std::string& table,
                            const std::vector<std::string>& columns) {
  std::string list, has_null;
  for (const std::string& column : columns) {
    std::string quoted = tsql::QuoteSqliteName(column);
    list += (list.empty() ? "" : ", ") + quoted;
    has_null += (has_null.empty() ? "" : " OR ") + quoted + " IS NULL";
  }
  std::string source = "(SELECT " + list + " FROM " + tsql::QuoteSqliteName(schema) + "." +
                       tsql::QuoteSqliteName(table) + " WHERE " + has_null + ")";
  return RepeatedKey(db, source, list);
}

std::vector<std::string> KeepNullKeysUniqueInEveryTable(sqlite3* db, const std::string& schema) {
  std::string quoted_schema = tsql::QuoteSqliteName(schema);
  auto query = catalog::Prepare(db, "SELECT name FROM " + quoted_schema +
                                        ".sqlite_master WHERE type = 'table' ORDER BY name");
  std::vector<std::string> tables;
  while (sqlite3_step(query.get()) == SQLITE_ROW) {
    std::string name = catalog::ColumnText(query.get(), 0);
    if (!IsInternalName(name)) tables.push_back(name);
  }
  query.reset();
  std::vector<std::string> notes;
  for (const std::string& table : tables) {
    std::vector<Key> keys = NullableKeys(db, schema, table);
    if (keys.empty()) continue;
    for (const Key& key : keys) {
      std::string repeated = RepeatedNullKey(db, schema, table, key);
      if (repeated.empty()) continue;
      std::string named;
      for (const std::string& column : key) named += (named.empty() ? "" : ", ") + column;
      notes.push_back("table '" + table + "' holds the key (" + repeated + ") of (" + named +
                      ") more than once; its rows are kept and the key takes no further such row");
    }
    KeepNullKeysUnique(db, schema, table);
  }
  return notes;
}

}  // namespace sqlengine::exec
