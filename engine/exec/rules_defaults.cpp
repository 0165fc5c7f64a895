#include "engine/exec/rules_defaults.h"

#include <cctype>
#include <map>
#include <optional>

#include "engine/catalog/data_file.h"
#include "engine/catalog/sqlite_handle.h"
#include "engine/common/error.h"
#include "engine/exec/catalog_writes.h"
#include "engine/exec/constraint_changes.h"
#include "engine/exec/database_security.h"
#include "engine/exec/engine_impl.h"
#include "engine/exec/front_end_catalog.h"
#include "engine/exec/front_end_condition.h"
#include "engine/exec/function_registration.h"
#include "engine/exec/owner_names.h"
#include "engine/exec/procedure_arguments.h"
#include "engine/exec/session.h"
#include "engine/exec/sql_functions.h"
#include "engine/exec/sqlite_errors.h"
#include "engine/exec/sqlite_value_text.h"
#include "engine/exec/user_types.h"
#include "engine/tsql/dotted_name.h"
#include "engine/tsql/lexer.h"
#include "engine/tsql/procedure_definition.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/syntax_error.h"

namespace sqlengine::exec {
namespace {

using tsql::Token;
using tsql::Tokens;

constexpr const char* kBindingsTable = "sqlengine_bindings";

void EnsureTables(sqlite3* db) {
  catalog::Exec(db, std::string("CREATE TABLE IF NOT EXISTS main.") + kRulesTable +
                        " (name nvarchar(128) PRIMARY KEY COLLATE NOCASE, kind char(1) NOT NULL, "
                        "definition ntext NOT NULL, expression ntext NOT NULL)");
  catalog::Exec(db, std::string("CREATE TABLE IF NOT EXISTS main.") + kBindingsTable +
                        " (table_name nvarchar(128) NOT NULL COLLATE NOCASE, column_name "
                        "nvarchar(128) NOT NULL COLLATE NOCASE, kind char(1) NOT NULL, "
                        "object_name nvarchar(128) NOT NULL COLLATE NOCASE, "
                        "PRIMARY KEY (table_name, column_name, kind))");
}

// The tokens of engine-written T-SQL, without the lexer's end mark.
Tokens Lexed(std::string_view text) {
  Tokens tokens = tsql::LexClientText(text);
  while (!tokens.empty() && tokens.back().kind == tsql::TokenKind::kEnd) tokens.pop_back();
  return tokens;
}

std::string_view KindWord(char kind) { return kind == 'R' ? "rule" : "default"; }

std::string Bracketed(std::string_view name) {
  std::string text = "[";
  for (char c : name) text += c == ']' ? std::string("]]") : std::string(1, c);
  return text + "]";
}

struct StoredObject {
  std::string name;
  char kind = 'R';
  std::string expression;
};

std::optional<StoredObject> FindObject(sqlite3* db, std::string_view name) {
  if (!HasTable(db, kRulesTable)) return std::nullopt;
  catalog::PreparedStatement find =
      catalog::Prepare(db, std::string("SELECT name, kind, expression FROM main.") + kRulesTable +
                               " WHERE name = ?");
  sqlite3_bind_text(find.get(), 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
  if (sqlite3_step(find.get()) != SQLITE_ROW) return std::nullopt;
  StoredObject found;
  found.name = catalog::ColumnText(find.get(), 0);
  found.kind = catalog::ColumnText(find.get(), 1).front();
  found.expression = catalog::ColumnText(find.get(), 2);
  return found;
}

bool HasRow(sqlite3* db, const std::string& sql, std::initializer_list<std::string> texts) {
  catalog::PreparedStatement query = catalog::Prepare(db, sql);
  int index = 1;
  for (const std::string& text : texts) {
    sqlite3_bind_text(query.get(), index++, text.c_str(), -1, SQLITE_TRANSIENT);
  }
  return sqlite3_step(query.get()) == SQLITE_ROW;
}

bool NameTaken(sqlite3* db, const std::string& name) {
  if (HasRow(db, "SELECT 1 FROM main.sqlite_master WHERE name = ? COLLATE NOCASE", {name})) {
    return true;
  }
  if (HasTable(db, catalog::kObjectsTable) &&
      HasRow(db,
             std::string("SELECT 1 FROM main.") + catalog::kObjectsTable +
                 " WHERE name = ? COLLATE NOCASE",
             {name})) {
    return true;
  }
  return FindObject(db, name).has_value();
}

// Bindings of a table dropped since are no bindings any more.
bool IsBound(sqlite3* db, const StoredObject& object) {
  if (HasTable(db, kBindingsTable) &&
      HasRow(db,
             std::string("SELECT 1 FROM main.") + kBindingsTable +
                 " b JOIN main.sqlite_master m ON m.type = 'table' AND m.name = b.table_name "
                 "COLLATE NOCASE WHERE b.object_name = ? AND b.kind = ?",
             {object.name, std::string(1, object.kind)})) {
    return true;
  }
  for (const UserType& type : UserTypes(db)) {
    const std::string& bound = object.kind == 'R' ? type.rule : type.default_name;
    if (tsql::EqualsIgnoreCase(bound, object.name)) return true;
  }
  return false;
}

// Binding rules and defaults is a schema change: dbo, db_owner and
// db_ddladmin make it (else 15247, as the procedures say).
void RequireDdlRights(Session& session, int number) {
  if (session.IsSysadmin()) return;
  const DatabaseRights& rights = session.Rights().InCurrent();
  if (rights.MakesRulesAndDefaults()) return;
  throw MakeError(number);
}

// CREATE RULE and CREATE DEFAULT are statement permissions, as CREATE TABLE
// is: granted or denied to users and roles, held by db_owner and db_ddladmin
// (262 otherwise).
void RequireCreateRight(Session& session, char kind) {
  if (session.IsSysadmin()) return;
  const DatabaseRights& rights = session.Rights().InCurrent();
  if (std::optional<SqlError> refused =
          rights.Check({}, kind == 'R' ? Access::kCreateRule : Access::kCreateDefault)) {
    throw *refused;
  }
}

// A user other than dbo owns the rules and defaults it made, and may drop them.
void RequireDropRight(Session& session, char kind, const std::string& name) {
  if (session.IsSysadmin()) return;
  const DatabaseRights& rights = session.Rights().InCurrent();
  if (rights.MakesRulesAndDefaults() || rights.OwnsObject(name)) return;
  throw MakeError(3704, {KindWord(kind), name});
}

void CreateObject(Session& session, const tsql::Statement& statement, char kind) {
  const Tokens& tokens = statement.tokens;
  if (tokens.size() < 3 || !tokens[2].IsName()) {
    throw tsql::SyntaxError(tokens.size() > 2 ? tokens[2] : Token{}, &tokens[1]);
  }
  tsql::DottedName name = tsql::ReadDottedName(tokens, 2);
  if (name.end >= tokens.size() || !tokens[name.end].IsWord("as")) {
    throw tsql::SyntaxError(name.end < tokens.size() ? tokens[name.end] : Token{},
                            &tokens[name.end - 1]);
  }
  Tokens body(tokens.begin() + static_cast<std::ptrdiff_t>(name.end) + 1, tokens.end());
  if (body.empty()) throw tsql::SyntaxError(Token{}, &tokens.back());
  if (kind == 'R') {
    bool has_variable = false;
    for (const Token& token : body) has_variable |= token.kind == tsql::TokenKind::kVariable;
    if (!has_variable) throw tsql::SyntaxError(body.front(), &tokens[name.end]);
  }
  RequireCreateRight(session, kind);
  std::optional<int> written_owner = CheckCreatedOwner(session, name);
  CatalogWrite write(session);
  sqlite3* db = write.Db();
  EnsureTables(db);
  if (NameTaken(db, name.Last())) throw MakeError(2714, {name.Last()});
  RunWithTexts(
      db,
      std::string("INSERT INTO main.") + kRulesTable +
          " (name, kind, definition, expression) VALUES (?, ?, ?, ?)",
      {name.Last(), std::string(1, kind), tsql::TokensText(tokens), tsql::TokensText(body)});
  catalog::RecordNewObject(db, "main", name.Last(), kind == 'R' ? "R" : "D");
  const DatabaseRights& rights = session.Rights().InCurrent();
  int owner = written_owner ? *written_owner
                : !session.IsSysadmin() && !rights.IsDbo() && rights.Uid() ? *rights.Uid()
                                                                            : kDboUid;
  bool owned_by_user = owner != kDboUid;
  if (owned_by_user) RecordOwner(db, "main", name.Last(), owner);
  write.Commit();
  if (owned_by_user) session.Engine().SecurityChanged();
}

void DropObjects(Session& session, const tsql::Statement& statement, char kind) {
  const Tokens& tokens = statement.tokens;
  std::vector<tsql::DottedName> names;
  for (size_t i = 2; i < tokens.size();) {
    if (!tokens[i].IsName()) throw tsql::SyntaxError(tokens[i], &tokens[i - 1]);
    tsql::DottedName name = tsql::ReadDottedName(tokens, i);
    i = name.end;
    names.push_back(std::move(name));
    if (i < tokens.size()) {
      if (!tokens[i].IsSymbol(",")) throw tsql::SyntaxError(tokens[i], &tokens[i - 1]);
      ++i;
    }
  }
  if (names.empty()) throw tsql::SyntaxError(Token{}, &tokens.back());
  CatalogWrite write(session);
  sqlite3* db = write.Db();
  bool owners_change = false;
  for (const tsql::DottedName& name : names) {
    // [owner.]name: the owner's object, a bare name the user's own or dbo's.
    if (name.parts.size() > 2)
      throw MakeError(166, {kind == 'R' ? "DROP RULE" : "DROP DEFAULT"});
    std::optional<StoredObject> object = FindObject(db, name.Last());
    if (!object || object->kind != kind ||
        !ReachesAsWritten(session, "", OwnerPart(name), object->name))
      throw MakeError(3701, {"drop", KindWord(kind), name.Written()});
    RequireDropRight(session, kind, object->name);
    if (IsBound(db, *object)) throw MakeError(3716, {KindWord(kind), object->name, "column"});
    RunWithTexts(db, std::string("DELETE FROM main.") + kRulesTable + " WHERE name = ?",
                 {object->name});
    RunWithTexts(
        db,
        std::string("DELETE FROM main.") + catalog::kObjectsTable + " WHERE name = ? AND xtype = ?",
        {object->name, std::string(1, kind)});
    owners_change |= ForgetObjectPermissions(db, "main", object->name);
  }
  write.Commit();
  if (owners_change) session.Engine().SecurityChanged();
}

std::string TriggerName(const std::string& table, const std::string& column,
                        std::string_view event) {
  return "sqlengine_rule_" + table + "_" + column + "_" + std::string(event);
}

std::string DefaultConstraintName(const std::string& table, const std::string& column) {
  return "sqlengine_bound_default_" + table + "_" + column;
}

// `sql` with every parameter named `variable` (any case, outside string
// literals) replaced by `replacement`.
std::string ReplaceParameter(const std::string& sql, const std::string& variable,
                             const std::string& replacement) {
  std::string out;
  for (size_t i = 0; i < sql.size();) {
    char c = sql[i];
    if (c == '\'') {
      size_t end = i + 1;
      while (end < sql.size() &&
             !(sql[end] == '\'' && (end + 1 >= sql.size() || sql[end + 1] != '\''))) {
        end += sql[end] == '\'' ? 2 : 1;
      }
      out += sql.substr(i, end + 1 - i);
      i = end + 1;
      continue;
    }
    if (c == '@' && tsql::EqualsIgnoreCase(sql.substr(i, variable.size()), variable)) {
      size_t after = i + variable.size();
      bool whole = after >= sql.size() ||
                   !(std::isalnum(static_cast<unsigned char>(sql[after])) || sql[after] == '_' ||
                     sql[after] == '@' || sql[after] == '#' || sql[after] == '$');
      if (whole) {
        out += replacement;
        i = after;
        continue;
      }
    }
    out += c;
    ++i;
  }
  return out;
}

// The SQLite query that yields 1 when the new value of table.column breaks
// the rule `expression`: the rule's condition bound by the front end with its
// variable typed as the column (the rewriter's meaning when the front end
// does not cover it), the variable then standing for the trigger's new value.
std::string BrokenRuleCondition(Session& session, sqlite3* db, const std::string& expression,
                                const std::string& table, const std::string& column) {
  Tokens condition = Lexed(expression);
  std::string variable;
  for (const Token& token : condition) {
    if (token.kind == tsql::TokenKind::kVariable) variable = token.text;
  }
  Tokens written = Lexed("NOT (");
  for (const Token& token : condition) written.push_back(token);
  for (const Token& token : Lexed(")")) written.push_back(token);
  ColumnType type{SqlType::kSqlVariant};
  catalog::PreparedStatement info = catalog::Prepare(
      db, "SELECT type FROM pragma_table_info(?, 'main') WHERE name = ? COLLATE NOCASE");
  sqlite3_bind_text(info.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(info.get(), 2, column.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(info.get()) == SQLITE_ROW) {
    type = tsql::ParseDeclaredType(catalog::ColumnText(info.get(), 0)).value_or(type);
  }
  std::string key = tsql::ToLower(variable);
  std::map<std::string, Variable>& variables = session.Variables();
  std::optional<Variable> hidden;
  if (auto it = variables.find(key); it != variables.end()) hidden = it->second;
  variables[key] = Variable{type, Value{}, std::nullopt};
  std::optional<tsql::SqliteText> bound;
  try {
    bound = FrontEndCondition(written, 1, session);
  } catch (...) {
    variables.erase(key);
    if (hidden) variables[key] = *hidden;
    throw;
  }
  variables.erase(key);
  if (hidden) variables[key] = *hidden;
  // A condition the front end cannot take is one no row could be checked against.
  if (!bound) throw tsql::SyntaxError(condition.front());
  std::string value = "new." + tsql::QuoteSqliteName(column);
  return "(" + ReplaceParameter(bound->sql, variable, value) + ")";
}

void DropColumnBinding(Session& session, sqlite3* db, char kind, const std::string& table,
                       const std::string& column) {
  if (!HasTable(db, kBindingsTable)) return;
  if (!HasRow(db,
              std::string("SELECT 1 FROM main.") + kBindingsTable +
                  " WHERE table_name = ? AND column_name = ? AND kind = ?",
              {table, column, std::string(1, kind)})) {
    return;
  }
  if (kind == 'R') {
    for (std::string_view event : {"insert", "update"}) {
      catalog::Exec(db, "DROP TRIGGER IF EXISTS main." +
                            tsql::QuoteSqliteName(TriggerName(table, column, event)));
    }
  } else {
    Tokens alter = Lexed("ALTER TABLE " + Bracketed(table) + " DROP CONSTRAINT " +
                         Bracketed(DefaultConstraintName(table, column)));
    SessionCatalog catalog(session);
    ChangeConstraint(db, alter, session.Connection(), catalog, session.Connection().Database());
  }
  RunWithTexts(db,
               std::string("DELETE FROM main.") + kBindingsTable +
                   " WHERE table_name = ? AND column_name = ? AND kind = ?",
               {table, column, std::string(1, kind)});
}

// The table and column `written` ('t.c', 'dbo.t.c') names in the current
// database, with their stored spelling; nullopt when it names no column.
std::optional<std::pair<std::string, std::string>> FindColumn(sqlite3* db,
                                                              const std::string& written) {
  tsql::DottedName name = tsql::ReadWrittenName(written);
  if (name.parts.size() < 2) return std::nullopt;
  const std::string& table = name.parts[name.parts.size() - 2];
  catalog::PreparedStatement columns = catalog::Prepare(
      db,
      "SELECT m.name, c.name FROM main.sqlite_master m JOIN pragma_table_info(m.name, 'main') c "
      "WHERE m.type = 'table' AND m.name = ? COLLATE NOCASE AND c.name = ? COLLATE NOCASE");
  sqlite3_bind_text(columns.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(columns.get(), 2, name.Last().c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(columns.get()) != SQLITE_ROW) return std::nullopt;
  return std::make_pair(catalog::ColumnText(columns.get(), 0),
                        catalog::ColumnText(columns.get(), 1));
}

// sp_bindrule / sp_bindefault.
void Bind(Session& session, const std::vector<CallArgument>& given, char kind) {
  std::string_view procedure = kind == 'R' ? "sp_bindrule" : "sp_bindefault";
  Arguments args(procedure, given,
                 {kind == 'R' ? "@rulename" : "@defname", "@objname", "@futureonly"});
  std::string object_name = args.Required(0, procedure, kind == 'R' ? "@rulename" : "@defname");
  std::string target = args.Required(1, procedure, "@objname");
  bool future_only = args[2] && tsql::EqualsIgnoreCase(*args[2], "futureonly");
  RequireDdlRights(session, 15247);
  CatalogWrite write(session);
  sqlite3* db = write.Db();
  std::optional<StoredObject> object = FindObject(db, tsql::ReadWrittenName(object_name).Last());
  if (!object || object->kind != kind) {
    throw MakeError(kind == 'R' ? 15017 : 15016, {object_name});
  }
  // A one-part name ('amount', '[amount]') names a user type, more parts a column.
  tsql::DottedName target_name = tsql::ReadWrittenName(target);
  if (target_name.parts.size() != 1) {
    std::optional<std::pair<std::string, std::string>> column = FindColumn(db, target);
    if (!column) throw MakeError(15148, {target});
    BindToColumn(session, db, kind, object->name, column->first, column->second);
  } else {
    std::optional<UserType> type = FindUserType(db, target_name.Last());
    if (!type) throw MakeError(15148, {target});
    const std::string& before = kind == 'R' ? type->rule : type->default_name;
    SetTypeBinding(db, type->name, kind, object->name);
    if (!future_only) {
      for (const auto& [table, column] : ColumnsOfType(db, type->name)) {
        std::optional<std::string> bound = ColumnBinding(db, kind, table, column);
        if (!bound || tsql::EqualsIgnoreCase(*bound, before)) {
          BindToColumn(session, db, kind, object->name, table, column);
        }
      }
    }
  }
  write.Commit();
}

// sp_unbindrule / sp_unbindefault.
void Unbind(Session& session, const std::vector<CallArgument>& given, char kind) {
  std::string_view procedure = kind == 'R' ? "sp_unbindrule" : "sp_unbindefault";
  Arguments args(procedure, given, {"@objname", "@futureonly"});
  std::string target = args.Required(0, procedure, "@objname");
  bool future_only = args[1] && tsql::EqualsIgnoreCase(*args[1], "futureonly");
  RequireDdlRights(session, 15247);
  CatalogWrite write(session);
  sqlite3* db = write.Db();
  tsql::DottedName target_name = tsql::ReadWrittenName(target);
  if (target_name.parts.size() != 1) {
    std::optional<std::pair<std::string, std::string>> column = FindColumn(db, target);
    if (!column) throw MakeError(15148, {target});
    DropColumnBinding(session, db, kind, column->first, column->second);
  } else {
    std::optional<UserType> type = FindUserType(db, target_name.Last());
    if (!type) throw MakeError(15148, {target});
    std::string before = kind == 'R' ? type->rule : type->default_name;
    SetTypeBinding(db, type->name, kind, "");
    if (!future_only && !before.empty()) {
      for (const auto& [table, column] : ColumnsOfType(db, type->name)) {
        std::optional<std::string> bound = ColumnBinding(db, kind, table, column);
        if (bound && tsql::EqualsIgnoreCase(*bound, before)) {
          DropColumnBinding(session, db, kind, table, column);
        }
      }
    }
  }
  write.Commit();
}

// How many RulesUnchecked scopes this thread is in.
thread_local int rules_unchecked = 0;

// sqlengine_rule_conflict(table, column): the 513 a rule's trigger raises,
// naming the database the session works in.
void RuleConflict(sqlite3_context* context, int, sqlite3_value** args) {
  if (rules_unchecked > 0) return sqlite3_result_null(context);
  auto* host = static_cast<FunctionHost*>(sqlite3_user_data(context));
  ResultSqlError(context, MakeError(513, {host->DatabaseName(), SqliteValueText(args[0]),
                                          SqliteValueText(args[1])}));
}

constexpr FunctionDefinition kFunctions[] = {
    {"sqlengine_rule_conflict", 2, RuleConflict, false},
};

}  // namespace

RulesUnchecked::RulesUnchecked() { ++rules_unchecked; }

RulesUnchecked::~RulesUnchecked() { --rules_unchecked; }

void ForgetColumnBindings(sqlite3* db, const std::string& table) {
  if (!HasTable(db, kBindingsTable)) return;
  RunWithTexts(db, std::string("DELETE FROM main.") + kBindingsTable + " WHERE table_name = ?",
               {table});
}

bool HasRulesTable(sqlite3* db, const std::string& schema) {
  return HasRow(db,
                "SELECT 1 FROM " + tsql::QuoteSqliteName(schema) +
                    ".sqlite_master WHERE type = 'table' AND name = ?",
                {std::string(kRulesTable)});
}

void RegisterRuleFunctions(sqlite3* db, FunctionHost& host) {
  RegisterFunctionTable(db, kFunctions, &host);
}

std::optional<std::string> ColumnBinding(sqlite3* db, char kind, const std::string& table,
                                         const std::string& column) {
  if (!HasTable(db, kBindingsTable)) return std::nullopt;
  catalog::PreparedStatement find =
      catalog::Prepare(db, std::string("SELECT object_name FROM main.") + kBindingsTable +
                               " WHERE table_name = ? AND column_name = ? AND kind = ?");
  std::string kind_text(1, kind);
  sqlite3_bind_text(find.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(find.get(), 2, column.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(find.get(), 3, kind_text.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(find.get()) != SQLITE_ROW) return std::nullopt;
  return catalog::ColumnText(find.get(), 0);
}

void BindToColumn(Session& session, sqlite3* db, char kind, const std::string& object,
                  const std::string& table, const std::string& column) {
  EnsureTables(db);
  std::optional<StoredObject> stored = FindObject(db, object);
  if (!stored) throw MakeError(kind == 'R' ? 15017 : 15016, {object});
  DropColumnBinding(session, db, kind, table, column);
  if (kind == 'R') {
    std::string broken = BrokenRuleCondition(session, db, stored->expression, table, column);
    std::string body = " WHEN " + broken + " = 1 BEGIN SELECT sqlengine_rule_conflict(" +
                       tsql::QuoteSqliteString(table) + ", " + tsql::QuoteSqliteString(column) +
                       "); END";
    catalog::Exec(db, "CREATE TRIGGER main." +
                          tsql::QuoteSqliteName(TriggerName(table, column, "insert")) +
                          " AFTER INSERT ON " + tsql::QuoteSqliteName(table) + body);
    catalog::Exec(db, "CREATE TRIGGER main." +
                          tsql::QuoteSqliteName(TriggerName(table, column, "update")) +
                          " AFTER UPDATE OF " + tsql::QuoteSqliteName(column) + " ON " +
                          tsql::QuoteSqliteName(table) + body);
  } else {
    Tokens alter = Lexed("ALTER TABLE " + Bracketed(table) + " ADD CONSTRAINT " +
                         Bracketed(DefaultConstraintName(table, column)) + " DEFAULT (" +
                         stored->expression + ") FOR " + Bracketed(column));
    SessionCatalog catalog(session);
    ChangeConstraint(db, alter, session.Connection(), catalog, session.Connection().Database());
  }
  RunWithTexts(db,
               std::string("INSERT INTO main.") + kBindingsTable +
                   " (table_name, column_name, kind, object_name) VALUES (?, ?, ?, ?)",
               {table, column, std::string(1, kind), stored->name});
}

bool RunRuleOrDefaultStatement(Session& session, const tsql::Statement& statement,
                               ResultSink& sink) {
  const Tokens& tokens = statement.tokens;
  if (tokens.size() < 2 || !tokens[1].IsAnyWord({"rule", "default"})) return false;
  char kind = tokens[1].IsWord("rule") ? 'R' : 'D';
  if (tokens[0].IsWord("create")) {
    CreateObject(session, statement, kind);
  } else if (tokens[0].IsWord("drop")) {
    DropObjects(session, statement, kind);
  } else {
    return false;
  }
  sink.Done(StatementDone{});
  return true;
}

bool RunBindingProcedure(Session& session, std::string_view name,
                         const std::vector<CallArgument>& arguments) {
  if (name == "sp_bindrule") {
    Bind(session, arguments, 'R');
  } else if (name == "sp_bindefault") {
    Bind(session, arguments, 'D');
  } else if (name == "sp_unbindrule") {
    Unbind(session, arguments, 'R');
  } else if (name == "sp_unbindefault") {
    Unbind(session, arguments, 'D');
  } else {
    return false;
  }
  return true;
}

}  // namespace sqlengine::exec
