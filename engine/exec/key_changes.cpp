#include "engine/exec/key_changes.h"

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <unordered_map>

#include "engine/catalog/sqlite_handle.h"
#include "engine/exec/constraint_conflicts.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/sqlite_text.h"
#include "engine/tsql/token.h"

namespace sqlengine::exec {
namespace {

constexpr const char* kSavepoint = "sqlengine_key_change";

// The table's stored columns (no computed one) in order, and the one SQLite
// keeps as the rowid (an INTEGER PRIMARY KEY: an identity column), if any.
struct StoredColumns {
  std::vector<std::string> names;
  std::optional<size_t> rowid;
};

StoredColumns StoredColumnsOf(sqlite3* db, const std::string& schema, const std::string& table) {
  auto query =
      catalog::Prepare(db, "SELECT name, type, pk, hidden FROM pragma_table_xinfo(?1, ?2)");
  sqlite3_bind_text(query.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(query.get(), 2, schema.c_str(), -1, SQLITE_TRANSIENT);
  StoredColumns columns;
  int keys = 0;
  std::optional<size_t> integer_key;
  while (sqlite3_step(query.get()) == SQLITE_ROW) {
    if (sqlite3_column_int(query.get(), 2) > 0) {
      ++keys;
      if (tsql::EqualsIgnoreCase(catalog::ColumnText(query.get(), 1), "integer"))
        integer_key = columns.names.size();
    }
    if (sqlite3_column_int(query.get(), 3) != 0) continue;
    columns.names.push_back(catalog::ColumnText(query.get(), 0));
  }
  if (keys == 1) columns.rowid = integer_key;
  return columns;
}

// The counters an INSERT of an explicit identity value may move on
// (sqlite_sequence, the engine's kept identity), read before the rows go
// back in and written back after: the rows had their values already.
class IdentityCounters {
 public:
  IdentityCounters(sqlite3* db, const std::string& schema, const std::string& table)
      : db_(db), table_(table), quoted_schema_(tsql::QuoteSqliteName(schema)) {
    for (const Counter& counter : kCounters) values_.push_back(Read(counter));
  }

  void Restore() const {
    for (size_t k = 0; k < std::size(kCounters); ++k) {
      if (!values_[k]) continue;
      const Counter& counter = kCounters[k];
      auto update = catalog::Prepare(db_, "UPDATE " + quoted_schema_ + "." + counter.table +
                                              " SET " + counter.column + " = ?1 WHERE name = ?2");
      sqlite3_bind_value(update.get(), 1, values_[k]->get());
      sqlite3_bind_text(update.get(), 2, table_.c_str(), -1, SQLITE_TRANSIENT);
      if (sqlite3_step(update.get()) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db_));
    }
  }

 private:
  struct Counter {
    const char* table;
    const char* column;
  };
  static constexpr Counter kCounters[] = {{"sqlite_sequence", "seq"},
                                          {"sqlengine_identity", "last"}};
  struct Free {
    void operator()(sqlite3_value* value) const { sqlite3_value_free(value); }
  };
  using Held = std::unique_ptr<sqlite3_value, Free>;

  // nullopt when the schema has no such table or it has no row for the table.
  std::optional<Held> Read(const Counter& counter) const {
    sqlite3_stmt* raw = nullptr;
    std::string sql = std::string("SELECT ") + counter.column + " FROM " + quoted_schema_ + "." +
                      counter.table + " WHERE name = ?1";
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK) {
      sqlite3_finalize(raw);
      return std::nullopt;
    }
    catalog::PreparedStatement query(raw);
    sqlite3_bind_text(query.get(), 1, table_.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(query.get()) != SQLITE_ROW) return std::nullopt;
    return Held(sqlite3_value_dup(sqlite3_column_value(query.get(), 0)));
  }

  sqlite3* db_;
  std::string table_;
  std::string quoted_schema_;
  std::vector<std::optional<Held>> values_;
};

// The columns of `table` other tables' foreign keys reference (a key
// referenced without its columns named: the primary key's).
std::vector<std::string> ReferencedColumns(sqlite3* db, const std::string& schema,
                                           const std::string& table) {
  auto query = catalog::Prepare(
      db, "SELECT coalesce(f.\"to\", k.name) FROM " + tsql::QuoteSqliteName(schema) +
              ".sqlite_master AS m, pragma_foreign_key_list(m.name, ?2) AS f "
              "LEFT JOIN pragma_table_xinfo(?1, ?2) AS k ON f.\"to\" IS NULL AND k.pk > 0 "
              "WHERE m.type = 'table' AND f.\"table\" = ?1 COLLATE NOCASE");
  sqlite3_bind_text(query.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(query.get(), 2, schema.c_str(), -1, SQLITE_TRANSIENT);
  std::vector<std::string> columns;
  while (sqlite3_step(query.get()) == SQLITE_ROW) {
    if (sqlite3_column_type(query.get(), 0) != SQLITE_NULL)
      columns.push_back(catalog::ColumnText(query.get(), 0));
  }
  return columns;
}

// Runs a prepared change of one row; SQLite's refusal becomes the statement's error.
void StepChange(sqlite3* db, sqlite3_stmt* statement, const tsql::SqliteText& text,
                FailedStatement context) {
  int rc = sqlite3_step(statement);
  if (rc == SQLITE_DONE) return;
  context.text = &text;
  ThrowSqliteError(db, rc, context);
}

// The unique keys of the table that `columns` change: each key's columns.
std::vector<std::vector<std::string>> ChangedKeys(sqlite3* db, const std::string& schema,
                                                  const std::string& table,
                                                  const std::vector<std::string>& columns) {
  auto query = catalog::Prepare(
      db, "SELECT l.name, i.name FROM pragma_index_list(?1, ?2) AS l "
          "JOIN pragma_index_info(l.name, ?2) AS i WHERE l.\"unique\" = 1 ORDER BY l.seq, i.seqno");
  sqlite3_bind_text(query.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(query.get(), 2, schema.c_str(), -1, SQLITE_TRANSIENT);
  std::vector<std::string> names;
  std::vector<std::vector<std::string>> keys;
  while (sqlite3_step(query.get()) == SQLITE_ROW) {
    std::string index = catalog::ColumnText(query.get(), 0);
    if (names.empty() || names.back() != index) {
      names.push_back(index);
      keys.emplace_back();
    }
    keys.back().push_back(catalog::ColumnText(query.get(), 1));
  }
  std::erase_if(keys, [&](const std::vector<std::string>& key) {
    return std::none_of(key.begin(), key.end(), [&](const std::string& column) {
      return std::any_of(columns.begin(), columns.end(), [&](const std::string& changed) {
        return tsql::EqualsIgnoreCase(changed, column);
      });
    });
  });
  return keys;
}

// The order in which `rows` can be updated one at a time with no row taking
// a key another of them still holds (a shift, changed from its far end);
// nullopt when the keys go round (a swap), which no order avoids.
std::optional<std::vector<size_t>> UpdateOrder(sqlite3* db, const std::string& target,
                                               const StoredColumns& stored,
                                               const std::vector<std::optional<size_t>>& assigned,
                                               const RowImages& rows, const RowImages& old_rows,
                                               const std::vector<std::vector<std::string>>& keys) {
  std::unordered_map<sqlite3_int64, size_t> pending;
  for (size_t r = 0; r < rows.size(); ++r) pending[sqlite3_value_int64(const_cast<sqlite3_value*>(rows[r].At(0)))] = r;
  // waiting[r]: how many rows still hold a key row r takes; freed[h]: the
  // rows waiting for row h.
  std::vector<size_t> waiting(rows.size(), 0);
  std::vector<std::vector<size_t>> freed(rows.size());
  for (const std::vector<std::string>& key : keys) {
    std::string condition;
    std::vector<size_t> places;
    for (size_t k = 0; k < key.size(); ++k) {
      for (size_t c = 0; c < stored.names.size(); ++c) {
        if (tsql::EqualsIgnoreCase(stored.names[c], key[k])) places.push_back(c);
      }
      condition += tsql::QuoteSqliteName(key[k]) + " IS ?" + std::to_string(k + 1) + " AND ";
    }
    if (places.size() != key.size()) return std::nullopt;
    auto holder = catalog::Prepare(db, "SELECT rowid FROM " + target + " WHERE " + condition +
                                           "rowid <> ?" + std::to_string(key.size() + 1));
    for (size_t r = 0; r < rows.size(); ++r) {
      if (old_rows[r].Size() == 0) continue;
      sqlite3_reset(holder.get());
      for (size_t k = 0; k < places.size(); ++k) {
        size_t c = places[k];
        sqlite3_bind_value(holder.get(), static_cast<int>(k + 1),
                           assigned[c] ? rows[r].At(*assigned[c]) : old_rows[r].At(c));
      }
      sqlite3_bind_value(holder.get(), static_cast<int>(key.size() + 1), rows[r].At(0));
      while (sqlite3_step(holder.get()) == SQLITE_ROW) {
        auto found = pending.find(sqlite3_column_int64(holder.get(), 0));
        // A row the statement leaves as it is keeps its key: the update
        // of row r fails on it wherever it comes.
        if (found == pending.end()) continue;
        ++waiting[r];
        freed[found->second].push_back(r);
      }
    }
  }
  std::vector<size_t> order;
  for (size_t r = 0; r < rows.size(); ++r) {
    if (waiting[r] == 0) order.push_back(r);
  }
  for (size_t next = 0; next < order.size(); ++next) {
    for (size_t r : freed[order[next]]) {
      if (--waiting[r] == 0) order.push_back(r);
    }
  }
  if (order.size() != rows.size()) return std::nullopt;
  return order;
}

// Where each stored column's new value comes from: the old row, or the
// changed row (its place after the rowid).
std::vector<std::optional<size_t>> AssignedColumns(const StoredColumns& stored,
                                                   const std::vector<std::string>& columns) {
  std::vector<std::optional<size_t>> assigned(stored.names.size());
  for (size_t k = 0; k < columns.size(); ++k) {
    for (size_t c = 0; c < stored.names.size(); ++c) {
      if (tsql::EqualsIgnoreCase(stored.names[c], columns[k])) assigned[c] = k + 1;
    }
  }
  return assigned;
}

// Each row's stored columns as they are now; no values for a row that is gone.
RowImages OldRows(sqlite3* db, const std::string& target, const StoredColumns& stored,
                  const RowImages& rows) {
  std::string read;
  for (size_t c = 0; c < stored.names.size(); ++c)
    read += (c > 0 ? ", " : "") + tsql::QuoteSqliteName(stored.names[c]);
  auto old_row = catalog::Prepare(db, "SELECT " + read + " FROM " + target + " WHERE rowid = ?1");
  RowImages old_rows;
  for (const RowValues& row : rows) {
    sqlite3_reset(old_row.get());
    sqlite3_bind_value(old_row.get(), 1, row.At(0));
    RowValues values;
    if (sqlite3_step(old_row.get()) == SQLITE_ROW) {
      for (size_t c = 0; c < stored.names.size(); ++c)
        values.Add(sqlite3_column_value(old_row.get(), static_cast<int>(c)));
    }
    old_rows.push_back(std::move(values));
  }
  return old_rows;
}

// 547 for the UPDATE: a row still refers to a key of `table` it took away.
[[noreturn]] void ThrowReferenceConflict(sqlite3* db, const std::string& schema,
                                         const std::string& table,
                                         const FailedStatement& context) {
  ForeignKeyConflict conflict = FindForeignKeyConflict(db, table, "DELETE", schema);
  bool column = !conflict.column.empty();
  throw MakeError(547, {context.verb, "COLUMN", conflict.kind, conflict.constraint,
                        context.database, conflict.table, column ? ", column '" : "",
                        conflict.column, column ? "'" : ""});
}

// While it lives (from Start), the connection's foreign keys are checked at
// the end of the transaction instead of each statement, and Check tells
// whether a reference the change left is still broken. The keys' actions
// (ON UPDATE CASCADE) still run at once.
class DeferredReferences {
 public:
  explicit DeferredReferences(sqlite3* db) : db_(db) {
    int ignored = 0;
    sqlite3_db_status(db_, SQLITE_DBSTATUS_DEFERRED_FKS, &before_, &ignored, 0);
  }
  ~DeferredReferences() {
    if (started_) sqlite3_exec(db_, "PRAGMA defer_foreign_keys = OFF", nullptr, nullptr, nullptr);
  }
  DeferredReferences(const DeferredReferences&) = delete;
  DeferredReferences& operator=(const DeferredReferences&) = delete;

  void Start() {
    catalog::Exec(db_, "PRAGMA defer_foreign_keys = ON");
    started_ = true;
  }
  // Throws 547 when a row refers to a key that is gone.
  void Check(const std::string& schema, const std::string& table, const FailedStatement& context) {
    int now = 0, ignored = 0;
    sqlite3_db_status(db_, SQLITE_DBSTATUS_DEFERRED_FKS, &now, &ignored, 0);
    if (now > before_) ThrowReferenceConflict(db_, schema, table, context);
  }

 private:
  sqlite3* db_;
  int before_ = 0;
  bool started_ = false;
};

// The savepoint a key change is applied under: undone unless released.
class KeyChangeSavepoint {
 public:
  explicit KeyChangeSavepoint(sqlite3* db) : db_(db) {
    catalog::Exec(db_, std::string("SAVEPOINT ") + kSavepoint);
  }
  ~KeyChangeSavepoint() {
    if (released_ || sqlite3_get_autocommit(db_) != 0) return;
    std::string undo = std::string("ROLLBACK TO ") + kSavepoint + "; RELEASE " + kSavepoint;
    sqlite3_exec(db_, undo.c_str(), nullptr, nullptr, nullptr);
  }
  KeyChangeSavepoint(const KeyChangeSavepoint&) = delete;
  KeyChangeSavepoint& operator=(const KeyChangeSavepoint&) = delete;

  void Release() {
    catalog::Exec(db_, std::string("RELEASE ") + kSavepoint);
    released_ = true;
  }

 private:
  sqlite3* db_;
  bool released_ = false;
};

}  // namespace

bool IsReferenced(sqlite3* db, const std::string& schema, const std::string& table) {
  return !ReferencedColumns(db, schema, table).empty();
}

bool MayApplyAsOne(sqlite3* db, const std::string& schema, const std::string& table,
                   const std::vector<std::string>& columns) {
  std::string quoted_schema = tsql::QuoteSqliteName(schema);
  auto is_table = catalog::Prepare(
      db, "SELECT 1 FROM " + quoted_schema + ".sqlite_master WHERE type = 'table' AND name = ?1");
  sqlite3_bind_text(is_table.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(is_table.get()) != SQLITE_ROW) return false;
  // A row taken out must not act on the rows referencing it; the new key of
  // a row whose references follow it is no key they would follow.
  auto acting = catalog::Prepare(
      db, "SELECT f.on_delete NOT IN ('NO ACTION', 'RESTRICT'), coalesce(f.\"to\", k.name), "
          "f.on_update NOT IN ('NO ACTION', 'RESTRICT') FROM " +
              quoted_schema +
              ".sqlite_master AS m, pragma_foreign_key_list(m.name, ?2) AS f "
              "LEFT JOIN pragma_table_xinfo(?1, ?2) AS k ON f.\"to\" IS NULL AND k.pk > 0 "
              "WHERE m.type = 'table' AND f.\"table\" = ?1 COLLATE NOCASE");
  sqlite3_bind_text(acting.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(acting.get(), 2, schema.c_str(), -1, SQLITE_TRANSIENT);
  while (sqlite3_step(acting.get()) == SQLITE_ROW) {
    if (sqlite3_column_int(acting.get(), 0) != 0) return false;
    if (sqlite3_column_int(acting.get(), 2) == 0) continue;
    std::string referenced = catalog::ColumnText(acting.get(), 1);
    for (const std::string& column : columns) {
      if (tsql::EqualsIgnoreCase(column, referenced)) return false;
    }
  }
  return true;
}

std::int64_t ApplyChangedRows(sqlite3* db, const std::string& schema, const std::string& table,
                              const std::vector<std::string>& columns, const RowImages& rows,
                              const FailedStatement& context, const SqlError& refused) {
  StoredColumns stored = StoredColumnsOf(db, schema, table);
  std::vector<std::optional<size_t>> assigned = AssignedColumns(stored, columns);
  std::string target = tsql::QuoteSqliteName(schema) + "." + tsql::QuoteSqliteName(table);
  std::string listed, placeholders;
  if (!stored.rowid) {
    listed = "rowid";
    placeholders = "?1";
  }
  for (size_t c = 0; c < stored.names.size(); ++c) {
    listed += (listed.empty() ? "" : ", ") + tsql::QuoteSqliteName(stored.names[c]);
    placeholders += (placeholders.empty() ? "?" : ", ?") + std::to_string(c + 2);
  }
  tsql::SqliteText removal, insertion;
  removal.sql = "DELETE FROM " + target + " WHERE rowid = ?1";
  insertion.sql = "INSERT INTO " + target + " (" + listed + ") VALUES (" + placeholders + ")";
  removal.lines.emplace_back(0, context.line);
  insertion.lines.emplace_back(0, context.line);

  DeferredReferences deferred(db);
  KeyChangeSavepoint savepoint(db);
  // A row taken out may be referenced: the reference is checked when
  // the row is back, at the end.
  deferred.Start();
  IdentityCounters counters(db, schema, table);
  RowImages old_rows = OldRows(db, target, stored, rows);
  auto remove = catalog::Prepare(db, removal.sql);
  for (const RowValues& row : rows) {
    sqlite3_reset(remove.get());
    sqlite3_bind_value(remove.get(), 1, row.At(0));
    int rc = sqlite3_step(remove.get());
    if (rc == SQLITE_DONE) continue;
    if (sqlite3_extended_errcode(db) == SQLITE_CONSTRAINT_FOREIGNKEY)
      ThrowReferenceConflict(db, schema, table, context);
    FailedStatement failed = context;
    failed.text = &removal;
    ThrowSqliteError(db, rc, failed);
  }
  remove.reset();
  auto insert = catalog::Prepare(db, insertion.sql);
  std::int64_t changed = 0;
  for (size_t r = 0; r < rows.size(); ++r) {
    if (old_rows[r].Size() == 0) continue;  // gone before the statement reached it
    sqlite3_reset(insert.get());
    sqlite3_clear_bindings(insert.get());
    sqlite3_bind_value(insert.get(), 1, rows[r].At(0));
    for (size_t c = 0; c < stored.names.size(); ++c) {
      const sqlite3_value* value = assigned[c] ? rows[r].At(*assigned[c]) : old_rows[r].At(c);
      sqlite3_bind_value(insert.get(), static_cast<int>(c + 2), value);
    }
    StepChange(db, insert.get(), insertion, context);
    if (sqlite3_changes(db) != 1) throw refused;
    ++changed;
  }
  insert.reset();
  counters.Restore();
  deferred.Check(schema, table, context);
  savepoint.Release();
  return changed;
}

std::optional<std::int64_t> ApplyChangedRowsInOrder(sqlite3* db, const std::string& schema,
                                                    const std::string& table,
                                                    const std::vector<std::string>& columns,
                                                    const RowImages& rows,
                                                    const FailedStatement& context) {
  StoredColumns stored = StoredColumnsOf(db, schema, table);
  std::vector<std::optional<size_t>> assigned = AssignedColumns(stored, columns);
  std::string target = tsql::QuoteSqliteName(schema) + "." + tsql::QuoteSqliteName(table);
  tsql::SqliteText change;
  change.sql = "UPDATE " + target + " SET ";
  for (size_t k = 0; k < columns.size(); ++k) {
    change.sql += (k > 0 ? ", " : "") + tsql::QuoteSqliteName(columns[k]) + " = ?" +
                  std::to_string(k + 2);
  }
  change.sql += " WHERE rowid = ?1";
  change.lines.emplace_back(0, context.line);

  DeferredReferences deferred(db);
  KeyChangeSavepoint savepoint(db);
  // A reference is checked against the statement's end state, as the key
  // is: a row may refer to a key another row of the statement takes later.
  deferred.Start();
  RowImages old_rows = OldRows(db, target, stored, rows);
  std::optional<std::vector<size_t>> order = UpdateOrder(
      db, target, stored, assigned, rows, old_rows, ChangedKeys(db, schema, table, columns));
  if (!order) return std::nullopt;
  auto update = catalog::Prepare(db, change.sql);
  std::int64_t changed = 0;
  for (size_t r : *order) {
    if (old_rows[r].Size() == 0) continue;  // gone before the statement reached it
    sqlite3_reset(update.get());
    for (size_t k = 0; k <= columns.size(); ++k)
      sqlite3_bind_value(update.get(), static_cast<int>(k + 1), rows[r].At(k));
    StepChange(db, update.get(), change, context);
    changed += sqlite3_changes(db);
  }
  update.reset();
  deferred.Check(schema, table, context);
  savepoint.Release();
  return changed;
}

}  // namespace sqlengine::exec
