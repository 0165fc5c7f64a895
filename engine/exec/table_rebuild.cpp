#include "engine/exec/table_rebuild.h"

#include <optional>
#include <stdexcept>
#include <vector>

#include "engine/catalog/sqlite_handle.h"
#include "engine/common/error.h"
#include "engine/exec/table_constraints.h"
#include "engine/tsql/lexer.h"
#include "engine/tsql/sqlite_quoting.h"

namespace sqlengine::exec {
namespace {

constexpr std::string_view kRebuildTable = "sqlengine_rebuild";

// An index's or trigger's CREATE text with the object placed in `schema`:
// SQLite keeps the text without the schema it was made in.
std::string InSchema(const std::string& sql, const std::string& quoted_schema) {
  tsql::Tokens tokens = tsql::Lex(sql);
  for (size_t i = 1; i + 1 < tokens.size(); ++i) {
    const tsql::Token& token = tokens[i];
    if (token.IsAnyWord(
            {"unique", "index", "trigger", "temp", "temporary", "if", "not", "exists"})) {
      continue;
    }
    if (tokens[i + 1].IsSymbol(".")) return sql;
    return sql.substr(0, token.offset) + quoted_schema + "." + sql.substr(token.offset);
  }
  return sql;
}

std::optional<std::int64_t> IdentityCounter(sqlite3* db, const std::string& quoted_schema,
                                            const std::string& table) {
  auto exists = catalog::Prepare(
      db, "SELECT 1 FROM " + quoted_schema + ".sqlite_master WHERE name = 'sqlite_sequence'");
  if (sqlite3_step(exists.get()) != SQLITE_ROW) return std::nullopt;
  auto counter =
      catalog::Prepare(db, "SELECT seq FROM " + quoted_schema + ".sqlite_sequence WHERE name = ?");
  sqlite3_bind_text(counter.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(counter.get()) != SQLITE_ROW) return std::nullopt;
  return sqlite3_column_int64(counter.get(), 0);
}

// The text between the first pair of double quotes after `after` in `message`.
std::string QuotedAfter(const std::string& message, std::string_view after) {
  size_t at = message.find(after);
  size_t open = message.find('"', at == std::string::npos ? 0 : at);
  size_t close = open == std::string::npos ? open : message.find('"', open + 1);
  return close == std::string::npos ? std::string() : message.substr(open + 1, close - open - 1);
}

// Refuses the new definition when another table's foreign key needs the key
// it took out.
void CheckReferences(sqlite3* db, const std::string& schema, const std::string& constraint) {
  std::string quoted_schema = tsql::QuoteSqliteName(schema);
  std::string mismatch;
  try {
    auto check = catalog::Prepare(db, "PRAGMA " + quoted_schema + ".foreign_key_check");
    int rc = SQLITE_ROW;
    while (rc == SQLITE_ROW) rc = sqlite3_step(check.get());
    if (rc == SQLITE_DONE) return;
    mismatch = sqlite3_errmsg(db);
  } catch (const std::runtime_error& refused) {
    mismatch = refused.what();
  }
  if (mismatch.find("foreign key mismatch") == std::string::npos)
    throw std::runtime_error(mismatch);
  std::string child = QuotedAfter(mismatch, "mismatch");
  std::string column;
  auto key = catalog::Prepare(db, "SELECT \"from\" FROM pragma_foreign_key_list(?, ?)");
  sqlite3_bind_text(key.get(), 1, child.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(key.get(), 2, schema.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(key.get()) == SQLITE_ROW) column = catalog::ColumnText(key.get(), 0);
  key.reset();
  std::string foreign_key = "FK__" + child + "__" + column;
  for (const TableConstraint& c : ReadTableConstraints(db, schema, child)) {
    if (c.xtype == "F" && !c.columns.empty() && tsql::EqualsIgnoreCase(c.columns.front(), column)) {
      foreign_key = c.name;
      break;
    }
  }
  throw MakeError(3725, {constraint, child, foreign_key});
}

}  // namespace

void RebuildTable(sqlite3* db, const std::string& schema, const TableDefinition& definition,
                  const std::string& sql, const std::string& constraint) {
  std::string quoted_schema = tsql::QuoteSqliteName(schema);
  std::string quoted_table = tsql::QuoteSqliteName(definition.table);
  std::string scratch = quoted_schema + "." + tsql::QuoteSqliteName(kRebuildTable);

  // Indexes and triggers, made again in the order they were made: SQLite
  // fires triggers newest first, and the identity triggers must fire last.
  std::vector<std::string> dependents;
  auto objects = catalog::Prepare(db, "SELECT sql FROM " + quoted_schema +
                                          ".sqlite_master WHERE type IN ('index', 'trigger') AND "
                                          "tbl_name = ? AND sql IS NOT NULL ORDER BY type, rowid");
  sqlite3_bind_text(objects.get(), 1, definition.table.c_str(), -1, SQLITE_TRANSIENT);
  while (sqlite3_step(objects.get()) == SQLITE_ROW) {
    dependents.push_back(InSchema(catalog::ColumnText(objects.get(), 0), quoted_schema));
  }
  objects.reset();
  std::optional<std::int64_t> counter = IdentityCounter(db, quoted_schema, definition.table);

  std::string columns;
  for (const std::string& column : ColumnNames(db, schema, definition.table)) {
    columns += ", " + tsql::QuoteSqliteName(column);
  }

  catalog::Exec(db, "DROP TABLE IF EXISTS " + scratch);
  catalog::Exec(db, "CREATE TABLE " + scratch + " " + DefinitionBody(sql));
  catalog::Exec(db, "INSERT INTO " + scratch + " (rowid" + columns + ") SELECT rowid" + columns +
                        " FROM " + quoted_schema + "." + quoted_table);
  catalog::Exec(db, "DROP TABLE " + quoted_schema + "." + quoted_table);
  // In legacy mode a rename changes only the table itself; views that name
  // the table are not read again while it is missing.
  catalog::Exec(db, "PRAGMA legacy_alter_table = ON");
  try {
    catalog::Exec(db, "ALTER TABLE " + scratch + " RENAME TO " + quoted_table);
  } catch (...) {
    sqlite3_exec(db, "PRAGMA legacy_alter_table = OFF", nullptr, nullptr, nullptr);
    throw;
  }
  catalog::Exec(db, "PRAGMA legacy_alter_table = OFF");
  for (const std::string& dependent : dependents) catalog::Exec(db, dependent);
  if (counter) {
    auto restore = catalog::Prepare(
        db, "UPDATE " + quoted_schema + ".sqlite_sequence SET seq = ? WHERE name = ?");
    sqlite3_bind_int64(restore.get(), 1, *counter);
    sqlite3_bind_text(restore.get(), 2, definition.table.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_step(restore.get());
    if (sqlite3_changes(db) == 0) {
      auto insert = catalog::Prepare(
          db, "INSERT INTO " + quoted_schema + ".sqlite_sequence (name, seq) VALUES (?, ?)");
      sqlite3_bind_text(insert.get(), 1, definition.table.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_int64(insert.get(), 2, *counter);
      sqlite3_step(insert.get());
    }
  }
  CheckReferences(db, schema, constraint);
}

}  // namespace sqlengine::exec
