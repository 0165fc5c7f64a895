// A batch compiled whole before it runs: SQL Server binds every statement of
// a batch first, and an invalid column, an ambiguous one, a select list that
// does not fit its GROUP BY, a built-in called wrongly ... stops the batch
// before its first statement has run, wherever the statement stands (in an
// IF's branch that would never be taken too).
//
// The executor binds each SELECT, INSERT, UPDATE, DELETE and IF / WHILE
// condition ahead with the binder its run uses, against the catalog as it
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
//    ... EXEC, SELECT @v = ....
// A procedure's body is bound so when it is created, its parameters declared.
// A binding made ahead is kept as the run's own (bound_texts.h), so a
// statement's shape binds once; statements of one shape are bound ahead
// once per batch, and a batch of one statement not at all: its run fails
// before anything else could have run.

#include <exception>
#include <map>
#include <string>
#include <unordered_set>

#include "engine/common/error.h"
#include "engine/exec/batch_executor.h"
#include "engine/exec/bound_texts.h"
#include "engine/exec/front_end_condition.h"
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

// The errors SQL Server finds when it compiles a statement.
bool IsCompileError(int number) {
  switch (number) {
    case 104:   // ORDER BY item not in the select list of a UNION
    case 107:   // column prefix matching no table or alias
    case 108:   // ORDER BY position out of range
    case 109:   // more columns in an INSERT's list than values
    case 110:   // fewer columns in an INSERT's list than values
    case 116:   // more than one column in a subquery without EXISTS
    case 120:   // INSERT ... SELECT: fewer columns than the list
    case 121:   // INSERT ... SELECT: more columns than the list
    case 130:   // an aggregate over an aggregate or subquery
    case 144:   // an aggregate or subquery in GROUP BY
    case 145:   // ORDER BY item not in the list of SELECT DISTINCT
    case 147:   // an aggregate in WHERE
    case 174:   // a built-in given the wrong number of arguments
    case 189:   // a built-in given too few or too many arguments
    case 195:   // no such built-in function
    case 205:   // UNION terms of unequal column counts
    case 206:   // operand type clash
    case 207:   // invalid column name
    case 209:   // ambiguous column name
    case 213:   // INSERT values not matching the columns
    case 264:   // a column assigned twice by one UPDATE
    case 409:   // SUM or AVG of character data
    case 8116:  // argument type invalid for a built-in
    case 8117:  // operand type invalid for an operator
    case 8118:  // column neither aggregated nor grouped (no GROUP BY)
    case 8120:  // column neither aggregated nor grouped
    case 8121:  // HAVING column neither aggregated nor grouped
    case 8127:  // ORDER BY column neither aggregated nor grouped
    case 8155:  // a derived table's column without a name
    case 8156:  // a column named twice in a derived table or view
    case 8158:  // a derived table with more columns than its names
    case 8159:  // a derived table with fewer columns than its names
      return true;
    default:
      return false;
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

void BatchExecutor::BindBodyBeforeStoring(const tsql::Statement& create,
                                          const tsql::ProcedureDefinition& definition,
                                          const tsql::StatementList& statements) {
  // Its names are bound as its owner's when it runs: here only where the
  // creator's reach the same objects, as dbo's in the current database.
  tsql::DottedName name = tsql::ReadDottedName(create.tokens, 2);
  if (!definition.database.empty() || !session_.Rights().IsSysadmin() ||
      (name.parts.size() >= 2 && !name.parts[name.parts.size() - 2].empty() &&
       !tsql::EqualsIgnoreCase(name.parts[name.parts.size() - 2], "dbo")))
    return;
  BindAll(statements, definition.parameters);
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
    try {
      FrontEndCondition(statement.condition, statement.line, session_);
    } catch (SqlError& error) {
      if (IsCompileError(error.message().number)) {
        if (error.message().line <= 1) error.message().line = statement.line;
        throw;
      }
    } catch (const std::exception&) {
      // Left to the run, which meets it again.
    }
  }
  for (const auto& inner : statement.body) BindAhead(*inner, ahead);
  if (statement.else_branch) BindAhead(*statement.else_branch, ahead);
}

void BatchExecutor::BindRowStatementAhead(const tsql::Statement& statement, BindingAhead& ahead) {
  if (AssignsVariables(statement) || InsertExecuteAt(statement) ||
      tsql::CurrentOfAt(statement.tokens) ||
      !TableVariables::TablePositions(statement.tokens).empty() ||
      NamesAny(statement, ahead.changed))
    return;
  if (statement.kind == StatementKind::kInsert && ahead.identity_insert_set) return;
  std::string shape = shape_made_.made && shape_made_.of == &statement
                          ? std::move(shape_made_.key)
                          : BoundTexts::ShapeKey(statement);
  if (!shape.empty() && !ahead.bound_shapes.insert(std::move(shape)).second) return;
  try {
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
    bound_context_.reset();
  } catch (SqlError& error) {
    bound_context_.reset();
    if (!IsCompileError(error.message().number)) return;
    if (error.message().line <= 1) error.message().line = statement.line;
    throw;
  } catch (const std::exception&) {
    // Left to the run, which meets it again.
    bound_context_.reset();
  }
}

}  // namespace sqlengine::exec
