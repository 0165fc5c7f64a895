#include "engine/exec/user_functions.h"

#include <cctype>
#include <cstdio>

#include "engine/catalog/data_file.h"
#include "engine/catalog/sqlite_handle.h"
#include "engine/common/error.h"
#include "engine/exec/batch_executor.h"
#include "engine/exec/database_security.h"
#include "engine/exec/engine_impl.h"
#include "engine/exec/locked_savepoint.h"
#include "engine/exec/owner_names.h"
#include "engine/exec/procedures.h"
#include "engine/exec/session.h"
#include "engine/exec/sqlite_errors.h"
#include "engine/exec/statement_authorizer.h"
#include "engine/exec/value_conversion.h"
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

// `value` as the function's SQLite result, in the form a bound parameter
// of that value takes.
void ResultOf(sqlite3_context* context, const Value& value) {
  // An exact number keeps every digit as text; the calling statement takes
  // it into its exact form.
  if (const auto* number = std::get_if<Decimal>(&value)) {
    std::string text = DecimalText(*number);
    return sqlite3_result_text(context, text.c_str(), static_cast<int>(text.size()),
                               SQLITE_TRANSIENT);
  }
  auto select = catalog::Prepare(sqlite3_context_db_handle(context), "SELECT ?1");
  BindValue(select.get(), 1, value);
  if (sqlite3_step(select.get()) != SQLITE_ROW) return sqlite3_result_null(context);
  sqlite3_result_value(context, sqlite3_column_value(select.get(), 0));
}

void CallUserFunctionAs(sqlite3_context* context, int count, sqlite3_value** args,
                        const char* what) {
  CallNamedFunction(context, count, args, what,
                    [&](FunctionHost& host, const std::vector<std::string>& name,
                        const std::vector<Value>& arguments) {
                      ResultOf(context, host.CallUserFunction(name, arguments));
                    });
}

void CallUserFunction(sqlite3_context* context, int count, sqlite3_value** args) {
  CallUserFunctionAs(context, count, args, "sqlengine_user_function");
}

void CallUserFunctionIn(sqlite3_context* context, int count, sqlite3_value** args) {
  CallUserFunctionAs(context, count, args, "sqlengine_user_function_in");
}

void CallUserFunctionOf(sqlite3_context* context, int count, sqlite3_value** args) {
  CallUserFunctionAs(context, count, args, "sqlengine_user_function_of");
}

// sqlengine_builtin('name' | '@@name', arguments...): see FunctionHost::EvaluateBuiltin.
void CallBuiltin(sqlite3_context* context, int count, sqlite3_value** args) {
  if (count < 1 || sqlite3_value_type(args[0]) != SQLITE_TEXT)
    return sqlite3_result_error(context, "sqlengine_builtin: no name", -1);
  auto* host = static_cast<FunctionHost*>(sqlite3_user_data(context));
  std::string name(reinterpret_cast<const char*>(sqlite3_value_text(args[0])));
  std::vector<Value> arguments;
  for (int k = 1; k < count; ++k) arguments.push_back(PlainValue(args[k]));
  try {
    ResultOf(context, host->EvaluateBuiltin(name, arguments));
  } catch (const SqlError& error) {
    ResultSqlError(context, error);
  } catch (const std::exception& error) {
    sqlite3_result_error(context, error.what(), -1);
  }
}

// `value` written as a T-SQL constant of its value.
std::string ConstantText(const Value& value) {
  if (std::holds_alternative<std::monostate>(value)) return "NULL";
  if (const auto* number = std::get_if<std::int64_t>(&value)) return std::to_string(*number);
  if (const auto* number = std::get_if<Decimal>(&value)) return DecimalText(*number);
  if (const auto* number = std::get_if<double>(&value)) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17e", *number);
    return text;
  }
  if (const auto* bytes = std::get_if<Bytes>(&value)) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text = "0x";
    for (std::uint8_t byte : *bytes) {
      text += kDigits[byte >> 4];
      text += kDigits[byte & 0xF];
    }
    return text;
  }
  std::string text = "N'";
  for (char c : ValueText(value)) {
    if (c == '\'') text += '\'';
    text += c;
  }
  return text + "'";
}

void CheckFunctionStatement(const tsql::Statement& statement) {
  const tsql::Tokens& tokens = statement.tokens;
  auto refuse = [&](int number, const std::string& argument) {
    SqlError error = number == 444 ? MakeError(444) : MakeError(number, {argument});
    error.message().line = statement.line;
    throw error;
  };
  auto verb = [&] {
    std::string word = tokens.front().text;
    for (char& c : word) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return word;
  };
  switch (statement.kind) {
    case tsql::StatementKind::kInsert:
    case tsql::StatementKind::kUpdate:
    case tsql::StatementKind::kDelete: {
      // Only the function's own table variable may change.
      size_t target = 1;
      while (target < tokens.size() && tokens[target].IsAnyWord({"into", "from"})) ++target;
      if (target >= tokens.size() || tokens[target].kind != tsql::TokenKind::kVariable)
        refuse(443, verb());
      break;
    }
    case tsql::StatementKind::kExecute:
    case tsql::StatementKind::kPrint:
    case tsql::StatementKind::kRaiserror:
      refuse(443, verb());
      break;
    case tsql::StatementKind::kSelect: {
      bool assigns = false;
      for (size_t k = 0; k + 1 < tokens.size() && !assigns; ++k)
        assigns = tokens[k].kind == tsql::TokenKind::kVariable && tokens[k + 1].IsSymbol("=");
      if (!assigns) refuse(444, std::string());
      break;
    }
    default:
      break;
  }
  for (const auto& inner : statement.body) CheckFunctionStatement(*inner);
  if (statement.else_branch) CheckFunctionStatement(*statement.else_branch);
}

}  // namespace

void CheckFunctionBody(const tsql::StatementList& body) {
  for (const auto& statement : body) CheckFunctionStatement(*statement);
}

void RefuseTempTables(const tsql::Tokens& body) {
  for (const tsql::Token& token : body) {
    // Unbracketed, a name starting with '#' is a temporary table's.
    if (token.kind != tsql::TokenKind::kWord || !token.value.starts_with("#")) continue;
    SqlError error = MakeError(4508);
    error.message().line = token.line;
    throw error;
  }
}

Value RunScalarFunction(Session& session, const std::vector<std::string>& name,
                        const std::vector<Value>& arguments) {
  // The call runs inside the user's statement: the engine reads the
  // definition and the catalog as it does between statements, and each of
  // the body's statements is the user's again while it compiles and runs.
  StatementAuthorizer::EngineScope engine(session.Connection().Authorizer());
  std::optional<tsql::FunctionDefinition> definition = FindFunction(session, name);
  if (!definition || definition->kind != tsql::FunctionKind::kScalar)
    throw MakeError(4121, {"dbo", "dbo." + name.back()});
  DiscardingSink discard;  // nothing a function's statements send is the client's
  BatchExecutor executor(session, discard);
  return executor.CallFunction(*definition, arguments);
}

std::string RunTableFunction(Session& session, const std::vector<std::string>& name,
                             const std::vector<Value>& arguments) {
  StatementAuthorizer::EngineScope engine(session.Connection().Authorizer());
  std::optional<tsql::FunctionDefinition> definition = FindFunction(session, name);
  if (!definition || definition->kind != tsql::FunctionKind::kMultiStatementTable)
    throw MakeError(208, {name.back()});
  DiscardingSink discard;
  BatchExecutor executor(session, discard);
  return executor.CallTableFunction(*definition, arguments);
}

void CallNamedFunction(
    sqlite3_context* context, int count, sqlite3_value** args, const char* what,
    const std::function<void(FunctionHost& host, const std::vector<std::string>& name,
                             const std::vector<Value>& arguments)>& call) {
  auto* host = static_cast<FunctionHost*>(sqlite3_user_data(context));
  // what_in('database', 'name', ...) names a function of another database,
  // what_of('database' or '', 'owner', 'name', ...) one by its owner too.
  std::string_view form(what);
  int parts = form.ends_with("_of") ? 3 : form.ends_with("_in") ? 2 : 1;
  std::vector<std::string> name;
  for (int k = 0; k < parts; ++k) {
    if (k >= count || sqlite3_value_type(args[k]) != SQLITE_TEXT)
      return sqlite3_result_error(context, (std::string(what) + ": no name").c_str(), -1);
    name.emplace_back(reinterpret_cast<const char*>(sqlite3_value_text(args[k])));
  }
  if (parts == 2) name.insert(name.begin() + 1, std::string());
  if (parts == 3 && name.front().empty()) name.erase(name.begin());
  std::vector<Value> arguments;
  for (int k = parts; k < count; ++k) arguments.push_back(PlainValue(args[k]));
  try {
    call(*host, name, arguments);
  } catch (const SqlError& error) {
    ResultSqlError(context, error);
  } catch (const std::exception& error) {
    sqlite3_result_error(context, error.what(), -1);
  } catch (...) {
    sqlite3_result_error_code(context, SQLITE_INTERRUPT);
  }
}

void RegisterUserFunctionCalls(sqlite3* db, FunctionHost& host) {
  if (sqlite3_create_function_v2(db, "sqlengine_user_function", -1, SQLITE_UTF8, &host,
                                 CallUserFunction, nullptr, nullptr, nullptr) != SQLITE_OK ||
      sqlite3_create_function_v2(db, "sqlengine_user_function_in", -1, SQLITE_UTF8, &host,
                                 CallUserFunctionIn, nullptr, nullptr, nullptr) != SQLITE_OK ||
      sqlite3_create_function_v2(db, "sqlengine_user_function_of", -1, SQLITE_UTF8, &host,
                                 CallUserFunctionOf, nullptr, nullptr, nullptr) != SQLITE_OK)
    throw std::runtime_error("cannot register sqlengine_user_function");
  // The forms a computed column holds: SQLite takes only functions it may
  // call once per row into a generated column. The column is virtual, so the
  // function still runs at every read of it.
  if (sqlite3_create_function_v2(db, "sqlengine_row_user_function", -1,
                                 SQLITE_UTF8 | SQLITE_DETERMINISTIC, &host, CallUserFunction,
                                 nullptr, nullptr, nullptr) != SQLITE_OK ||
      sqlite3_create_function_v2(db, "sqlengine_row_user_function_in", -1,
                                 SQLITE_UTF8 | SQLITE_DETERMINISTIC, &host, CallUserFunctionIn,
                                 nullptr, nullptr, nullptr) != SQLITE_OK)
    throw std::runtime_error("cannot register sqlengine_row_user_function");
  if (sqlite3_create_function_v2(db, "sqlengine_builtin", -1, SQLITE_UTF8, &host, CallBuiltin,
                                 nullptr, nullptr, nullptr) != SQLITE_OK ||
      sqlite3_create_function_v2(db, "sqlengine_row_builtin", -1,
                                 SQLITE_UTF8 | SQLITE_DETERMINISTIC, &host, CallBuiltin, nullptr,
                                 nullptr, nullptr) != SQLITE_OK)
    throw std::runtime_error("cannot register sqlengine_builtin");
}

Value RunBuiltin(Session& session, std::string_view name, const std::vector<Value>& arguments) {
  // Only a name is ever evaluated: a function's, or a system variable's.
  std::string_view identifier = name.starts_with("@@") ? name.substr(2) : name;
  bool plain = !identifier.empty() && !std::isdigit(static_cast<unsigned char>(identifier[0]));
  for (char c : identifier) plain = plain && (std::isalnum(static_cast<unsigned char>(c)) || c == '_');
  if (!plain) throw MakeError(195, {std::string(name), "built-in function name"});
  std::string expression(name);
  if (!name.starts_with("@@")) {
    expression += "(";
    for (size_t k = 0; k < arguments.size(); ++k)
      expression += (k > 0 ? ", " : "") + ConstantText(arguments[k]);
    expression += ")";
  }
  StatementAuthorizer::EngineScope engine(session.Connection().Authorizer());
  DiscardingSink discard;
  BatchExecutor executor(session, discard);
  return executor.Evaluate(tsql::Lex(expression), 1);
}

bool IsFunctionText(std::string_view definition) {
  // The first two words tell: CREATE FUNCTION.
  tsql::TokenReader reader(definition, /*client_text=*/false);
  reader.Next();
  return reader.Next().IsWord("function");
}

void DefineFunction(Session& session, const tsql::Statement& statement,
                    const std::string& written) {
  tsql::FunctionDefinition definition = tsql::ParseFunctionDefinition(statement.tokens);
  bool alter = statement.tokens.front().IsWord("alter");
  sqlite3* db = session.Connection().Handle();
  std::string schema = session.Connection().SchemaOf(definition.database);
  LockedSavepoint write(session, schema, "sqlengine_function");
  {
    catalog::Exec(db, "CREATE TABLE IF NOT EXISTS " + Table(schema, catalog::kProceduresTable) +
                          catalog::kProceduresColumns);
    bool exists = LoadFunctionText(db, schema, definition.name).has_value();
    if (alter && !exists) throw MakeError(208, {definition.name});
    if (!alter && NameTaken(db, schema, definition.name)) throw MakeError(2714, {definition.name});
    auto save =
        catalog::Prepare(db, "INSERT OR REPLACE INTO " + Table(schema, catalog::kProceduresTable) +
                                 " (name, definition) VALUES (?, ?)");
    Bind(save.get(), 1, definition.name);
    Bind(save.get(), 2, written);
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
    write.Release();
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
    std::string schema = session.Connection().SchemaOf(name.Database());
    const std::string& function = name.Last();
    if (!LoadFunctionText(db, schema, function))
      throw MakeError(3701, {"drop", "function", function});
    session.Rights().RequireIn(name.Database(), function, Access::kDrop);
    auto remove = catalog::Prepare(db, "DELETE FROM " + Table(schema, catalog::kProceduresTable) +
                                           " WHERE name = ? COLLATE NOCASE");
    Bind(remove.get(), 1, function);
    Step(db, remove.get());
    auto unlist = catalog::Prepare(db, "DELETE FROM " + Table(schema, catalog::kObjectsTable) +
                                           " WHERE name = ? COLLATE NOCASE AND xtype IN "
                                           "('FN', 'IF', 'TF')");
    Bind(unlist.get(), 1, function);
    Step(db, unlist.get());
    if (ForgetObjectPermissions(db, schema, function)) session.Engine().SecurityChanged();
  }
}

std::optional<tsql::FunctionDefinition> FindFunction(Session& session,
                                                     const std::vector<std::string>& name) {
  if (name.empty() || name.back().empty() || name.size() > 3) return std::nullopt;
  std::string database = name.size() == 3 ? name[0] : std::string();
  if (name.back().starts_with("#")) return std::nullopt;
  std::string schema;
  try {
    schema = session.Connection().SchemaOf(database);
    // The owner part names the function's owner (none: the user's or dbo's).
    if (!ReachesAsWritten(session, database, name.size() >= 2 ? name[name.size() - 2] : "",
                          name.back()))
      return std::nullopt;
  } catch (const SqlError&) {
    return std::nullopt;
  }
  std::optional<std::string> text =
      LoadFunctionText(session.Connection().Handle(), schema, name.back());
  if (!text) return std::nullopt;
  tsql::FunctionDefinition definition = tsql::ParseFunctionDefinition(tsql::LexClientText(*text));
  // Its body runs in the database it was found in.
  if (!database.empty()) definition.database = database;
  return definition;
}

}  // namespace sqlengine::exec
