#include "engine/exec/key_changes.h"

#include <optional>
#include <stdexcept>

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

}  // namespace

bool MayApplyAsOne(sqlite3* db, const std::string& schema, const std::string& table) {
  std::string quoted_schema = tsql::QuoteSqliteName(schema);
  auto is_table = catalog::Prepare(
      db, "SELECT 1 FROM " + quoted_schema + ".sqlite_master WHERE type = 'table' AND name = ?1");
  sqlite3_bind_text(is_table.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(is_table.get()) != SQLITE_ROW) return false;
  // A row taken out must not act on the rows referencing it, nor be missed
  // by a row of its own table; the new key of a row that cascades to the
  // rows referencing it is no key they would follow.
  auto acting = catalog::Prepare(
      db, "SELECT 1 FROM " + quoted_schema +
              ".sqlite_master AS m, pragma_foreign_key_list(m.name, ?2) AS f "
              "WHERE m.type = 'table' AND f.\"table\" = ?1 COLLATE NOCASE AND "
              "(m.name = ?1 COLLATE NOCASE OR f.on_delete NOT IN ('NO ACTION', 'RESTRICT') OR "
              "f.on_update NOT IN ('NO ACTION', 'RESTRICT')) "
              "LIMIT 1");
  sqlite3_bind_text(acting.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(acting.get(), 2, schema.c_str(), -1, SQLITE_TRANSIENT);
  return sqlite3_step(acting.get()) != SQLITE_ROW;
}

std::int64_t ApplyChangedRows(sqlite3* db, const std::string& schema, const std::string& table,
                              const std::vector<std::string>& columns, const RowImages& rows,
                              const FailedStatement& context, const SqlError& refused) {
  StoredColumns stored = StoredColumnsOf(db, schema, table);
  // Where each stored column's new value comes from: the old row, or the
  // changed row (after its rowid).
  std::vector<std::optional<size_t>> assigned(stored.names.size());
  for (size_t k = 0; k < columns.size(); ++k) {
    for (size_t c = 0; c < stored.names.size(); ++c) {
      if (tsql::EqualsIgnoreCase(stored.names[c], columns[k])) assigned[c] = k + 1;
    }
  }
  std::string target = tsql::QuoteSqliteName(schema) + "." + tsql::QuoteSqliteName(table);
  std::string listed, read, placeholders;
  if (!stored.rowid) {
    listed = "rowid";
    placeholders = "?1";
  }
  for (size_t c = 0; c < stored.names.size(); ++c) {
    std::string name = tsql::QuoteSqliteName(stored.names[c]);
    read += (c > 0 ? ", " : "") + name;
    listed += (listed.empty() ? "" : ", ") + name;
    placeholders += (placeholders.empty() ? "?" : ", ?") + std::to_string(c + 2);
  }
  tsql::SqliteText removal, insertion;
  removal.sql = "DELETE FROM " + target + " WHERE rowid = ?1";
  insertion.sql = "INSERT INTO " + target + " (" + listed + ") VALUES (" + placeholders + ")";
  removal.lines.emplace_back(0, context.line);
  insertion.lines.emplace_back(0, context.line);

  catalog::Exec(db, std::string("SAVEPOINT ") + kSavepoint);
  try {
    IdentityCounters counters(db, schema, table);
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
    old_row.reset();
    // A row other rows reference cannot be taken out. When the statement
    // changes a referenced column that is SQL Server's 547 for the UPDATE;
    // else the row's key stays, and the change is refused as SQLite's check
    // refused it.
    bool changes_referenced = false;
    for (const std::string& referenced : ReferencedColumns(db, schema, table)) {
      for (const std::string& column : columns)
        changes_referenced = changes_referenced || tsql::EqualsIgnoreCase(referenced, column);
    }
    auto remove = catalog::Prepare(db, removal.sql);
    for (const RowValues& row : rows) {
      sqlite3_reset(remove.get());
      sqlite3_bind_value(remove.get(), 1, row.At(0));
      int rc = sqlite3_step(remove.get());
      if (rc == SQLITE_DONE) continue;
      if (sqlite3_extended_errcode(db) == SQLITE_CONSTRAINT_FOREIGNKEY) {
        if (!changes_referenced) throw refused;
        ForeignKeyConflict conflict = FindForeignKeyConflict(db, table, "DELETE", schema);
        bool column = !conflict.column.empty();
        throw MakeError(
            547, {context.verb, "COLUMN", conflict.kind, conflict.constraint, context.database,
                  conflict.table, column ? ", column '" : "", conflict.column, column ? "'" : ""});
      }
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
    catalog::Exec(db, std::string("RELEASE ") + kSavepoint);
    return changed;
  } catch (...) {
    if (sqlite3_get_autocommit(db) == 0) {
      std::string undo = std::string("ROLLBACK TO ") + kSavepoint + "; RELEASE " + kSavepoint;
      sqlite3_exec(db, undo.c_str(), nullptr, nullptr, nullptr);
    }
    throw;
  }
}

}  // namespace sqlengine::exec
