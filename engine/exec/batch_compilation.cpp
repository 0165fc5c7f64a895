// A batch compiled whole before it runs: SQL Server binds every statement of
// a batch first, and an invalid column, an ambiguous one, a select list that
// does not fit its GROUP BY, a built-in called wrongly ... stops the batch
// before its first statement has run, wherever the statement stands (in an
// IF's branch that would never be taken too).
//
// The executor binds each SELECT (SELECT @v = ... too), INSERT, UPDATE,
// DELETE, IF / WHILE condition and the subquery of a SET @v = ... or
// RETURN ... ahead with the binder its run uses, against the catalog as it
// stands when the batch starts. Only a compile error stops the batch; every
// other failure of the early binding (an object that does not exist yet, a
// variable the batch has not declared yet, a right, another database) is
// left to the statement's run, which meets it again where it stands, as SQL
// Server's deferred name resolution does. Left to the run as well:
//  - a statement naming an object an earlier statement of the batch drops,
//    alters, creates or renames, whose shape the catalog does not hold yet;
//  - everything after USE, SETUSER or a change of a whole database, after
//    which names lead elsewhere;
//  - INSERTs after SET IDENTITY_INSERT, whose column lists it changes;
//  - what CheckSyntax leaves to the run: table variables, cursors, INSERT
//    ... EXEC.
// A procedure's, function's or trigger's body is bound so when it is
// created, its parameters declared (a trigger's `inserted` and `deleted`
// made for the while), its names reaching its owner's objects and dbo's.
// A binding made ahead is kept as the run's own (bound_texts.h), so a
// statement's shape binds once; statements of one shape are bound ahead
// once per batch, and a batch of one statement not at all: its run fails
// before anything else could have run.

#include <algorithm>
#include <exception>
#include <map>
#include <optional>
#include <string>
#include <unordered_set>

#include "engine/common/error.h"
#include "engine/exec/batch_executor.h"
#include "engine/exec/bound_texts.h"
#include "engine/exec/front_end_condition.h"
#include "engine/exec/front_end_select.h"
#include "engine/exec/identity_insert.h"
#include "engine/exec/scoped_value.h"
#include "engine/exec/session.h"
#include "engine/exec/write_lock.h"
#include "engine/tsql/cursor_statements.h"
#include "engine/tsql/dotted_name.h"
#include "engine/tsql/drop_lists.h"
#include "engine/tsql/procedure_definition.h"
#include "engine/tsql/sqlite_quoting.h"

namespace sqlengine::exec {

using tsql::StatementKind;

struct BatchExecutor::BindingAhead {
  explicit BindingAhead(std::map<std::string, Variable>& variables) : variables(variables) {}
  ~BindingAhead() {
    for (const std::string& name : declared) variables.erase(name);
  }
  BindingAhead(const BindingAhead&) = delete;
  BindingAhead& operator=(const BindingAhead&) = delete;

  std::map<std::string, Variable>& variables;
  // Lower-case names of the objects earlier statements change.
  std::unordered_set<std::string> changed;
  std::unordered_set<std::string> bound_shapes;
  // The variables the batch declares, as the session holds them only while
  // the statements are bound ahead.
  std::vector<std::string> declared;
  bool identity_insert_set = false;
  bool stopped = false;
};

namespace {

// Runs `bind`, a binding made ahead of the run: a compile error is thrown
// with `line` where it has none; any other failure is left to the run, which
// meets it again.
template <typename Bind>
void ThrowCompileErrors(int line, Bind&& bind) {
  try {
    bind();
  } catch (SqlError& error) {
    if (!IsCompileError(error.message().number)) return;
    if (error.message().line <= 1) error.message().line = line;
    throw;
  } catch (const std::exception&) {
    // Left to the run.
  }
}

void NoteNames(const tsql::Tokens& tokens, std::unordered_set<std::string>& names) {
  for (const tsql::Token& token : tokens)
    if (token.IsName()) names.insert(tsql::ToLower(token.value));
}

bool NamesAny(const tsql::Tokens& tokens, const std::unordered_set<std::string>& names) {
  if (names.empty()) return false;
  for (const tsql::Token& token : tokens)
    if (token.IsName() && names.count(tsql::ToLower(token.value)) != 0) return true;
  return false;
}

bool NamesAny(const tsql::Statement& statement, const std::unordered_set<std::string>& names) {
  if (NamesAny(statement.tokens, names)) return true;
  for (const tsql::CommonTableExpression& common : statement.with)
    if (NamesAny(common.query, names)) return true;
  return false;
}

bool CallsAny(const tsql::Tokens& tokens, std::initializer_list<std::string_view> procedures) {
  for (const tsql::Token& token : tokens)
    if (token.IsAnyWord(procedures)) return true;
  return false;
}

// What an EXEC does to the names the batch's later statements read: the
// names sp_rename changes go to `changed`; true when the names lead
// elsewhere after it.
// The scalar variables a DECLARE makes, with their types; nothing for a
// cursor or table variable, nor for a declaration the run will refuse.
std::vector<std::pair<std::string, ColumnType>> DeclaredVariables(const tsql::Tokens& tokens) {
  std::vector<std::pair<std::string, ColumnType>> declared;
  size_t i = 1;
  while (i < tokens.size() && tokens[i].kind == tsql::TokenKind::kVariable) {
    std::string name = tsql::ToLower(tokens[i].text);
    if (++i < tokens.size() && tokens[i].IsWord("as")) ++i;
    if (i >= tokens.size() || tokens[i].IsAnyWord({"cursor", "table"})) break;
    try {
      declared.emplace_back(std::move(name), ReadDeclaredType(tokens, i));
    } catch (const SqlError&) {
      break;
    }
    // Past an initial value.
    for (int depth = 0; i < tokens.size() && !(depth == 0 && tokens[i].IsSymbol(",")); ++i) {
      if (tokens[i].IsSymbol("(")) ++depth;
      if (tokens[i].IsSymbol(")")) --depth;
    }
    ++i;
  }
  return declared;
}

bool NoteCall(const tsql::Statement& statement, std::unordered_set<std::string>& changed) {
  if (CallsAny(statement.tokens, {"setuser", "sp_attach_db", "sp_attach_single_file_db",
                                  "sp_detach_db", "sp_renamedb", "sp_changeobjectowner"}))
    return true;
  if (!CallsAny(statement.tokens, {"sp_rename"})) return false;
  for (const tsql::Token& token : statement.tokens) {
    if (token.kind != tsql::TokenKind::kString && token.kind != tsql::TokenKind::kNationalString)
      continue;
    for (const std::string& part : tsql::ReadWrittenName(token.value).parts)
      changed.insert(tsql::ToLower(part));
  }
  return false;
}

// The query of INSERT [INTO] @t [(columns)] SELECT ... whose only table
// variable is its target, as a SELECT of its own; nullopt for another
// statement.
std::optional<tsql::Statement> QueryIntoTableVariable(const tsql::Statement& statement,
                                                      const std::vector<size_t>& variables) {
  const tsql::Tokens& tokens = statement.tokens;
  if (statement.kind != StatementKind::kInsert || variables.size() != 1) return std::nullopt;
  const size_t target = tokens.size() > 1 && tokens[1].IsWord("into") ? 2 : 1;
  if (variables.front() != target) return std::nullopt;
  size_t i = target + 1;
  if (i < tokens.size() && tokens[i].IsSymbol("(")) {
    while (i < tokens.size() && !tokens[i].IsSymbol(")")) ++i;
    ++i;
  }
  if (i >= tokens.size() || !tokens[i].IsWord("select")) return std::nullopt;
  tsql::Statement query;
  query.kind = StatementKind::kSelect;
  query.line = statement.line;
  query.with = statement.with;
  query.tokens.assign(tokens.begin() + static_cast<std::ptrdiff_t>(i), tokens.end());
  return query;
}

// SELECT ... INTO t makes t.
void NoteSelectInto(const tsql::Tokens& tokens, std::unordered_set<std::string>& names) {
  for (size_t i = 0; i + 1 < tokens.size(); ++i) {
    if (!tokens[i].IsWord("into") || !tokens[i + 1].IsName()) continue;
    for (const std::string& part : tsql::ReadDottedName(tokens, i + 1).parts)
      names.insert(tsql::ToLower(part));
  }
}

}  // namespace

namespace {

// A batch of one statement is not bound ahead: its run fails before anything
// else could have run.
bool BindsAhead(const tsql::StatementList& statements) {
  return statements.size() != 1 || !statements.front()->body.empty() ||
         statements.front()->else_branch;
}

}  // namespace

void BatchExecutor::BindBeforeRunning(const tsql::StatementList& statements) {
  if (BindsAhead(statements)) BindAll(statements, {});
}

bool BatchExecutor::CheckAndBindBeforeRunning(const tsql::StatementList& statements,
                                              bool check_syntax) {
  if (!BindsAhead(statements)) return !check_syntax || CheckSyntax(statements);
  BindingAhead ahead(session_.Variables());
  SessionConnection::StatementScope scope(session_.Connection());
  ScopedValue<ShapeMade> shapes(shape_made_, {});
  std::exception_ptr bind_failure;
  bool textual = true;
  for (const auto& each : statements) {
    if (!check_syntax && (bind_failure || ahead.stopped)) break;
    std::optional<tsql::Statement> read = tsql::ReadDeferred(*each);
    const tsql::Statement& statement = read ? *read : *each;
    shape_made_ = {&statement, {}, false};
    if (check_syntax) textual = CheckSyntax(statement) && textual;
    if (!bind_failure && !ahead.stopped) {
      try {
        BindAhead(statement, ahead);
      } catch (...) {
        bind_failure = std::current_exception();
      }
    }
  }
  if (bind_failure) std::rethrow_exception(bind_failure);
  return textual;
}

void BatchExecutor::BindBodyBeforeStoring(const std::string& database, std::optional<int> owner,
                                          const std::vector<tsql::ParameterDeclaration>& parameters,
                                          const tsql::StatementList& statements) {
  // A body of another database is bound where it runs.
  if (!database.empty()) return;
  // Its names reach its owner's objects first, then dbo's, as when it runs.
  SessionRights::BodyScope rights(session_.Rights(), !owner || *owner == kDboUid,
                                  BodyDatabase(database), owner);
  BindAll(statements, parameters);
}

std::optional<int> BatchExecutor::DefinedBodyOwner(const std::string& name, bool alter) {
  if (alter) return BodyOwner("", name);
  SessionConnection& connection = session_.Connection();
  return CreatedObjectOwner(connection.UnqualifiedDatabase(), connection.UnqualifiedSchema());
}

void BatchExecutor::BindAll(const tsql::StatementList& statements,
                            const std::vector<tsql::ParameterDeclaration>& parameters) {
  BindingAhead ahead(session_.Variables());
  SessionConnection::StatementScope scope(session_.Connection());
  for (const tsql::ParameterDeclaration& parameter : parameters) {
    std::string name = tsql::ToLower(parameter.name);
    if (ahead.variables.emplace(name, Variable{parameter.type, Value{}, std::nullopt}).second)
      ahead.declared.push_back(std::move(name));
  }
  for (const auto& statement : statements) {
    BindAhead(*statement, ahead);
    if (ahead.stopped) break;
  }
}

void BatchExecutor::BindAhead(const tsql::Statement& statement, BindingAhead& ahead) {
  if (ahead.stopped) return;
  if (std::optional<tsql::Statement> read = tsql::ReadDeferred(statement)) {
    BindAhead(*read, ahead);
    return;
  }
  switch (statement.kind) {
    case StatementKind::kSelect:
      NoteSelectInto(statement.tokens, ahead.changed);
      [[fallthrough]];
    case StatementKind::kInsert:
    case StatementKind::kUpdate:
    case StatementKind::kDelete:
      BindRowStatementAhead(statement, ahead);
      return;
    case StatementKind::kCreateTable:
    case StatementKind::kDropTable:
    case StatementKind::kCreateOther:
    case StatementKind::kDropOther:
    case StatementKind::kAlterTable:
    case StatementKind::kDropProcedure:
    case StatementKind::kDropFunction:
    case StatementKind::kDropTrigger:
      NoteNames(statement.tokens, ahead.changed);
      return;
    case StatementKind::kExecute:
      ahead.stopped = NoteCall(statement, ahead.changed);
      return;
    case StatementKind::kSet:
      if (statement.tokens.size() > 1 && statement.tokens[1].IsWord("identity_insert"))
        ahead.identity_insert_set = true;
      // SET @v = expression, not a cursor.
      if (statement.tokens.size() > 3 && statement.tokens[1].kind == tsql::TokenKind::kVariable &&
          statement.tokens[2].IsSymbol("=") && !statement.tokens[3].IsWord("cursor")) {
        BindExpressionAhead(tsql::Tokens(statement.tokens.begin() + 3, statement.tokens.end()),
                            statement.line, ahead);
      }
      return;
    case StatementKind::kReturn:
      if (statement.tokens.size() > 1)
        BindExpressionAhead(tsql::Tokens(statement.tokens.begin() + 1, statement.tokens.end()),
                            statement.line, ahead);
      return;
    case StatementKind::kDeclare:
      for (auto& [name, type] : DeclaredVariables(statement.tokens)) {
        if (ahead.variables.emplace(name, Variable{type, Value{}, std::nullopt}).second)
          ahead.declared.push_back(std::move(name));
      }
      return;
    case StatementKind::kUse:
    case StatementKind::kCreateDatabase:
    case StatementKind::kDropDatabase:
    case StatementKind::kAlterDatabase:
    case StatementKind::kRestore:
      ahead.stopped = true;
      return;
    default:
      break;
  }
  if (!statement.condition.empty() && !NamesAny(statement.condition, ahead.changed) &&
      TableVariables::TablePositions(statement.condition).empty()) {
    ThrowCompileErrors(statement.line, [&] {
      FrontEndCondition(statement.condition, statement.line, session_);
    });
  }
  for (const auto& inner : statement.body) BindAhead(*inner, ahead);
  if (statement.else_branch) BindAhead(*statement.else_branch, ahead);
}

void BatchExecutor::BindRowStatementAhead(const tsql::Statement& statement, BindingAhead& ahead) {
  if (AssignsVariables(statement)) {
    BindAssignmentsAhead(statement, ahead);
    return;
  }
  if (std::vector<size_t> variables = TableVariables::TablePositions(statement.tokens);
      !variables.empty()) {
    // Table variables are made as the statements run; a query into one
    // reads none.
    if (std::optional<tsql::Statement> query = QueryIntoTableVariable(statement, variables))
      BindRowStatementAhead(*query, ahead);
    return;
  }
  if (InsertExecuteAt(statement) || tsql::CurrentOfAt(statement.tokens) ||
      NamesAny(statement, ahead.changed))
    return;
  if (statement.kind == StatementKind::kInsert && ahead.identity_insert_set) return;
  std::string shape = shape_made_.made && shape_made_.of == &statement
                          ? std::move(shape_made_.key)
                          : BoundTexts::ShapeKey(statement);
  if (!shape.empty() && !ahead.bound_shapes.insert(std::move(shape)).second) return;
  struct ForgetContext {
    std::optional<StatementCache::Context>& context;
    ~ForgetContext() { context.reset(); }
  } forget{bound_context_};
  ThrowCompileErrors(statement.line, [&] {
    std::optional<tsql::Statement> explicit_insert;
    if (statement.kind == StatementKind::kInsert) {
      // As the run binds it: an identity column left out of the list.
      SessionConnection& connection = session_.Connection();
      std::string schema = "temp";
      if (std::optional<std::string> written = WrittenDatabase(statement); written && *written != "#")
        schema = connection.SchemaOf(*written);
      if (std::optional<tsql::Tokens> listed = ApplyIdentityRules(
              connection, statement.tokens, session_.IdentityInsertTable(), schema)) {
        explicit_insert.emplace();
        explicit_insert->kind = statement.kind;
        explicit_insert->line = statement.line;
        explicit_insert->tokens = std::move(*listed);
        explicit_insert->with = statement.with;
      }
    }
    BindRowStatement(explicit_insert ? *explicit_insert : statement);
  });
}

void BatchExecutor::BindAssignmentsAhead(const tsql::Statement& statement, BindingAhead& ahead) {
  if (!TableVariables::TablePositions(statement.tokens).empty() ||
      NamesAny(statement, ahead.changed))
    return;
  ThrowCompileErrors(statement.line, [&] {
    AssignedSelect assigned = SelectOfAssignments(statement);
    // A variable the batch has not declared is the run's 137.
    for (const std::string& target : assigned.targets)
      if (session_.Variables().count(target) == 0) return;
    FrontEndSelect(assigned.select, session_, assigned.targets);
  });
}

void BatchExecutor::BindExpressionAhead(const tsql::Tokens& expression, int line,
                                        BindingAhead& ahead) {
  // Only an expression holding a subquery, whose tables and columns bind
  // here; a plain one (SET @i = @i + 1, bound on every run) is left to its
  // run rather than bound twice.
  if (!std::any_of(expression.begin(), expression.end(),
                   [](const tsql::Token& token) { return token.IsWord("select"); }) ||
      !TableVariables::TablePositions(expression).empty() || NamesAny(expression, ahead.changed))
    return;
  ThrowCompileErrors(line, [&] { FrontEndSelect(SelectOfExpression(expression, line), session_); });
}

}  // namespace sqlengine::exec
