#include "engine/exec/user_types.h"

#include <cctype>

#include "engine/catalog/sqlite_handle.h"
#include "engine/common/error.h"
#include "engine/exec/catalog_writes.h"
#include "engine/exec/extended_properties.h"
#include "engine/exec/procedure_arguments.h"
#include "engine/exec/rules_defaults.h"
#include "engine/exec/session.h"
#include "engine/tsql/dotted_name.h"
#include "engine/tsql/lexer.h"
#include "engine/tsql/table_reference.h"
#include "engine/tsql/sqlite_quoting.h"

namespace sqlengine::exec {
namespace {

using tsql::Token;
using tsql::Tokens;

// Which table columns were declared with which user type.
constexpr const char* kTypeColumnsTable = "sqlengine_type_columns";

void EnsureTables(sqlite3* db) {
  catalog::Exec(db, std::string("CREATE TABLE IF NOT EXISTS main.") + kUserTypesTable +
                        " (name nvarchar(128) PRIMARY KEY COLLATE NOCASE, base varchar(40) NOT "
                        "NULL, nullable bit NOT NULL, rule nvarchar(128), default_name "
                        "nvarchar(128))");
  catalog::Exec(db, std::string("CREATE TABLE IF NOT EXISTS main.") + kTypeColumnsTable +
                        " (table_name nvarchar(128) NOT NULL COLLATE NOCASE, column_name "
                        "nvarchar(128) NOT NULL COLLATE NOCASE, type_name nvarchar(128) NOT NULL "
                        "COLLATE NOCASE, PRIMARY KEY (table_name, column_name))");
}

UserType ReadType(sqlite3_stmt* row) {
  UserType type;
  type.name = catalog::ColumnText(row, 0);
  type.base = catalog::ColumnText(row, 1);
  type.nullable = sqlite3_column_int(row, 2) != 0;
  type.rule = catalog::ColumnText(row, 3);
  type.default_name = catalog::ColumnText(row, 4);
  return type;
}

constexpr const char* kTypeColumns = "SELECT name, base, nullable, rule, default_name FROM main.";

// 'varchar(11)', 'decimal(10, 2)', 'int': the base type with its canonical
// declaration; nullopt for no built-in type.
std::optional<ColumnType> BaseType(std::string_view written) {
  tsql::UserTypeScope built_in_only(nullptr);
  Tokens tokens = tsql::LexClientText(written);
  while (!tokens.empty() && tokens.back().kind == tsql::TokenKind::kEnd) tokens.pop_back();
  if (tokens.empty() || !tokens[0].IsName()) return std::nullopt;
  std::vector<std::string> arguments;
  size_t i = 1;
  if (i < tokens.size() && tokens[i].IsSymbol("(")) {
    for (++i; i < tokens.size() && !tokens[i].IsSymbol(")"); ++i) {
      if (!tokens[i].IsSymbol(",")) arguments.push_back(tokens[i].text);
    }
    if (i >= tokens.size()) return std::nullopt;
    ++i;
  }
  if (i != tokens.size()) return std::nullopt;
  return tsql::ColumnTypeFromName(tokens[0].value, arguments);
}

// sp_addtype / sp_droptype and sp_bindrule on a type change the schema:
// dbo, db_owner and db_ddladmin may.
void RequireDdlRights(Session& session) {
  if (session.IsSysadmin()) return;
  const DatabaseRights& rights = session.Rights().InCurrent();
  if (rights.IsDbo() || rights.InRole("db_owner") || rights.InRole("db_ddladmin")) return;
  throw MakeError(15247);
}

void AddType(Session& session, const std::vector<CallArgument>& given) {
  Arguments args("sp_addtype", given, {"@typename", "@phystype", "@nulltype", "@owner"});
  std::string name = args.Required(0, "sp_addtype", "@typename");
  std::string physical = args.Required(1, "sp_addtype", "@phystype");
  std::string nulls = tsql::ToLower(args[2].value_or("null"));
  bool nullable = nulls == "null";
  if (!nullable && nulls != "not null" && nulls != "nonull") {
    throw MakeError(50000, {"Invalid null type '" + *args[2] + "': use NULL or NOT NULL."});
  }
  RequireDdlRights(session);
  std::optional<ColumnType> base = BaseType(physical);
  if (!base) throw MakeError(15036, {physical});
  CatalogWrite write(session);
  sqlite3* db = write.Db();
  {
    tsql::UserTypeScope built_in_only(nullptr);
    if (tsql::ColumnTypeFromName(name, {}) || FindUserType(db, name)) {
      throw MakeError(15029, {name});
    }
  }
  EnsureTables(db);
  RunWithTexts(db,
               std::string("INSERT INTO main.") + kUserTypesTable +
                   " (name, base, nullable) VALUES (?, ?, " + (nullable ? "1" : "0") + ")",
               {name, tsql::TypeDeclaration(*base)});
  write.Commit();
}

void DropType(Session& session, const std::vector<CallArgument>& given) {
  Arguments args("sp_droptype", given, {"@typename"});
  std::string name = args.Required(0, "sp_droptype", "@typename");
  RequireDdlRights(session);
  CatalogWrite write(session);
  sqlite3* db = write.Db();
  std::optional<UserType> type = FindUserType(db, name);
  if (!type) throw MakeError(15148, {name});
  if (!ColumnsOfType(db, type->name).empty()) throw MakeError(15180);
  RunWithTexts(db, std::string("DELETE FROM main.") + kUserTypesTable + " WHERE name = ?",
               {type->name});
  RunWithTexts(db, std::string("DELETE FROM main.") + kTypeColumnsTable + " WHERE type_name = ?",
               {type->name});
  ForgetNameProperties(db, "TYPE", type->name);
  write.Commit();
}

// The column definitions of a CREATE TABLE: (column name, type word) for
// each item of its outer parentheses that is no table constraint.
std::vector<std::pair<std::string, std::string>> DeclaredColumns(const Tokens& tokens) {
  std::vector<std::pair<std::string, std::string>> columns;
  size_t open = 0;
  while (open < tokens.size() && !tokens[open].IsSymbol("(")) ++open;
  int depth = 0;
  bool item_start = true;
  for (size_t i = open; i < tokens.size(); ++i) {
    const Token& token = tokens[i];
    if (token.IsSymbol("(")) {
      ++depth;
      if (depth == 1) item_start = true;
      continue;
    }
    if (token.IsSymbol(")")) {
      if (--depth == 0) break;
      continue;
    }
    if (depth == 1 && token.IsSymbol(",")) {
      item_start = true;
      continue;
    }
    if (depth == 1 && item_start) {
      item_start = false;
      if (token.IsAnyWord({"constraint", "primary", "unique", "check", "foreign", "index"}))
        continue;
      if (token.IsName() && i + 1 < tokens.size() && tokens[i + 1].IsName()) {
        columns.emplace_back(token.value, tokens[i + 1].value);
      }
    }
  }
  return columns;
}

bool HasRowFor(sqlite3* db, const std::string& sql, const std::string& text) {
  catalog::PreparedStatement query = catalog::Prepare(db, sql);
  sqlite3_bind_text(query.get(), 1, text.c_str(), -1, SQLITE_TRANSIENT);
  return sqlite3_step(query.get()) == SQLITE_ROW;
}

bool ColumnBindingsExist(sqlite3* db, const std::string& table) {
  return HasTable(db, "sqlengine_bindings") &&
         HasRowFor(db, "SELECT 1 FROM main.sqlengine_bindings WHERE table_name = ?", table);
}

}  // namespace

std::optional<UserType> FindUserType(sqlite3* db, std::string_view name) {
  if (db == nullptr || !HasTable(db, kUserTypesTable)) return std::nullopt;
  catalog::PreparedStatement find =
      catalog::Prepare(db, std::string(kTypeColumns) + kUserTypesTable + " WHERE name = ?");
  sqlite3_bind_text(find.get(), 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
  if (sqlite3_step(find.get()) != SQLITE_ROW) return std::nullopt;
  return ReadType(find.get());
}

std::vector<UserType> UserTypes(sqlite3* db) {
  std::vector<UserType> types;
  if (db == nullptr || !HasTable(db, kUserTypesTable)) return types;
  catalog::PreparedStatement all =
      catalog::Prepare(db, std::string(kTypeColumns) + kUserTypesTable + " ORDER BY name");
  while (sqlite3_step(all.get()) == SQLITE_ROW) types.push_back(ReadType(all.get()));
  return types;
}

void SetTypeBinding(sqlite3* db, const std::string& type, char kind, const std::string& object) {
  std::string column = kind == 'R' ? "rule" : "default_name";
  RunWithTexts(db,
               std::string("UPDATE main.") + kUserTypesTable + " SET " + column +
                   " = nullif(?, '') WHERE name = ?",
               {object, type});
}

std::vector<std::pair<std::string, std::string>> ColumnsOfType(sqlite3* db,
                                                               const std::string& type) {
  std::vector<std::pair<std::string, std::string>> columns;
  if (!HasTable(db, kTypeColumnsTable)) return columns;
  catalog::PreparedStatement find = catalog::Prepare(
      db, std::string("SELECT m.name, c.name FROM main.") + kTypeColumnsTable +
              " u JOIN main.sqlite_master m ON m.type = 'table' AND m.name = u.table_name "
              "COLLATE NOCASE JOIN pragma_table_info(m.name, 'main') c ON c.name = u.column_name "
              "COLLATE NOCASE WHERE u.type_name = ?");
  sqlite3_bind_text(find.get(), 1, type.c_str(), -1, SQLITE_TRANSIENT);
  while (sqlite3_step(find.get()) == SQLITE_ROW) {
    columns.emplace_back(catalog::ColumnText(find.get(), 0), catalog::ColumnText(find.get(), 1));
  }
  return columns;
}

bool HasUserTypes(sqlite3* db, const std::string& schema) {
  catalog::PreparedStatement find =
      catalog::Prepare(db, "SELECT 1 FROM " + tsql::QuoteSqliteName(schema) +
                               ".sqlite_master WHERE type = 'table' AND name = ?1");
  sqlite3_bind_text(find.get(), 1, kUserTypesTable, -1, SQLITE_STATIC);
  return sqlite3_step(find.get()) == SQLITE_ROW;
}

std::string UserTypeOfColumn(sqlite3* db, const std::string& table, const std::string& column) {
  if (!HasTable(db, kTypeColumnsTable)) return {};
  catalog::PreparedStatement find = catalog::Prepare(
      db, std::string("SELECT u.type_name FROM main.") + kTypeColumnsTable + " u JOIN main." +
              kUserTypesTable +
              " t ON t.name = u.type_name WHERE u.table_name = ?1 AND u.column_name = ?2");
  sqlite3_bind_text(find.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(find.get(), 2, column.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(find.get()) != SQLITE_ROW) return {};
  return catalog::ColumnText(find.get(), 0);
}

std::optional<ColumnType> DatabaseUserTypes::Resolve(std::string_view name) {
  // sp_addtype and sp_droptype change no schema: a binding that asked is not kept.
  if (BoundTexts::Notes* notes = session_.Connection().Recorded()) notes->keepable = false;
  sqlite3* db = session_.Connection().Handle();
  if (db == nullptr) return std::nullopt;
  StatementAuthorizer::EngineScope engine_sql(session_.Connection().Authorizer());
  try {
    std::optional<UserType> type = FindUserType(db, name);
    if (!type) return std::nullopt;
    std::optional<ColumnType> base = BaseType(type->base);
    if (base) base->nullable = type->nullable;
    return base;
  } catch (const std::runtime_error&) {
    return std::nullopt;
  }
}

bool RunUserTypeProcedure(Session& session, std::string_view name,
                          const std::vector<CallArgument>& arguments, ResultSink&) {
  if (name == "sp_addtype") {
    AddType(session, arguments);
  } else if (name == "sp_droptype") {
    DropType(session, arguments);
  } else if (!RunBindingProcedure(session, name, arguments)) {
    return false;
  }
  return true;
}

void BindUserTypesOfNewTable(Session& session, const tsql::Statement& statement) {
  sqlite3* db = session.Connection().Handle();
  if (db == nullptr) return;
  tsql::TableReference table = tsql::TableOf(statement);
  if (!table.database.empty() || table.name.empty() || table.name[0] == '#') return;
  std::vector<std::pair<std::string, UserType>> typed;
  bool stale = false;
  {
    StatementAuthorizer::EngineScope engine_sql(session.Connection().Authorizer());
    stale =
        (HasTable(db, kTypeColumnsTable) &&
         HasRowFor(db,
                   std::string("SELECT 1 FROM main.") + kTypeColumnsTable + " WHERE table_name = ?",
                   table.name)) ||
        ColumnBindingsExist(db, table.name);
    if (!HasTable(db, kUserTypesTable) && !stale) return;
    for (const auto& [column, type_word] : DeclaredColumns(statement.tokens)) {
      if (std::optional<UserType> type = FindUserType(db, type_word)) {
        typed.emplace_back(column, *type);
      }
    }
  }
  if (typed.empty() && !stale) return;
  CatalogWrite write(session);
  EnsureTables(write.Db());
  RunWithTexts(write.Db(),
               std::string("DELETE FROM main.") + kTypeColumnsTable + " WHERE table_name = ?",
               {table.name});
  ForgetColumnBindings(write.Db(), table.name);
  for (const auto& [column, type] : typed) {
    RunWithTexts(write.Db(),
                 std::string("INSERT OR REPLACE INTO main.") + kTypeColumnsTable +
                     " (table_name, column_name, type_name) VALUES (?, ?, ?)",
                 {table.name, column, type.name});
    if (!type.rule.empty()) BindToColumn(session, write.Db(), 'R', type.rule, table.name, column);
    if (!type.default_name.empty()) {
      BindToColumn(session, write.Db(), 'D', type.default_name, table.name, column);
    }
  }
  write.Commit();
}

}  // namespace sqlengine::exec
