#include "engine/exec/triggers.h"

#include "engine/catalog/data_file.h"
#include "engine/catalog/master_catalog.h"
#include "engine/catalog/sqlite_handle.h"
#include "engine/common/error.h"
#include "engine/exec/known_tables.h"
#include "engine/exec/locked_savepoint.h"
#include "engine/exec/session.h"
#include "engine/tsql/dotted_name.h"
#include "engine/tsql/procedure_definition.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/syntax_error.h"
#include "engine/tsql/trigger_definition.h"

namespace sqlengine::exec {
namespace {

constexpr const char* kTriggersColumns =
    " (name nvarchar(128) PRIMARY KEY COLLATE NOCASE, table_name nvarchar(128) NOT NULL COLLATE "
    "NOCASE, instead_of int NOT NULL, events varchar(3) NOT NULL, encrypted int NOT NULL, "
    "definition ntext NOT NULL)";

std::string Table(const std::string& schema, const char* table) {
  return tsql::QuoteSqliteName(schema) + "." + table;
}

void Bind(sqlite3_stmt* statement, int index, std::string_view text) {
  sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

void Step(sqlite3* db, sqlite3_stmt* statement) {
  if (sqlite3_step(statement) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
}

bool HasRow(sqlite3* db, const std::string& sql, std::string_view a, std::string_view b = {}) {
  SessionConnection::KeptRead query(db, sql);
  if (query.get() == nullptr) throw std::runtime_error(sqlite3_errmsg(db));
  Bind(query.get(), 1, a);
  if (sqlite3_bind_parameter_count(query.get()) > 1) Bind(query.get(), 2, b);
  return sqlite3_step(query.get()) == SQLITE_ROW;
}

std::string Events(const tsql::TriggerDefinition& definition) {
  std::string events;
  if (definition.on_insert) events += 'I';
  if (definition.on_update) events += 'U';
  if (definition.on_delete) events += 'D';
  return events;
}

void RemoveObjectRow(sqlite3* db, const std::string& schema, std::string_view trigger) {
  auto remove = catalog::Prepare(db, "DELETE FROM " + Table(schema, catalog::kObjectsTable) +
                                         " WHERE name = ? AND xtype = 'TR'");
  Bind(remove.get(), 1, trigger);
  Step(db, remove.get());
}

}  // namespace

std::string TableOfTrigger(sqlite3* db, const std::string& schema, std::string_view trigger) {
  if (!HasTriggers(db, schema)) return {};
  auto query = catalog::Prepare(
      db, "SELECT table_name FROM " + Table(schema, kTriggersTable) + " WHERE name = ?");
  Bind(query.get(), 1, trigger);
  if (sqlite3_step(query.get()) != SQLITE_ROW) return {};
  return catalog::ColumnText(query.get(), 0);
}

bool HasTriggers(sqlite3* db, const std::string& schema) {
  if (std::optional<bool> known = KnownTable(db, schema, kTriggersTable)) return *known;
  return HasRow(
      db, "SELECT 1 FROM " + Table(schema, "sqlite_master") + " WHERE type = 'table' AND name = ?",
      kTriggersTable);
}

void DefineTrigger(Session& session, const tsql::Statement& statement,
                   const std::string& written) {
  tsql::TriggerDefinition definition = tsql::ParseTriggerDefinition(statement.tokens);
  bool alter = statement.tokens.front().IsWord("alter");
  if (!definition.database.empty() &&
      !tsql::EqualsIgnoreCase(definition.database, session.CurrentDatabase())) {
    throw MakeError(208, {definition.table});
  }
  if (IsInternalName(definition.name)) throw MakeError(2714, {definition.name});
  sqlite3* db = session.Connection().Handle();
  const std::string schema = "main";
  // A view takes INSTEAD OF triggers only.
  const std::string kinds = definition.instead_of ? "('table', 'view')" : "('table')";
  if (IsInternalName(definition.table) || definition.table.starts_with("#") ||
      !HasRow(db,
              "SELECT 1 FROM main.sqlite_master WHERE type IN " + kinds +
                  " AND name = ? COLLATE NOCASE",
              definition.table)) {
    throw MakeError(208, {definition.table});
  }
  session.Rights().Require(definition.table, Access::kAlter);
  LockedSavepoint write(session, schema, "sqlengine_trigger");
  catalog::Exec(db,
                "CREATE TABLE IF NOT EXISTS " + Table(schema, kTriggersTable) + kTriggersColumns);
  bool exists = !TableOfTrigger(db, schema, definition.name).empty();
  if (!alter && (exists || HasRow(db,
                                  "SELECT 1 FROM " + Table(schema, catalog::kObjectsTable) +
                                      " WHERE name = ? UNION ALL SELECT 1 FROM "
                                      "main.sqlite_master WHERE name = ? COLLATE NOCASE",
                                  definition.name, definition.name))) {
    throw MakeError(2714, {definition.name});
  }
  if (alter && !exists) throw MakeError(208, {definition.name});
  auto save =
      catalog::Prepare(db, "INSERT OR REPLACE INTO " + Table(schema, kTriggersTable) +
                               " (name, table_name, instead_of, events, encrypted, definition) "
                               "VALUES (?, ?, ?, ?, ?, ?)");
  Bind(save.get(), 1, definition.name);
  Bind(save.get(), 2, definition.table);
  sqlite3_bind_int(save.get(), 3, definition.instead_of ? 1 : 0);
  Bind(save.get(), 4, Events(definition));
  sqlite3_bind_int(save.get(), 5, definition.encrypted ? 1 : 0);
  Bind(save.get(), 6, written);
  Step(db, save.get());
  if (!exists) {
    catalog::RecordNewObject(db, schema, definition.name, "TR");
  }
  write.Release();
}

void DropTriggers(Session& session, const tsql::Statement& statement) {
  const tsql::Tokens& tokens = statement.tokens;
  std::vector<std::string> names;
  for (size_t i = 2; i < tokens.size() && tokens[i].kind != tsql::TokenKind::kEnd;) {
    tsql::DottedName name = tsql::ReadDottedName(tokens, i);
    if (name.parts.empty()) throw tsql::SyntaxError(tokens[i], &tokens[i - 1]);
    names.push_back(name.Last());
    i = name.end;
    if (i < tokens.size() && tokens[i].IsSymbol(",")) {
      ++i;
      if (i >= tokens.size()) throw tsql::SyntaxError(tokens.back());
    } else if (i < tokens.size()) {
      throw tsql::SyntaxError(tokens[i], &tokens[i - 1]);
    }
  }
  if (names.empty()) throw tsql::SyntaxError(tokens.back());
  sqlite3* db = session.Connection().Handle();
  const std::string schema = "main";
  for (const std::string& name : names) {
    std::string table = TableOfTrigger(db, schema, name);
    if (table.empty()) throw MakeError(3701, {"drop", "trigger", name});
    session.Rights().Require(table, Access::kAlter);
    LockedSavepoint write(session, schema, "sqlengine_trigger");
    auto remove =
        catalog::Prepare(db, "DELETE FROM " + Table(schema, kTriggersTable) + " WHERE name = ?");
    Bind(remove.get(), 1, name);
    Step(db, remove.get());
    RemoveObjectRow(db, schema, name);
    write.Release();
  }
}

std::vector<StoredTrigger> TriggersOf(sqlite3* db, const std::string& schema,
                                      const std::string& table) {
  std::vector<StoredTrigger> found;
  // A database without triggers has no such table: nothing fires.
  if (!HasTriggers(db, schema)) return found;
  SessionConnection::KeptRead query(
      db, "SELECT name, table_name, instead_of, events, definition FROM " +
              Table(schema, kTriggersTable) + " WHERE table_name = ?1 ORDER BY rowid");
  sqlite3_stmt* raw = query.get();
  if (raw == nullptr) return found;
  Bind(raw, 1, table);
  while (sqlite3_step(raw) == SQLITE_ROW) {
    found.push_back({catalog::ColumnText(raw, 0), catalog::ColumnText(raw, 1),
                     sqlite3_column_int(raw, 2) != 0, catalog::ColumnText(raw, 3),
                     catalog::ColumnText(raw, 4)});
  }
  return found;
}

std::vector<StoredTrigger> TriggersFor(sqlite3* db, const std::string& schema,
                                       const std::string& table, TriggerEvent event) {
  char wanted = event == TriggerEvent::kInsert ? 'I' : event == TriggerEvent::kUpdate ? 'U' : 'D';
  std::vector<StoredTrigger> found = TriggersOf(db, schema, table);
  std::erase_if(found, [&](const StoredTrigger& trigger) {
    return trigger.events.find(wanted) == std::string::npos;
  });
  return found;
}

void ForgetTableTriggers(sqlite3* db, const std::string& schema, const std::string& table) {
  if (!HasTriggers(db, schema)) return;
  catalog::Exec(db, "DELETE FROM " + Table(schema, catalog::kObjectsTable) +
                        " WHERE xtype = 'TR' AND name IN (SELECT name FROM " +
                        Table(schema, kTriggersTable) +
                        " WHERE table_name = " + tsql::QuoteSqliteString(table) + ")");
  auto remove = catalog::Prepare(
      db, "DELETE FROM " + Table(schema, kTriggersTable) + " WHERE table_name = ?");
  Bind(remove.get(), 1, table);
  Step(db, remove.get());
}

}  // namespace sqlengine::exec
