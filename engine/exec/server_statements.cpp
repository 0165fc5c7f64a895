#include "engine/exec/server_statements.h"

#include <cstring>

#include "engine/catalog/data_file.h"
#include "engine/catalog/log_name_vfs.h"
#include "engine/common/error.h"
#include "engine/exec/attach_detach.h"
#include "engine/exec/database_ownership.h"
#include "engine/exec/engine_impl.h"
#include "engine/exec/session.h"
#include "engine/tsql/syntax_error.h"

namespace sqlengine::exec {
namespace {

using tsql::Token;
using tsql::Tokens;

constexpr std::string_view kSystemDatabases[] = {"master", "model", "msdb", "tempdb"};

bool IsSystemDatabase(std::string_view name) {
  for (std::string_view system : kSystemDatabases) {
    if (tsql::EqualsIgnoreCase(system, name)) return true;
  }
  return false;
}

// The name at tokens[i]; throws a syntax error when there is none.
const Token& NameAt(const Tokens& tokens, size_t i) {
  if (i >= tokens.size() || !tokens[i].IsName()) {
    static const Token kEnd;
    throw tsql::SyntaxError(i < tokens.size() ? tokens[i] : kEnd, &tokens[std::min(i, tokens.size()) - 1]);
  }
  return tokens[i];
}

void RequireEnd(const Tokens& tokens, size_t i) {
  if (i < tokens.size()) throw tsql::SyntaxError(tokens[i]);
}

void Done(ResultSink& sink) { sink.Done(StatementDone{}); }

// WITH PASSWORD = 'x', DEFAULT_DATABASE = db, CHECK_POLICY = OFF ...
struct LoginOptions {
  std::string password;
  std::string default_database = "master";
};

LoginOptions ReadLoginOptions(const Tokens& tokens, size_t i) {
  LoginOptions options;
  if (i >= tokens.size()) return options;
  if (!tokens[i].IsWord("with")) throw tsql::SyntaxError(tokens[i]);
  ++i;
  while (i < tokens.size()) {
    const Token& option = NameAt(tokens, i);
    if (i + 2 >= tokens.size() || !tokens[i + 1].IsSymbol("=")) {
      throw tsql::SyntaxError(i + 1 < tokens.size() ? tokens[i + 1] : tokens[i]);
    }
    const Token& value = tokens[i + 2];
    if (option.IsWord("password")) {
      if (value.kind != tsql::TokenKind::kString && value.kind != tsql::TokenKind::kNationalString) {
        throw tsql::SyntaxError(value);
      }
      options.password = value.value;
    } else if (option.IsWord("default_database")) {
      options.default_database = value.value;
    }
    i += 3;
    if (i < tokens.size()) {
      if (!tokens[i].IsSymbol(",")) throw tsql::SyntaxError(tokens[i]);
      ++i;
    }
  }
  return options;
}

void RequireSecurityAdmin(Session& session) {
  if (!session.IsSysadmin() && !session.Engine().Catalog().IsRoleMember("securityadmin", session.Login().name)) {
    throw MakeError(15247);
  }
}

}  // namespace

void RequireValidDatabaseName(std::string_view name) {
  bool valid = !name.empty() && name.size() <= 123 && name != "." && name != "..";
  for (char c : name) {
    if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20) valid = false;
  }
  if (!valid) throw MakeError(15006, {name});
}

void ExecuteUse(Session& session, const tsql::Statement& statement, ResultSink& sink) {
  const Token& name = NameAt(statement.tokens, 1);
  RequireEnd(statement.tokens, 2);
  session.UseDatabase(name.value, &sink, statement.line);
  Done(sink);
}

void RequireCreateDatabaseRight(Session& session) {
  EngineImpl& engine = session.Engine();
  if (session.IsSysadmin() || engine.Catalog().IsRoleMember("dbcreator", session.Login().name)) {
    return;
  }
  std::optional<catalog::DatabaseEntry> master = engine.FindDatabase("master");
  if (!master) throw MakeError(262, {"CREATE DATABASE", "master"});
  session.Rights().RequireStatementRight(*master, Access::kCreateDatabase);
}

void ExecuteCreateDatabase(Session& session, const tsql::Statement& statement, ResultSink& sink) {
  const Tokens& tokens = statement.tokens;
  const Token& name_token = NameAt(tokens, 2);
  if (tokens.size() > 3) return ExecuteCreateDatabaseWithFiles(session, statement, sink);
  EngineImpl& engine = session.Engine();
  if (session.TranCount() > 0) throw MakeError(226, {"CREATE DATABASE"});
  RequireCreateDatabaseRight(session);
  const std::string& name = name_token.value;
  RequireValidDatabaseName(name);
  if (engine.FindDatabase(name)) throw MakeError(1801, {name});
  std::string file_name = name + ".mdf";
  std::filesystem::path file = engine.Layout().DataFolder() / file_name;
  if (std::filesystem::exists(file) || std::filesystem::exists(catalog::LogFileFor(file))) {
    sink.Message(FormatMessage(5170, {file.string()}));
    throw MakeError(1802);
  }
  try {
    catalog::CreateDataFile(file);
  } catch (const std::runtime_error& failure) {
    sink.Message(FormatMessage(5123, {std::strerror(errno), file.string()}));
    throw MakeError(1802);
  }
  try {
    engine.Catalog().AddDatabase(name, file_name, session.Login().sid);
  } catch (...) {
    catalog::RemoveDataFiles(file);
    throw;
  }
  engine.EngineLog().Info("created database " + name);
  Done(sink);
}

void ExecuteDropDatabase(Session& session, const tsql::Statement& statement, ResultSink& sink) {
  const Tokens& tokens = statement.tokens;
  std::vector<std::string> names;
  size_t i = 2;
  do {
    names.push_back(NameAt(tokens, i).value);
    ++i;
    if (i < tokens.size() && !tokens[i].IsSymbol(",")) throw tsql::SyntaxError(tokens[i]);
  } while (i++ < tokens.size());
  EngineImpl& engine = session.Engine();
  // Its files go at once; a transaction could not undo that.
  if (session.TranCount() > 0) throw MakeError(226, {"DROP DATABASE"});
  for (const std::string& name : names) {
    std::optional<catalog::DatabaseEntry> entry = engine.FindDatabase(name);
    if (!entry) throw MakeError(3701, {"drop", "database", name});
    if (IsSystemDatabase(entry->name)) throw MakeError(3708, {"drop", "database", entry->name, "database"});
    // The database's owner, dbcreator and sysadmin may drop it.
    bool owner = !entry->owner_sid.empty() && entry->owner_sid == session.Login().sid;
    if (!owner && !session.IsSysadmin() &&
        !engine.Catalog().IsRoleMember("dbcreator", session.Login().name)) {
      throw MakeError(3704, {"database", entry->name});
    }
    if (tsql::EqualsIgnoreCase(session.CurrentDatabase(), entry->name)) {
      session.UseDatabase("master", &sink, statement.line);
    }
    session.Connection().Detach(entry->name);
    if (!engine.Usage().BeginExclusive(entry->name, 0)) throw MakeError(3702, {"database", entry->name});
    try {
      engine.Catalog().RemoveDatabase(entry->name);
      catalog::RemoveDataFiles(engine.DataFileOf(*entry));
    } catch (...) {
      engine.Usage().EndExclusive(entry->name);
      throw;
    }
    engine.Usage().EndExclusive(entry->name);
    engine.EngineLog().Info("dropped database " + entry->name);
  }
  Done(sink);
}

void ExecuteCreateLogin(Session& session, const tsql::Statement& statement, ResultSink& sink) {
  const Tokens& tokens = statement.tokens;
  const Token& name = NameAt(tokens, 2);
  LoginOptions options = ReadLoginOptions(tokens, 3);
  RequireSecurityAdmin(session);
  if (!session.Engine().FindDatabase(options.default_database)) {
    throw MakeError(15010, {options.default_database});
  }
  session.Engine().Catalog().AddLogin(name.value, options.password, options.default_database);
  Done(sink);
}

void ExecuteDropLogin(Session& session, const tsql::Statement& statement, ResultSink& sink) {
  const Token& name = NameAt(statement.tokens, 2);
  RequireEnd(statement.tokens, 3);
  RequireSecurityAdmin(session);
  DropLoginWithoutDatabases(session, name.value);
  Done(sink);
}

}  // namespace sqlengine::exec
