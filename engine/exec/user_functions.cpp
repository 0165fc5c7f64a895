#include "engine/exec/user_functions.h"

#include "engine/catalog/data_file.h"
#include "engine/catalog/sqlite_handle.h"
#include "engine/common/error.h"
#include "engine/exec/procedures.h"
#include "engine/exec/session.h"
#include "engine/exec/write_lock.h"
#include "engine/tsql/dotted_name.h"
#include "engine/tsql/lexer.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/syntax_error.h"

namespace sqlengine::exec {
namespace {

std::string Table(const std::string& schema, const char* table) {
  return tsql::QuoteSqliteName(schema) + "." + table;
}

void Bind(sqlite3_stmt* statement, int index, std::string_view text) {
  sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

std::string SchemaOf(Session& session, const std::string& database) {
  return database.empty() ? "main" : session.Connection().SchemaFor(database);
}

// The stored CREATE FUNCTION text of `name`, nullopt when there is no
// function of that name (a procedure's text does not count).
std::optional<std::string> LoadFunctionText(sqlite3* db, const std::string& schema,
                                            std::string_view name) {
  if (!HasStoredProcedures(db, schema)) return std::nullopt;
  auto query =
      catalog::Prepare(db, "SELECT definition FROM " + Table(schema, catalog::kProceduresTable) +
                               " WHERE name = ? COLLATE NOCASE");
  Bind(query.get(), 1, name);
  if (sqlite3_step(query.get()) != SQLITE_ROW) return std::nullopt;
  std::string text = catalog::ColumnText(query.get(), 0);
  if (!IsFunctionText(text)) return std::nullopt;
  return text;
}

// Whether any object of the database has the name (2714 for a new one).
bool NameTaken(sqlite3* db, const std::string& schema, const std::string& name) {
  auto query = catalog::Prepare(db, "SELECT 1 FROM " + Table(schema, catalog::kObjectsTable) +
                                        " WHERE name = ? COLLATE NOCASE");
  Bind(query.get(), 1, name);
  if (sqlite3_step(query.get()) == SQLITE_ROW) return true;
  auto schema_query = catalog::Prepare(
      db, "SELECT 1 FROM " + Table(schema, "sqlite_master") + " WHERE name = ? COLLATE NOCASE");
  Bind(schema_query.get(), 1, name);
  return sqlite3_step(schema_query.get()) == SQLITE_ROW;
}

void Step(sqlite3* db, sqlite3_stmt* statement) {
  if (sqlite3_step(statement) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
}

}  // namespace

bool IsFunctionText(std::string_view definition) {
  tsql::Tokens tokens = tsql::Lex(definition.substr(0, std::min<size_t>(definition.size(), 200)));
  return tokens.size() > 1 && tokens[1].IsWord("function");
}

void DefineFunction(Session& session, const tsql::Statement& statement) {
  tsql::FunctionDefinition definition = tsql::ParseFunctionDefinition(statement.tokens);
  bool alter = statement.tokens.front().IsWord("alter");
  sqlite3* db = session.Connection().Handle();
  std::string schema = SchemaOf(session, definition.database);
  LockForWrite(session, schema);
  catalog::Exec(db, "SAVEPOINT sqlengine_function");
  TakeWriteLockFirst(db, schema);
  try {
    catalog::Exec(db, "CREATE TABLE IF NOT EXISTS " + Table(schema, catalog::kProceduresTable) +
                          catalog::kProceduresColumns);
    bool exists = LoadFunctionText(db, schema, definition.name).has_value();
    if (alter && !exists) throw MakeError(208, {definition.name});
    if (!alter && NameTaken(db, schema, definition.name)) throw MakeError(2714, {definition.name});
    auto save =
        catalog::Prepare(db, "INSERT OR REPLACE INTO " + Table(schema, catalog::kProceduresTable) +
                                 " (name, definition) VALUES (?, ?)");
    Bind(save.get(), 1, definition.name);
    Bind(save.get(), 2, tsql::TokensText(statement.tokens));
    Step(db, save.get());
    std::string xtype = tsql::FunctionObjectType(definition.kind);
    if (exists) {
      // ALTER may change the kind (a scalar function made inline ...).
      auto retype = catalog::Prepare(db, "UPDATE " + Table(schema, catalog::kObjectsTable) +
                                             " SET xtype = ? WHERE name = ? COLLATE NOCASE AND "
                                             "xtype IN ('FN', 'IF', 'TF')");
      Bind(retype.get(), 1, xtype);
      Bind(retype.get(), 2, definition.name);
      Step(db, retype.get());
    } else {
      catalog::RecordNewObject(db, schema, definition.name, xtype);
    }
    catalog::Exec(db, "RELEASE sqlengine_function");
  } catch (...) {
    sqlite3_exec(db, "ROLLBACK TO sqlengine_function; RELEASE sqlengine_function", nullptr, nullptr,
                 nullptr);
    throw;
  }
}

void DropFunctions(Session& session, const tsql::Statement& statement) {
  const tsql::Tokens& tokens = statement.tokens;
  std::vector<tsql::DottedName> names;
  size_t i = 2;
  while (true) {
    tsql::DottedName name = tsql::ReadDottedName(tokens, i);
    if (name.parts.empty()) throw tsql::SyntaxError(i < tokens.size() ? tokens[i] : tokens.back());
    names.push_back(name);
    i = name.end;
    if (i >= tokens.size() || tokens[i].kind == tsql::TokenKind::kEnd) break;
    if (!tokens[i].IsSymbol(",")) throw tsql::SyntaxError(tokens[i], &tokens[i - 1]);
    ++i;
  }
  sqlite3* db = session.Connection().Handle();
  for (const tsql::DottedName& name : names) {
    std::string schema = SchemaOf(session, name.Database());
    const std::string& function = name.Last();
    if (!LoadFunctionText(db, schema, function))
      throw MakeError(3701, {"drop", "function", function});
    auto remove = catalog::Prepare(db, "DELETE FROM " + Table(schema, catalog::kProceduresTable) +
                                           " WHERE name = ? COLLATE NOCASE");
    Bind(remove.get(), 1, function);
    Step(db, remove.get());
    auto unlist = catalog::Prepare(db, "DELETE FROM " + Table(schema, catalog::kObjectsTable) +
                                           " WHERE name = ? COLLATE NOCASE AND xtype IN "
                                           "('FN', 'IF', 'TF')");
    Bind(unlist.get(), 1, function);
    Step(db, unlist.get());
  }
}

std::optional<tsql::FunctionDefinition> FindFunction(Session& session,
                                                     const std::vector<std::string>& name) {
  if (name.empty() || name.back().empty() || name.size() > 3) return std::nullopt;
  if (name.size() >= 2 && !name[name.size() - 2].empty() &&
      !tsql::EqualsIgnoreCase(name[name.size() - 2], "dbo"))
    return std::nullopt;
  std::string database = name.size() == 3 ? name[0] : std::string();
  if (name.back().starts_with("#")) return std::nullopt;
  std::string schema;
  try {
    schema = SchemaOf(session, database);
  } catch (const SqlError&) {
    return std::nullopt;
  }
  std::optional<std::string> text =
      LoadFunctionText(session.Connection().Handle(), schema, name.back());
  if (!text) return std::nullopt;
  tsql::FunctionDefinition definition = tsql::ParseFunctionDefinition(tsql::LexClientText(*text));
  return definition;
}

}  // namespace sqlengine::exec
