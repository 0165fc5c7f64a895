// Debian's SQLite is built with the pre-update hook; its declarations are
// there only when asked for.
#define SQLITE_ENABLE_PREUPDATE_HOOK 1
#include "engine/exec/row_images.h"

#include <optional>
#include <stdexcept>

#include "engine/catalog/sqlite_handle.h"
#include "engine/exec/check_condition.h"
#include "engine/exec/identity_type.h"
#include "engine/exec/table_definition.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/token.h"
#include "engine/tsql/type_name.h"

namespace sqlengine::exec {
namespace {

constexpr const char* kImageTables[] = {"inserted", "deleted"};

bool TempTableExists(sqlite3* db, const std::string& name) {
  auto query =
      catalog::Prepare(db, "SELECT 1 FROM temp.sqlite_master WHERE type = 'table' AND name = ?");
  sqlite3_bind_text(query.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
  return sqlite3_step(query.get()) == SQLITE_ROW;
}

// "(\"a\" int, \"b\" nvarchar(20) COLLATE NOCASE, ...)" for `table`'s columns
// (computed ones included: the images hold their values as SELECT * reads them).
std::string ColumnDefinitions(sqlite3* db, const std::string& schema, const std::string& table) {
  auto query = catalog::Prepare(
      db, "SELECT name, type, pk FROM pragma_table_xinfo(?, " + tsql::QuoteSqliteString(schema) +
              ")");
  sqlite3_bind_text(query.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  std::string table_sql = StoredTableSql(db, schema, table);
  std::string columns;
  while (sqlite3_step(query.get()) == SQLITE_ROW) {
    std::string name = catalog::ColumnText(query.get(), 0);
    std::string type = catalog::ColumnText(query.get(), 1);
    // The identity, the table's rowid, is an image column of its declared type.
    if (sqlite3_column_int(query.get(), 2) == 1 && tsql::EqualsIgnoreCase(type, "INTEGER")) {
      if (std::optional<ColumnType> identity = IdentityTypeIn(table_sql))
        type = tsql::TypeDeclaration(*identity);
    }
    const char* collation = nullptr;
    sqlite3_table_column_metadata(db, schema.c_str(), table.c_str(), name.c_str(), nullptr,
                                  &collation, nullptr, nullptr, nullptr);
    columns += (columns.empty() ? "(" : ", ") + tsql::QuoteSqliteName(name) + " " + type;
    if (collation != nullptr && !tsql::EqualsIgnoreCase(collation, "BINARY")) {
      columns += std::string(" COLLATE ") + collation;
    }
  }
  if (columns.empty()) throw std::runtime_error("no columns for the trigger's table " + table);
  return columns + ")";
}

// A computed column of `table` and the SQLite expression that computes it.
struct ComputedColumn {
  std::string name;
  std::string expression;
};

// The table's stored columns, in order, and its computed (generated) ones.
struct StoredAndComputed {
  std::vector<std::string> stored;
  std::vector<ComputedColumn> computed;
};
StoredAndComputed ColumnsByKind(sqlite3* db, const std::string& schema, const std::string& table) {
  auto query = catalog::Prepare(
      db, "SELECT name, hidden FROM pragma_table_xinfo(?, " + tsql::QuoteSqliteString(schema) + ")");
  sqlite3_bind_text(query.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  StoredAndComputed columns;
  while (sqlite3_step(query.get()) == SQLITE_ROW) {
    std::string name = catalog::ColumnText(query.get(), 0);
    if (sqlite3_column_int(query.get(), 1) >= 2) {
      columns.computed.push_back(ComputedColumn{name, ""});
    } else {
      columns.stored.push_back(name);
    }
  }
  query.reset();
  if (columns.computed.empty()) return columns;
  std::optional<TableDefinition> definition = ReadTableDefinition(db, schema, table);
  if (!definition) throw std::runtime_error("no definition for the trigger's table " + table);
  for (ComputedColumn& column : columns.computed) {
    const TableDefinition::Element* element = definition->Column(column.name);
    if (element == nullptr) throw std::runtime_error("no definition for column " + column.name);
    column.expression = ParenthesisedAfter(
        std::string_view(definition->sql).substr(element->begin, element->end - element->begin),
        "as");
  }
  return columns;
}

// `rows` into the image `image`: each row holds the table's columns in
// order, or (`columns` given: old rows as the change found them) its stored
// columns alone, the computed ones then computed from them.
void Fill(sqlite3* db, const std::string& image, const RowImages& rows,
          const StoredAndComputed* columns = nullptr) {
  if (rows.empty()) return;
  std::string placeholders;
  for (size_t i = 0; i < rows.front().Size(); ++i) placeholders += i == 0 ? "?" : ", ?";
  std::string listed;
  if (columns != nullptr && !columns->computed.empty()) {
    for (size_t i = 0; i < columns->stored.size() && i < rows.front().Size(); ++i)
      listed += (listed.empty() ? " (" : ", ") + tsql::QuoteSqliteName(columns->stored[i]);
    listed += ")";
  }
  auto insert =
      catalog::Prepare(db, "INSERT INTO temp." + image + listed + " VALUES (" + placeholders + ")");
  for (const RowValues& row : rows) {
    sqlite3_reset(insert.get());
    for (size_t i = 0; i < row.Size(); ++i) {
      sqlite3_bind_value(insert.get(), static_cast<int>(i + 1), row.At(i));
    }
    if (sqlite3_step(insert.get()) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
  }
  if (columns == nullptr || columns->computed.empty()) return;
  std::string assignments;
  for (const ComputedColumn& column : columns->computed) {
    assignments += (assignments.empty() ? "" : ", ") + tsql::QuoteSqliteName(column.name) + " = (" +
                   column.expression + ")";
  }
  catalog::Exec(db, "UPDATE temp." + image + " SET " + assignments);
}

}  // namespace

void RowValues::Add(const sqlite3_value* value) {
  sqlite3_value* copy = sqlite3_value_dup(value);
  if (copy == nullptr) throw std::bad_alloc();
  values_.emplace_back(copy);
}

RowChangeCapture::RowChangeCapture(sqlite3* db, std::string schema, std::string table)
    : db_(db), schema_(std::move(schema)), table_(std::move(table)) {
  sqlite3_preupdate_hook(db_, &RowChangeCapture::Hook, this);
}

RowChangeCapture::~RowChangeCapture() { sqlite3_preupdate_hook(db_, nullptr, nullptr); }

void RowChangeCapture::Hook(void* self, sqlite3* /*db*/, int op, const char* schema,
                            const char* table, sqlite3_int64 old_rowid, sqlite3_int64 new_rowid) {
  auto* capture = static_cast<RowChangeCapture*>(self);
  if (!tsql::EqualsIgnoreCase(schema, capture->schema_) ||
      !tsql::EqualsIgnoreCase(table, capture->table_)) {
    return;
  }
  capture->Record(op, old_rowid, new_rowid);
}

void RowChangeCapture::Record(int op, sqlite3_int64 old_rowid, sqlite3_int64 new_rowid) {
  if (sqlite3_preupdate_depth(db_) > 0) {
    // The engine's own triggers: a new row moved to its identity value.
    if (op == SQLITE_UPDATE && old_rowid != new_rowid) {
      auto moved = new_positions_.find(old_rowid);
      if (moved != new_positions_.end()) {
        size_t position = moved->second;
        new_positions_.erase(moved);
        new_rowids_[position] = new_rowid;
        new_positions_[new_rowid] = position;
      }
    }
    return;
  }
  if (op == SQLITE_UPDATE || op == SQLITE_DELETE) {
    RowValues row;
    int count = sqlite3_preupdate_count(db_);
    // The old row's stored columns come first; a computed column has no
    // stored value (the image computes it).
    for (int i = 0; i < count; ++i) {
      sqlite3_value* value = nullptr;
      if (sqlite3_preupdate_old(db_, i, &value) != SQLITE_OK || value == nullptr) break;
      row.Add(value);
    }
    old_rows_.push_back(std::move(row));
  }
  if (op == SQLITE_UPDATE || op == SQLITE_INSERT) {
    new_positions_[new_rowid] = new_rowids_.size();
    new_rowids_.push_back(new_rowid);
  }
}

RowImages RowChangeCapture::ReadNewRows() const {
  RowImages rows;
  if (new_rowids_.empty()) return rows;
  auto query = catalog::Prepare(db_, "SELECT * FROM " + tsql::QuoteSqliteName(schema_) + "." +
                                         tsql::QuoteSqliteName(table_) + " WHERE rowid = ?");
  for (sqlite3_int64 rowid : new_rowids_) {
    sqlite3_reset(query.get());
    sqlite3_bind_int64(query.get(), 1, rowid);
    if (sqlite3_step(query.get()) != SQLITE_ROW) continue;  // gone again within the statement
    RowValues row;
    for (int i = 0; i < sqlite3_column_count(query.get()); ++i) {
      row.Add(sqlite3_column_value(query.get(), i));
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

TriggerImages::TriggerImages(sqlite3* db, const std::string& schema, const std::string& table,
                             const RowImages& inserted, const RowImages& deleted, int level)
    : db_(db), schema_(schema), table_(table), inserted_(inserted), deleted_(deleted) {
  if (TempTableExists(db, "inserted")) {
    set_aside_ = std::to_string(level);
    for (const char* image : kImageTables) {
      catalog::Exec(db, std::string("ALTER TABLE temp.") + image + " RENAME TO sqlengine_" + image +
                            "_" + set_aside_);
    }
  }
  try {
    Create();
  } catch (...) {
    Remove();
    throw;
  }
}

void TriggerImages::Create() {
  std::string columns = ColumnDefinitions(db_, schema_, table_);
  for (const char* image : kImageTables) {
    catalog::Exec(db_, std::string("CREATE TEMP TABLE ") + image + " " + columns);
  }
  Fill(db_, "inserted", inserted_);
  StoredAndComputed kinds = ColumnsByKind(db_, schema_, table_);
  Fill(db_, "deleted", deleted_, &kinds);
}

void TriggerImages::Restore() {
  if (!TempTableExists(db_, "inserted")) Create();
}

TriggerImages::~TriggerImages() {
  try {
    Remove();
  } catch (...) {
    // Nothing to bring back: the firing's transaction is gone.
  }
}

void TriggerImages::Remove() {
  for (const char* image : kImageTables) {
    sqlite3_exec(db_, (std::string("DROP TABLE IF EXISTS temp.") + image).c_str(), nullptr, nullptr,
                 nullptr);
  }
  if (set_aside_.empty()) return;
  for (const char* image : kImageTables) {
    std::string aside = std::string("sqlengine_") + image + "_" + set_aside_;
    if (!TempTableExists(db_, aside)) continue;
    sqlite3_exec(db_, ("ALTER TABLE temp." + aside + " RENAME TO " + image).c_str(), nullptr,
                 nullptr, nullptr);
  }
  set_aside_.clear();
}

std::vector<std::string> TableColumns(sqlite3* db, const std::string& schema,
                                      const std::string& table) {
  auto query = catalog::Prepare(
      db, "SELECT name FROM pragma_table_xinfo(?, " + tsql::QuoteSqliteString(schema) + ")");
  sqlite3_bind_text(query.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  std::vector<std::string> columns;
  while (sqlite3_step(query.get()) == SQLITE_ROW)
    columns.push_back(catalog::ColumnText(query.get(), 0));
  return columns;
}

}  // namespace sqlengine::exec
