#include "engine/exec/identity_insert.h"

#include <stdexcept>
#include <vector>

#include "engine/catalog/sqlite_handle.h"
#include "engine/common/error.h"
#include "engine/exec/maintained_tables.h"
#include "engine/exec/session.h"
#include "engine/exec/session_connection.h"
#include "engine/exec/table_shapes.h"
#include "engine/tsql/dotted_name.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/syntax_error.h"

namespace sqlengine::exec {
namespace {

struct TableColumns {
  std::vector<std::string> names;
  std::string identity;  // empty: none
};

// Whether `schema` has a table or view `table`, read through a statement,
// which brings the connection's copy of that schema up to date first:
// another session's DDL is seen here as the INSERT itself will see it.
bool HasTable(sqlite3* db, const std::string& schema, const std::string& table) {
  SessionConnection::KeptRead found(db, "SELECT 1 FROM " + tsql::QuoteSqliteName(schema) +
                                            ".sqlite_schema WHERE type IN ('table', 'view') "
                                            "AND name = ?1 COLLATE NOCASE");
  if (found.get() == nullptr) return false;
  sqlite3_bind_text(found.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  return sqlite3_step(found.get()) == SQLITE_ROW;
}

// The schema SQLite finds an unqualified `table` in: temp, main, then the
// attached databases in the order attached; empty when none has it.
std::string SchemaOfTable(sqlite3* db, const std::string& table) {
  std::vector<std::string> schemas;
  for (int k = 0; const char* name = sqlite3_db_name(db, k); ++k) {
    if (k == 1)
      schemas.insert(schemas.begin(), name);
    else
      schemas.emplace_back(name);
  }
  for (const std::string& schema : schemas) {
    if (HasTable(db, schema, table)) return schema;
  }
  return {};
}

// The columns of `table` in `schema`, read as SQLite describes them; no
// names when it has no identity column.
TableColumns ColumnsRead(sqlite3* db, const std::string& table, const std::string& schema) {
  TableColumns columns;
  int autoincrement = 0;
  bool has_identity =
      sqlite3_table_column_metadata(db, schema.c_str(), table.c_str(), "rowid", nullptr, nullptr,
                                    nullptr, nullptr, &autoincrement) == SQLITE_OK &&
      autoincrement;
  if (!has_identity) return columns;  // the common case, without a query
  SessionConnection::KeptRead info(db, "SELECT name, type, pk FROM pragma_table_info(?1, " +
                                           tsql::QuoteSqliteString(schema) + ")");
  if (info.get() == nullptr) throw std::runtime_error(sqlite3_errmsg(db));
  sqlite3_bind_text(info.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  while (sqlite3_step(info.get()) == SQLITE_ROW) {
    std::string name = catalog::ColumnText(info.get(), 0);
    if (sqlite3_column_int(info.get(), 2) == 1 &&
        tsql::EqualsIgnoreCase(catalog::ColumnText(info.get(), 1), "integer")) {
      columns.identity = name;
    }
    columns.names.push_back(std::move(name));
  }
  return columns;
}

// The columns of `table` in `schema`, or as SQLite finds it when `schema` is
// empty (temp, main, then attached); no names when it has no identity
// column. Taken from the table's shape as the front end reads it, which the
// connection keeps while the table's definition stays the same.
TableColumns ColumnsOf(SessionConnection& connection, const std::string& table,
                       std::string schema = {}) {
  if (schema.empty()) schema = SchemaOfTable(connection.Handle(), table);
  if (schema.empty()) return {};
  std::optional<StoredTable> stored = FindStoredTable(connection, schema, table);
  if (!stored || stored->view) return {};
  std::shared_ptr<const tsql::bind::TableShape> shape = TableShapeOf(connection, schema, *stored);
  if (!shape) return ColumnsRead(connection.Handle(), stored->name, schema);
  TableColumns columns;
  for (size_t k = 0; k < shape->columns.size(); ++k) {
    if (shape->columns[k].type.identity) columns.identity = shape->columns[k].name;
  }
  if (columns.identity.empty()) return columns;
  for (size_t k = 0; k < shape->columns.size(); ++k) {
    // A computed column takes no value.
    if (k < shape->computed_columns.size() && shape->computed_columns[k]) continue;
    columns.names.push_back(shape->columns[k].name);
  }
  return columns;
}

tsql::Token Synthetic(const tsql::Token& origin, tsql::TokenKind kind, const std::string& text) {
  tsql::Token token;
  token.kind = kind;
  token.text = kind == tsql::TokenKind::kQuotedName ? "[" + text + "]" : text;
  token.value = text;
  token.line = origin.line;
  token.offset = origin.offset;
  return token;
}

}  // namespace

std::optional<tsql::Tokens> ApplyIdentityRules(SessionConnection& connection,
                                               const tsql::Tokens& insert,
                                               const std::string& identity_insert_table,
                                               const std::string& schema) {
  size_t name_at = insert.size() > 1 && insert[1].IsWord("into") ? 2 : 1;
  if (name_at >= insert.size() || !insert[name_at].IsName()) return std::nullopt;
  tsql::DottedName name = tsql::ReadDottedName(insert, name_at);
  if (name.parts.empty() || name.Last().starts_with("@") || name.end >= insert.size()) {
    return std::nullopt;
  }
  TableColumns columns = ColumnsOf(connection, name.Last(), schema);
  if (columns.identity.empty()) return std::nullopt;
  const tsql::Token& next = insert[name.end];
  bool allowed = tsql::EqualsIgnoreCase(name.Last(), identity_insert_table);
  if (next.IsSymbol("(") &&
      !(name.end + 1 < insert.size() && insert[name.end + 1].IsWord("select"))) {
    for (size_t i = name.end + 1; i < insert.size() && !insert[i].IsSymbol(")"); ++i) {
      if (insert[i].IsName() && tsql::EqualsIgnoreCase(insert[i].value, columns.identity) &&
          !allowed) {
        SqlError error = MakeError(544, {name.Last()});
        error.message().line = insert[i].line;
        throw error;
      }
    }
    return std::nullopt;
  }
  if (allowed || next.IsWord("default")) return std::nullopt;
  tsql::Tokens explicit_list(insert.begin(),
                             insert.begin() + static_cast<std::ptrdiff_t>(name.end));
  explicit_list.push_back(Synthetic(next, tsql::TokenKind::kSymbol, "("));
  bool first = true;
  for (const std::string& column : columns.names) {
    if (column == columns.identity) continue;
    if (!first) explicit_list.push_back(Synthetic(next, tsql::TokenKind::kSymbol, ","));
    explicit_list.push_back(Synthetic(next, tsql::TokenKind::kQuotedName, column));
    first = false;
  }
  explicit_list.push_back(Synthetic(next, tsql::TokenKind::kSymbol, ")"));
  explicit_list.insert(explicit_list.end(), insert.begin() + static_cast<std::ptrdiff_t>(name.end),
                       insert.end());
  return explicit_list;
}

void SetIdentityInsert(Session& session, const tsql::Tokens& set) {
  std::string& current = session.IdentityInsertTable();
  // SET IDENTITY_INSERT name ON | OFF
  if (set.size() < 4 || !set[2].IsName())
    throw tsql::SyntaxError(set.size() > 2 ? set[2] : set.back());
  tsql::DottedName name = tsql::ReadDottedName(set, 2);
  if (name.end >= set.size() || !(set[name.end].IsWord("on") || set[name.end].IsWord("off"))) {
    throw tsql::SyntaxError(name.end < set.size() ? set[name.end] : set.back());
  }
  bool on = set[name.end].IsWord("on");
  std::string table = tsql::ToLower(name.Last());
  // The table is found as T-SQL names reach it (db..t in another database);
  // only those who may alter it switch its identity.
  std::optional<MaintainedTable> found = FindMaintainedTable(session, name);
  if (!found || ColumnsOf(session.Connection(), found->name, found->schema).identity.empty())
    throw MakeError(8106, {name.Last()});
  if (!MayMaintain(session, *found)) throw MakeError(8104, {found->name});
  if (!on) {
    if (current == table) current.clear();
    return;
  }
  if (!current.empty() && current != table) throw MakeError(8107, {current, name.Last()});
  current = table;
}

}  // namespace sqlengine::exec
