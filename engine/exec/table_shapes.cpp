#include "engine/exec/table_shapes.h"

#include <sqlite3.h>

#include "engine/exec/ansi_trimmed_columns.h"
#include "engine/exec/identity_type.h"
#include "engine/exec/session_connection.h"
#include "engine/exec/sqlite_errors.h"
#include "engine/exec/text_comparison.h"
#include "engine/tsql/collation_names.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/type_name.h"

namespace sqlengine::exec {
namespace {

// A cancel (sqlite3_interrupt) that stops a catalog read ends the statement
// as a cancel, never as a table that could not be described.
void StopIfCancelled(int rc) {
  if (rc == SQLITE_INTERRUPT) throw Cancelled{};
}

const char* Text(sqlite3_stmt* statement, int column) {
  const unsigned char* text = sqlite3_column_text(statement, column);
  return text != nullptr ? reinterpret_cast<const char*>(text) : "";
}

// A view's columns are its names alone: the binder types them from its query.
std::shared_ptr<const tsql::bind::TableShape> ReadShape(SessionConnection& connection,
                                                        const std::string& schema,
                                                        const std::string& table, bool view,
                                                        std::string_view table_sql) {
  auto shape = std::make_shared<tsql::bind::TableShape>();
  shape->name = table;
  shape->schema = schema;
  shape->sql = tsql::QuoteSqliteName(schema) + "." + tsql::QuoteSqliteName(table);
  // A computed column is a generated column, listed by table_xinfo alone.
  // The schema is the pragma's second argument: SQLite does not read one
  // written before a table-valued pragma, and would describe the first table
  // of that name it finds (the current database's).
  SessionConnection::KeptRead columns(
      connection, "SELECT name, type, \"notnull\", pk, dflt_value, hidden FROM "
                  "pragma_table_xinfo(?1, " + tsql::QuoteSqliteString(schema) + ")");
  sqlite3_stmt* raw = columns.get();
  if (raw == nullptr) {
    StopIfCancelled(columns.Status());
    return nullptr;
  }
  sqlite3* db = connection.Handle();
  sqlite3_bind_text(raw, 1, table.c_str(), -1, SQLITE_TRANSIENT);
  std::vector<std::string> trimmed = view ? std::vector<std::string>{}
                                          : AnsiTrimmedColumns(std::string(table_sql));
  int rc;
  while ((rc = sqlite3_step(raw)) == SQLITE_ROW) {
    Column column;
    column.name = Text(raw, 0);
    if (view) {
      shape->columns.push_back(std::move(column));
      shape->column_defaults.emplace_back();
      continue;
    }
    std::optional<ColumnType> type =
        StoredColumnType(Text(raw, 1), sqlite3_column_int(raw, 3), table_sql);
    if (!type) return nullptr;
    int autoincrement = 0;
    const char* collation = nullptr;
    sqlite3_table_column_metadata(db, schema.c_str(), table.c_str(), column.name.c_str(), nullptr,
                                  &collation, nullptr, nullptr, &autoincrement);
    // Character columns are declared sqlengine_ci (older files: NOCASE)
    // unless a _CS or _BIN collation was asked for.
    if (tsql::IsCharacterType(type->type)) tsql::ApplySqliteCollation(collation, *type);
    type->nullable = sqlite3_column_int(raw, 2) == 0 && sqlite3_column_int(raw, 3) == 0;
    type->identity = autoincrement != 0;
    // Its triggers give a timestamp column a value whatever was written.
    if (type->row_version) type->nullable = false;
    // A char or binary column that trims what it stores reads unpadded.
    if (TrimsWrittenValues(*type, type->nullable) && ListsColumn(trimmed, column.name)) {
      if (type->type == SqlType::kChar) type->type = SqlType::kVarChar;
      if (type->type == SqlType::kBinary) type->type = SqlType::kVarBinary;
    }
    column.type = *type;
    shape->columns.push_back(std::move(column));
    shape->column_defaults.emplace_back(Text(raw, 4));
    if (sqlite3_column_int(raw, 5) >= 2) {
      shape->computed_columns.resize(shape->columns.size());
      shape->computed_columns.back() = true;
    }
  }
  StopIfCancelled(rc);
  if (!shape->computed_columns.empty()) shape->computed_columns.resize(shape->columns.size());
  if (shape->columns.empty()) return nullptr;
  return shape;
}

// The row of sqlite_schema for `table`, read now.
std::optional<StoredTable> ReadStoredTable(SessionConnection& connection, const std::string& schema,
                                           const std::string& table) {
  SessionConnection::KeptRead found(connection,
                                    "SELECT name, type, sql FROM " + tsql::QuoteSqliteName(schema) +
                                        ".sqlite_schema WHERE type IN ('table', 'view') AND "
                                        "name = ?1 COLLATE NOCASE");
  sqlite3_stmt* raw = found.get();
  if (raw == nullptr) {
    StopIfCancelled(found.Status());
    return std::nullopt;
  }
  sqlite3_bind_text(raw, 1, table.c_str(), -1, SQLITE_TRANSIENT);
  int rc = sqlite3_step(raw);
  StopIfCancelled(rc);
  if (rc != SQLITE_ROW) return std::nullopt;
  return StoredTable{Text(raw, 0), std::string_view(Text(raw, 1)) == "view", Text(raw, 2)};
}

}  // namespace

std::optional<StoredTable> FindStoredTable(SessionConnection& connection,
                                           const std::string& schema, const std::string& table) {
  if (const std::optional<StoredTable>* remembered = connection.RememberedTable(schema, table))
    return *remembered;
  // The context is read first: a schema changed meanwhile makes the row
  // remembered a stale context's, never a newer one's.
  std::optional<StatementCache::Context> context;
  if (connection.RemembersTables()) context = connection.StatementContext();
  std::optional<StoredTable> stored = ReadStoredTable(connection, schema, table);
  if (connection.RemembersTables())
    connection.RememberTable(schema, table, stored, std::move(context));
  return stored;
}

std::shared_ptr<const tsql::bind::TableShape> TableShapeOf(SessionConnection& connection,
                                                           const std::string& schema,
                                                           const StoredTable& table) {
  // Without its text a table cannot be told from its later self.
  if (table.view || table.sql.empty()) return ReadShape(connection, schema, table.name, table.view, table.sql);
  TableShapes& kept = connection.Shapes();
  std::string key = TableShapes::Key(schema, table);
  if (std::shared_ptr<const tsql::bind::TableShape> shape = kept.Find(key)) return shape;
  std::shared_ptr<const tsql::bind::TableShape> shape = ReadShape(connection, schema, table.name, false, table.sql);
  if (shape) kept.Keep(std::move(key), shape);
  return shape;
}

std::string TableShapes::Key(std::string_view schema, const StoredTable& table) {
  std::string key;
  key.reserve(schema.size() + table.name.size() + table.sql.size() + 2);
  key.append(schema).append(1, '\0').append(table.name).append(1, '\0').append(table.sql);
  return key;
}

std::shared_ptr<const tsql::bind::TableShape> TableShapes::Find(const std::string& key) const {
  auto it = kept_.find(key);
  return it == kept_.end() ? nullptr : it->second;
}

void TableShapes::Keep(std::string key, std::shared_ptr<const tsql::bind::TableShape> shape) {
  if (kept_.size() >= kKept) kept_.clear();
  kept_.insert_or_assign(std::move(key), std::move(shape));
}

}  // namespace sqlengine::exec
