#include "engine/exec/batch_executor.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <utility>

#include "engine/catalog/data_file.h"
#include "engine/catalog/master_catalog.h"
#include "engine/exec/arithmetic_errors.h"
#include "engine/exec/backup_restore.h"
#include "engine/exec/captured_result.h"
#include "engine/exec/catalog_procedures.h"
#include "engine/exec/check_option_guard.h"
#include "engine/exec/configuration_checks.h"
#include "engine/exec/configuration_procedures.h"
#include "engine/exec/column_alteration.h"
#include "engine/exec/constraint_changes.h"
#include "engine/exec/constraint_conflicts.h"
#include "engine/exec/database_access.h"
#include "engine/exec/database_context.h"
#include "engine/exec/database_options.h"
#include "engine/exec/database_security.h"
#include "engine/exec/dbcc.h"
#include "engine/exec/dirty_reads.h"
#include "engine/exec/dropped_objects.h"
#include "engine/exec/extended_properties.h"
#include "engine/exec/engine_impl.h"
#include "engine/exec/languages.h"
#include "engine/exec/exact_storage_form.h"
#include "engine/exec/exact_column_texts.h"
#include "engine/exec/format_only.h"
#include "engine/exec/front_end_catalog.h"
#include "engine/exec/front_end_condition.h"
#include "engine/exec/front_end_dml.h"
#include "engine/exec/key_changes.h"
#include "engine/exec/null_keys.h"
#include "engine/exec/front_end_fallbacks.h"
#include "engine/exec/for_xml_result.h"
#include "engine/exec/front_end_select.h"
#include "engine/exec/front_end_select_into.h"
#include "engine/exec/front_end_view.h"
#include "engine/exec/front_end_refusals.h"
#include "engine/exec/identity_columns.h"
#include "engine/exec/identity_insert.h"
#include "engine/exec/identity_counters_kept.h"
#include "engine/exec/identity_values_taken.h"
#include "engine/exec/identity_scope.h"
#include "engine/exec/ignored_duplicates.h"
#include "engine/exec/index_names.h"
#include "engine/exec/owner_names.h"
#include "engine/exec/procedure_arguments.h"
#include "engine/exec/schema_statement_sql.h"
#include "engine/exec/table_definition.h"
#include "engine/exec/index_replacement.h"
#include "engine/exec/maintenance_statements.h"
#include "engine/exec/normalised_columns.h"
#include "engine/exec/permission_statements.h"
#include "engine/exec/rules_defaults.h"
#include "engine/exec/scoped_value.h"
#include "engine/exec/server_functions.h"
#include "engine/exec/server_statements.h"
#include "engine/exec/server_variables.h"
#include "engine/exec/session.h"
#include "engine/exec/stored_expressions.h"
#include "engine/exec/table_definition_sql.h"
#include "engine/exec/temporary_tables.h"
#include "engine/exec/sqlite_errors.h"
#include "engine/exec/system_procedures.h"
#include "engine/exec/table_function_rows.h"
#include "engine/exec/table_truncation.h"
#include "engine/exec/per_row_variables.h"
#include "engine/exec/process_control.h"
#include "engine/exec/user_functions.h"
#include "engine/exec/user_messages.h"
#include "engine/exec/user_types.h"
#include "engine/exec/value_conversion.h"
#include "engine/exec/variable_assignment.h"
#include "engine/exec/view_change_capture.h"
#include "engine/exec/write_lock.h"
#include "engine/tsql/cursor_statements.h"
#include "engine/tsql/definition_placement.h"
#include "engine/tsql/definition_text.h"
#include "engine/tsql/drop_lists.h"
#include "engine/tsql/dotted_name.h"
#include "engine/tsql/lexer.h"
#include "engine/tsql/parser.h"
#include "engine/tsql/procedure_definition.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/syntax_error.h"
#include "engine/tsql/table_element_syntax.h"
#include "engine/tsql/table_reference.h"
#include "engine/tsql/type_name.h"
#include "engine/values/number_text.h"

namespace sqlengine::exec {
namespace {

using tsql::StatementKind;
using tsql::Token;
using tsql::TokenKind;
using tsql::Tokens;

// Whether a statement of `kind` may run while names without a database
// resolve in another database than the session's (a trigger of a table
// there): those whose names the front end resolves, and those naming no
// object. The others read or define objects of the session's database.
bool RunsWhereNamesResolve(StatementKind kind) {
  switch (kind) {
    case StatementKind::kSelect:
    case StatementKind::kInsert:
    case StatementKind::kUpdate:
    case StatementKind::kDelete:
    case StatementKind::kExecute:
    case StatementKind::kPrint:
    case StatementKind::kRaiserror:
    case StatementKind::kWaitFor:
    case StatementKind::kDeclare:
    case StatementKind::kSet:
    case StatementKind::kIf:
    case StatementKind::kWhile:
    case StatementKind::kBlock:
    case StatementKind::kTryCatch:
    case StatementKind::kBeginTransaction:
    case StatementKind::kCommit:
    case StatementKind::kRollback:
    case StatementKind::kSaveTransaction:
    case StatementKind::kReturn:
    case StatementKind::kBreak:
    case StatementKind::kContinue:
    case StatementKind::kGoto:
    case StatementKind::kLabel:
    case StatementKind::kOpenCursor:
    case StatementKind::kFetch:
    case StatementKind::kCloseCursor:
    case StatementKind::kDeallocateCursor:
    case StatementKind::kUse:
      return true;
    default:
      return false;
  }
}

constexpr const char* kVersion =
    "Microsoft SQL Server  2000 - 8.00.2039 (Intel X86) \n\tsqlengine (SQLite storage)\n";

std::string_view VerbOf(StatementKind kind) {
  switch (kind) {
    case StatementKind::kInsert:
      return "INSERT";
    case StatementKind::kUpdate:
      return "UPDATE";
    case StatementKind::kDelete:
      return "DELETE";
    default:
      return "";
  }
}

// @@ERROR is the number of the last statement's error: a statement that
// succeeds sets it to 0 once it has read it. BEGIN ... END, IF and WHILE leave
// it to the statements they run (IF and WHILE clear it after their condition),
// EXEC to the procedure's statements, RAISERROR sets its own.
bool ClearsLastError(StatementKind kind) {
  switch (kind) {
    case StatementKind::kBlock:
    case StatementKind::kIf:
    case StatementKind::kWhile:
    case StatementKind::kExecute:
    case StatementKind::kRaiserror:
    case StatementKind::kTryCatch:
    case StatementKind::kGoto:
    case StatementKind::kLabel:
      return false;
    default:
      return true;
  }
}

// @@ROWCOUNT is 0 after a statement that touches no rows: PRINT, RAISERROR,
// the transaction statements, USE, SET of an option, CLOSE and DEALLOCATE
// (IF and WHILE clear it once their condition has read it). SET of a
// variable counts its one row; DECLARE leaves the count as it was.
bool ClearsRowCount(const tsql::Statement& statement) {
  switch (statement.kind) {
    case StatementKind::kPrint:
    case StatementKind::kRaiserror:
    case StatementKind::kBeginTransaction:
    case StatementKind::kCommit:
    case StatementKind::kRollback:
    case StatementKind::kSaveTransaction:
    case StatementKind::kUse:
    case StatementKind::kCloseCursor:
    case StatementKind::kDeallocateCursor:
      return true;
    case StatementKind::kSet:
      return statement.tokens.size() > 1 && !statement.tokens[1].text.starts_with('@');
    default:
      return false;
  }
}

bool CountsRows(StatementKind kind) {
  return kind == StatementKind::kSelect || kind == StatementKind::kInsert ||
         kind == StatementKind::kUpdate || kind == StatementKind::kDelete;
}

Tokens Slice(const Tokens& tokens, size_t begin, size_t end) {
  return Tokens(tokens.begin() + static_cast<std::ptrdiff_t>(std::min(begin, tokens.size())),
                tokens.begin() + static_cast<std::ptrdiff_t>(std::min(end, tokens.size())));
}

// "hh:mm[:ss[.mmm]]" as milliseconds; nullopt when malformed.
std::optional<long> ParseClock(const std::string& text) {
  int hours = 0, minutes = 0, used = 0;
  double seconds = 0;
  if (std::sscanf(text.c_str(), "%d:%d:%lf%n", &hours, &minutes, &seconds, &used) != 3) {
    seconds = 0;
    if (std::sscanf(text.c_str(), "%d:%d%n", &hours, &minutes, &used) != 2) return std::nullopt;
  }
  if (static_cast<size_t>(used) != text.size() || hours < 0 || hours > 23 || minutes < 0 ||
      minutes > 59 || seconds < 0 || seconds >= 60) {
    return std::nullopt;
  }
  return static_cast<long>((hours * 3600 + minutes * 60) * 1000L +
                           static_cast<long>(seconds * 1000));
}

// Limits `INSERT ... SELECT` in rewritten SQL to `limit` rows by reading its
// query as a subquery with a LIMIT; INSERT ... VALUES inserts one row anyway.
void LimitInsertedRows(std::string& sql, size_t from, std::int64_t limit) {
  int depth = 0;
  char quote = 0;
  for (size_t i = from; i < sql.size(); ++i) {
    char c = sql[i];
    if (quote != 0) {
      if (c == quote) quote = 0;
      continue;
    }
    if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == '(') {
      ++depth;
    } else if (c == ')') {
      --depth;
    } else if (depth == 0 && (i == 0 || sql[i - 1] == ' ')) {
      std::string word = tsql::ToLower(std::string_view(sql).substr(i, 7));
      if (word == "values " || word == "default") return;
      if (word == "select ") {
        sql = sql.substr(0, i) + "SELECT * FROM (" + sql.substr(i) + ") LIMIT " +
              std::to_string(limit);
        return;
      }
    }
  }
}

// One EXEC as the sink sees it: a procedure that does not reach End (an
// error before or while it runs, a cancel) is abandoned without tokens.
class ProcedureScope {
 public:
  explicit ProcedureScope(ResultSink& sink) : sink_(sink) { sink_.BeginProcedure(); }
  ~ProcedureScope() {
    if (!ended_) sink_.EndProcedure(std::nullopt);
  }
  ProcedureScope(const ProcedureScope&) = delete;
  ProcedureScope& operator=(const ProcedureScope&) = delete;
  void End(std::int32_t return_status) {
    ended_ = true;
    sink_.EndProcedure(return_status);
  }

 private:
  ResultSink& sink_;
  bool ended_ = false;
};

// SELECT @a = expr [, @b = expr] [FROM ...].
// A query or a change of rows, which compiles to one SQLite statement.
bool IsRowStatement(StatementKind kind) {
  return kind == StatementKind::kSelect || kind == StatementKind::kInsert ||
         kind == StatementKind::kUpdate || kind == StatementKind::kDelete;
}

// Where a SELECT's list starts: after ALL or DISTINCT and TOP n [PERCENT]
// [WITH TIES] (n a number, a variable or a parenthesized expression).
size_t SelectListStart(const Tokens& tokens) {
  size_t at = 1;
  if (at < tokens.size() && tokens[at].IsAnyWord({"all", "distinct"})) ++at;
  if (at + 1 >= tokens.size() || !tokens[at].IsWord("top")) return at;
  ++at;
  if (tokens[at].IsSymbol("(")) {
    int depth = 0;
    for (; at < tokens.size(); ++at) {
      if (tokens[at].IsSymbol("(")) ++depth;
      if (tokens[at].IsSymbol(")") && --depth == 0) break;
    }
  }
  ++at;
  if (at < tokens.size() && tokens[at].IsWord("percent")) ++at;
  if (at + 1 < tokens.size() && tokens[at].IsWord("with") && tokens[at + 1].IsWord("ties")) at += 2;
  return at;
}

// A money value as a whole number, half away from zero (CAST to int's rule).
Value RoundedMoney(const Value& value) {
  if (const auto* amount = std::get_if<Decimal>(&value)) return values::Rescaled(*amount, 0);
  if (const auto* amount = std::get_if<double>(&value)) return std::round(*amount);
  return value;
}

}  // namespace

ColumnType ReadDeclaredType(const Tokens& tokens, size_t& i) {
  if (i >= tokens.size() || !tokens[i].IsName()) {
    throw tsql::SyntaxError(i < tokens.size() ? tokens[i] : Token{},
                            i > 0 ? &tokens[i - 1] : nullptr);
  }
  const Token& name = tokens[i++];
  std::vector<std::string> arguments;
  if (i < tokens.size() && tokens[i].IsSymbol("(")) {
    ++i;
    while (i < tokens.size() && !tokens[i].IsSymbol(")")) {
      if (!tokens[i].IsSymbol(",")) arguments.push_back(tokens[i].text);
      ++i;
    }
    ++i;
  }
  std::optional<ColumnType> type = tsql::ColumnTypeFromName(name.value, arguments);
  if (!type) {
    SqlError error = MakeError(2715, {"1", name.value});
    error.message().line = name.line;
    throw error;
  }
  return *type;
}

bool BatchExecutor::AssignsVariables(const tsql::Statement& statement) {
  const Tokens& tokens = statement.tokens;
  if (statement.kind != StatementKind::kSelect || tokens.size() < 4) return false;
  size_t start = SelectListStart(tokens);
  return start + 2 < tokens.size() && tokens[start].kind == TokenKind::kVariable &&
         tokens[start + 1].IsSymbol("=");
}

BatchExecutor::BatchExecutor(Session& session, ResultSink& sink)
    : session_(session), sink_(sink), table_variables_(session.Connection()) {}

BatchExecutor::~BatchExecutor() {
  sqlite3* db = session_.Connection().Handle();
  if (db == nullptr) return;
  for (const std::string& name : temp_tables_made_) {
    std::string drop = "DROP TABLE IF EXISTS temp." + tsql::QuoteSqliteName(name);
    sqlite3_exec(db, drop.c_str(), nullptr, nullptr, nullptr);
  }
}

void BatchExecutor::Run(const tsql::StatementList& statements) {
  try {
    tsql::CheckDefinitionPlacement(statements, /*in_body=*/false);
    CheckAndBindBeforeRunning(statements, /*check_syntax=*/true);
  } catch (const SqlError& error) {
    ReportError(error);
    return;
  }
  RunList(statements);
}

void BatchExecutor::RunKept(const std::shared_ptr<const tsql::StatementList>& statements) {
  kept_body_ = statements;
  try {
    // A check resting on the text alone passed once for good.
    const bool check_syntax = !session_.SyntaxPassed(statements);
    if (check_syntax) tsql::CheckDefinitionPlacement(*statements, /*in_body=*/false);
    if (CheckAndBindBeforeRunning(*statements, check_syntax) && check_syntax)
      session_.NoteSyntaxPassed(statements);
  } catch (const SqlError& error) {
    ReportError(error);
    return;
  }
  RunList(*statements);
}

std::optional<tsql::SqliteText> BatchExecutor::BindRowStatement(const tsql::Statement& statement) {
  // Bound here, where the statement binds its literals as parameters: texts
  // that differ only in them are one text, kept compiled from its second run on.
  constexpr auto kParameters = tsql::generate::Literals::kParameters;
  SessionConnection& connection = session_.Connection();
  // Read before the binding reads the catalog: a schema changed meanwhile
  // makes the kept text a stale one's, never a newer one's.
  std::optional<StatementCache::Context> context;
  BoundTexts::Place place{kept_body_, &statement};
  std::string database, schema;
  bound_context_.reset();
  // A batch's statement is kept by its shape from the second of that shape on;
  // not a body's, whose names may reach its owner's objects first.
  std::string shape;
  if (!kept_body_ && IsRowStatement(statement.kind) && procedure_.empty() &&
      !session_.Rights().InsideBody())
    shape = BoundTexts::ShapeKey(statement);
  if (!shape.empty() && !connection.Bound().ShapeSeenBefore(shape)) shape.clear();
  if ((kept_body_ || !shape.empty()) && IsRowStatement(statement.kind))
    context = connection.StatementContext();
  if (context) {
    database = connection.UnqualifiedDatabase();
    schema = connection.UnqualifiedSchema();
    BoundTexts::Present present;
    present.context = &*context;
    present.database = &database;
    present.schema = &schema;
    present.variable_type = [this](const std::string& name) -> std::optional<ColumnType> {
      auto it = session_.Variables().find(name);
      if (it == session_.Variables().end()) return std::nullopt;
      return it->second.type;
    };
    present.ansi_nulls = session_.Options().ansi_nulls;
    present.concat_null_yields_null = session_.Options().concat_null_yields_null;
    std::optional<tsql::SqliteText> kept = shape.empty()
                                               ? connection.Bound().Find(place, present)
                                               : connection.Bound().FindShape(shape, statement, present);
    if (kept) {
      bound_context_ = std::move(context);
      return kept;
    }
  }
  BoundTexts::Notes notes;
  std::optional<tsql::SqliteText> bound;
  {
    SessionConnection::Recording recording(connection, context ? &notes : nullptr);
    bound = FrontEndSelect(statement, session_, {}, kParameters);
    if (!bound) bound = FrontEndChange(statement, session_, kParameters);
  }
  if (bound && context && shape.empty()) {
    connection.Bound().Keep(place, *context, std::move(database), std::move(schema),
                            std::move(notes), *bound);
  } else if (bound && context) {
    connection.Bound().KeepShape(shape, statement, *context, std::move(database),
                                 std::move(schema), std::move(notes), *bound);
  }
  bound_context_ = std::move(context);
  return bound;
}

void BatchExecutor::CheckShapeSyntax(const tsql::Statement& statement,
                                     void (*check)(const tsql::Statement&)) {
  // The front end's parse reads a literal token's kind, never its value, so
  // every statement of one shape parses alike (a shape holds no OPTION
  // clause, whose MAXRECURSION value is checked with the syntax).
  std::string shape = BoundTexts::ShapeKey(statement);
  if (shape_made_.of == &statement) {
    shape_made_.key = shape;
    shape_made_.made = true;
  }
  if (!shape.empty() && (parsed_shapes_.count(shape) != 0 ||
                         session_.Connection().Bound().ShapeParses(shape, statement)))
    return;
  check(statement);
  if (shape.empty()) return;
  if (parsed_shapes_.size() >= kParsedShapes) parsed_shapes_.clear();
  parsed_shapes_.insert(std::move(shape));
}

bool BatchExecutor::IsPassThrough(StatementKind kind) {
  switch (kind) {
    case StatementKind::kSelect:
    case StatementKind::kInsert:
    case StatementKind::kUpdate:
    case StatementKind::kDelete:
    case StatementKind::kCreateTable:
    case StatementKind::kDropTable:
    case StatementKind::kCreateOther:
    case StatementKind::kDropOther:
    case StatementKind::kAlterTable:
    case StatementKind::kTruncateTable:
      return true;
    default:
      return false;
  }
}

bool BatchExecutor::CheckSyntax(const tsql::StatementList& statements) {
  bool textual = true;
  for (const auto& statement : statements) textual = CheckSyntax(*statement) && textual;
  return textual;
}

bool BatchExecutor::CheckSyntax(const tsql::Statement& statement) {
  if (std::optional<tsql::Statement> read = tsql::ReadDeferred(statement)) return CheckSyntax(*read);
  std::vector<tsql::Statement> dropped = tsql::SplitDropList(statement);
  bool textual = true;
  for (const tsql::Statement& each : dropped) textual = CheckSyntax(each) && textual;
  if (!dropped.empty()) return textual;
  // Only a procedure's body returns a status.
  if (statement.kind == StatementKind::kReturn && statement.tokens.size() > 1 &&
      procedure_.empty()) {
    SqlError error = MakeError(178);
    error.message().line = statement.line;
    throw error;
  }
  if (!IsPassThrough(statement.kind)) {
    textual = CheckSyntax(statement.body);
    if (statement.else_branch) textual = CheckSyntax(*statement.else_branch) && textual;
    return textual;
  }
  // Table variables and cursors are known only when the statement runs.
  if (InsertExecuteAt(statement) || tsql::CurrentOfAt(statement.tokens) ||
      !TableVariables::TablePositions(statement.tokens).empty())
    return true;
  if (statement.kind == StatementKind::kAlterTable && IsConstraintChange(statement.tokens))
    return true;
  if (statement.kind == StatementKind::kAlterTable && IsColumnAlteration(statement.tokens)) {
    tsql::ParseAlterColumn(statement.tokens);
    return true;
  }
  // Names and types are resolved when the statement runs.
  if (IsSchemaStatement(statement)) {
    CheckSchemaStatementSyntax(statement);
    return false;
  }
  // The front end's parse reads nothing but the statement.
  switch (statement.kind) {
    case StatementKind::kSelect:
      // SELECT @v = ... is taken apart when it runs.
      if (!AssignsVariables(statement)) CheckShapeSyntax(statement, CheckSelectSyntax);
      return true;
    case StatementKind::kInsert:
    case StatementKind::kUpdate:
    case StatementKind::kDelete:
      CheckShapeSyntax(statement, CheckChangeSyntax);
      return true;
    default:
      break;
  }
  // A CREATE / ALTER VIEW: its header and query. What else is left is
  // refused when it runs. A view's check is made again with each run.
  FrontEndParsesView(statement);
  return false;
}

void BatchExecutor::SendArithmeticWarnings() {
  for (ServerMessage& warning : TakeArithmeticWarnings()) {
    if (warning.procedure.empty()) warning.procedure = procedure_;
    sink_.Message(warning);
  }
}

void BatchExecutor::Done(std::optional<std::int64_t> count) {
  SendArithmeticWarnings();
  StatementDone done;
  if (!session_.NoCount()) done.row_count = count;
  sink_.Done(done);
}

void BatchExecutor::ReportError(const SqlError& error) {
  session_.LastError() = error.message().number;
  // A statement that failed changed no rows, whatever the one before did.
  session_.RowCount() = 0;
  SendArithmeticWarnings();
  ServerMessage message = error.message();
  if (message.procedure.empty()) message.procedure = procedure_;
  sink_.Message(message);
  int number = error.message().number;
  // Under XACT_ABORT the error ends the batch, not the statement: no 3621.
  const bool ends_batch = session_.Options().xact_abort && error.message().severity > 10;
  if (!ends_batch && (number == 2627 || number == 2601 || number == 515 || number == 547 ||
                      number == 1505 || number == 8152)) {
    ServerMessage terminated = FormatMessage(3621);
    terminated.line = error.message().line;
    terminated.procedure = message.procedure;
    sink_.Message(terminated);
  }
  if (number == 3728) {
    // DROP CONSTRAINT names what it could not find, then gives up.
    ServerMessage failed = FormatMessage(3727);
    failed.line = error.message().line;
    failed.procedure = message.procedure;
    sink_.Message(failed);
    session_.LastError() = 3727;
  }
  StatementDone done;
  done.error = true;
  sink_.Done(done);
}

BatchExecutor::Flow BatchExecutor::RunOne(const tsql::Statement& written) {
  if (session_.Cancelled()) throw Cancelled{};
  if (std::optional<tsql::Statement> read = tsql::ReadDeferred(written)) return RunOne(*read);
  SessionConnection::StatementScope scope(session_.Connection());
  if (std::vector<tsql::Statement> dropped = tsql::SplitDropList(written); !dropped.empty()) {
    // Each object goes on its own; @@ERROR tells of the last one that failed.
    int failed = 0;
    for (const tsql::Statement& each : dropped) {
      Flow flow = RunOne(each);
      if (session_.LastError() != 0) failed = session_.LastError();
      if (flow != Flow::kNext) return flow;
    }
    session_.LastError() = failed;
    return Flow::kNext;
  }
  std::optional<tsql::Statement> substituted;
  try {
    substituted = WithTableVariables(written);
  } catch (SqlError& error) {
    if (error.message().line <= 1) error.message().line = written.line;
    if (Trap(error)) return Flow::kAbort;
    ReportError(error);
    return Flow::kNext;
  }
  const tsql::Statement& statement = substituted ? *substituted : written;
  // CURSOR_STATUS sees the LOCAL cursors of the body whose statement runs.
  ScopedValue<const CursorMap*> cursors_in_view(session_.Cursors().local, &local_cursors_);
  SessionOptions& options = session_.Options();
  if (options.no_exec && !RunsWithoutExecution(statement)) return Flow::kNext;
  if (options.format_only) {
    UnderFormatOnly handling = FormatOnlyHandling(statement);
    if (handling == UnderFormatOnly::kSkip) return Flow::kNext;
    if (handling == UnderFormatOnly::kDescribe) return Describe(statement);
  }
  // A function's statements run inside the statement that called it: its
  // snapshot stays, and their first error fails that statement.
  if (function_returns_) return Dispatch(statement);
  try {
    if (options.implicit_transactions && session_.TranCount() == 0 &&
        StartsImplicitTransaction(statement)) {
      session_.BeginTransaction(sink_);
    }
    if (caller_ == nullptr && !trigger_context_) session_.SettleUsedDatabase();
    RefreshReadSnapshot(session_);
    Flow flow = Dispatch(statement);
    SendArithmeticWarnings();
    if (abort_callers_) return Flow::kAbort;
    if (ClearsLastError(statement.kind)) session_.LastError() = 0;
    if (ClearsRowCount(statement)) session_.RowCount() = 0;
    return flow;
  } catch (SqlError& error) {
    if (error.message().line <= 1) error.message().line = statement.line;
    session_.SyncTransactionState(&sink_);
    if (Trap(error)) return Flow::kAbort;
    ReportError(error);
    // An error that ends the batch at run time (a conversion, the nesting
    // limit) takes the transaction with it, as XACT_ABORT makes every error do.
    if (((options.xact_abort || trigger_context_) && error.message().severity > 10) ||
        ArithmeticErrorEndsBatch(options, error) || AbortsCallers(error)) {
      if (session_.TranCount() > 0) {
        RollbackKeepingTableVariables([&] { session_.RollbackTransaction(sink_, statement.line); });
      }
      abort_callers_ = true;
      return Flow::kAbort;
    }
    return AbortsBatch(error) ? Flow::kAbort : Flow::kNext;
  }
}

BatchExecutor::Flow BatchExecutor::Describe(const tsql::Statement& statement) {
  FormatOnlySink described(sink_);
  BatchExecutor inner(session_, described);
  inner.procedure_ = procedure_;
  DescribingScope scope(session_.Options(), session_.RowCountLimit());
  Flow flow = inner.RunOne(statement);
  if (inner.abort_callers_) abort_callers_ = true;
  return flow;
}

bool BatchExecutor::Condition(const tsql::Statement& statement) {
  std::optional<tsql::Tokens> substituted = table_variables_.Substituted(statement.condition);
  const tsql::Tokens& condition = substituted ? *substituted : statement.condition;
  tsql::SqliteText text = *FrontEndCondition(condition, statement.line, session_);
  FailedStatement context{nullptr, "", session_.CurrentDatabase(), statement.line};
  sqlite3* dirty = DirtyReadConnection(condition, text.sql);
  SqliteStatement query(dirty != nullptr ? dirty : session_.Connection().Handle(),
                        session_.Connection().Authorizer(), std::move(text), context, *this);
  std::optional<Value> value = query.Scalar();
  const auto* number = value ? std::get_if<std::int64_t>(&*value) : nullptr;
  return number != nullptr && *number == 1;
}

sqlite3* BatchExecutor::DirtyReadConnection(const tsql::Tokens& tokens, const std::string& sql) {
  // Without a FROM nothing but the catalog is read, as committed.
  const bool reads_table =
      std::any_of(tokens.begin(), tokens.end(), [](const Token& t) { return t.IsWord("from"); });
  if (!reads_table || ReachesTempSchema(sql)) return nullptr;
  if (ReadsUncommitted(tokens, session_.Isolation())) return session_.Connection().DirtyReadHandle();
  // A transaction that cannot renew its snapshot reads the newest commits there.
  if (SnapshotBehindCommits(session_)) return session_.Connection().FreshReadHandle();
  return nullptr;
}

BatchExecutor::Flow BatchExecutor::Dispatch(const tsql::Statement& statement) {
  for (const std::string& skipped : statement.skipped_foreign_keys)
    sink_.Message(FormatMessage(1756, {skipped}));
  if (session_.Connection().ResolvesElsewhere() && !RunsWhereNamesResolve(statement.kind))
    RefuseInOtherDatabase(statement.tokens, statement.line);
  created_owner_ = CheckOwnerPart(session_, statement);
  if (std::optional<size_t> where_at = tsql::CurrentOfAt(statement.tokens)) {
    PositionedChange(statement, *where_at);
    return Flow::kNext;
  }
  if (IsPassThrough(statement.kind)) {
    PassThrough(statement);
    if (statement.kind == StatementKind::kCreateTable) BindUserTypesOfNewTable(session_, statement);
    return Flow::kNext;
  }
  switch (statement.kind) {
    case StatementKind::kCreateProcedure:
    case StatementKind::kDropProcedure:
    case StatementKind::kCreateTrigger:
    case StatementKind::kDropTrigger:
    case StatementKind::kPermission:
      RequireWritable(session_);
      break;
    default:
      break;
  }
  switch (statement.kind) {
    case StatementKind::kUse:
      ExecuteUse(session_, statement, sink_);
      return Flow::kNext;
    case StatementKind::kCreateDatabase:
      ExecuteCreateDatabase(session_, statement, sink_);
      return Flow::kNext;
    case StatementKind::kDropDatabase:
      ExecuteDropDatabase(session_, statement, sink_);
      return Flow::kNext;
    case StatementKind::kCreateLogin:
      ExecuteCreateLogin(session_, statement, sink_);
      return Flow::kNext;
    case StatementKind::kBackup:
      ExecuteBackup(session_, statement, sink_);
      return Flow::kNext;
    case StatementKind::kRestore:
      ExecuteRestore(session_, statement, sink_);
      return Flow::kNext;
    case StatementKind::kDbcc:
      ExecuteDbcc(session_, statement, sink_);
      return Flow::kNext;
    case StatementKind::kKill:
      ExecuteKill(session_, statement, sink_);
      return Flow::kNext;
    case StatementKind::kShutdown:
      ExecuteShutdown(session_, statement, sink_);
      return Flow::kNext;
    case StatementKind::kCheckpoint:
      ExecuteCheckpoint(session_, statement, sink_);
      return Flow::kNext;
    case StatementKind::kUpdateStatistics:
      ExecuteUpdateStatistics(session_, statement, sink_);
      return Flow::kNext;
    case StatementKind::kAlterDatabase:
      ExecuteAlterDatabase(session_, statement, sink_);
      return Flow::kNext;
    case StatementKind::kPermission:
      ExecutePermission(session_, statement);
      Done();
      return Flow::kNext;
    case StatementKind::kReconfigure:
      if (statement.tokens.size() != 3 || !statement.tokens[1].IsWord("with") ||
          !statement.tokens[2].IsWord("override"))
        RefuseUnrecommendedConfiguration(session_);
      Reconfigure(session_, sink_);
      return Flow::kNext;
    case StatementKind::kDropLogin:
      ExecuteDropLogin(session_, statement, sink_);
      return Flow::kNext;
    case StatementKind::kExecute:
      Execute(statement);
      return Flow::kNext;
    case StatementKind::kPrint:
      Print(statement);
      return Flow::kNext;
    case StatementKind::kRaiserror:
      Raiserror(statement);
      return Flow::kNext;
    case StatementKind::kWaitFor:
      WaitFor(statement);
      return Flow::kNext;
    case StatementKind::kDeclare:
      if (tsql::IsCursorDeclaration(statement.tokens)) {
        DeclareCursor(statement);
      } else {
        Declare(statement);
      }
      return Flow::kNext;
    case StatementKind::kOpenCursor:
      OpenCursor(statement);
      return Flow::kNext;
    case StatementKind::kFetch:
      FetchCursor(statement);
      return Flow::kNext;
    case StatementKind::kCloseCursor:
      CloseCursor(statement);
      return Flow::kNext;
    case StatementKind::kDeallocateCursor:
      DeallocateCursor(statement);
      return Flow::kNext;
    case StatementKind::kSet:
      Set(statement);
      return Flow::kNext;
    case StatementKind::kIf: {
      bool holds = Condition(statement);
      session_.LastError() = 0;
      session_.RowCount() = 0;
      if (holds) return RunOne(*statement.body.front());
      if (statement.else_branch) return RunOne(*statement.else_branch);
      return Flow::kNext;
    }
    case StatementKind::kWhile:
      while (true) {
        bool holds = Condition(statement);
        session_.LastError() = 0;
        session_.RowCount() = 0;
        if (!holds) break;
        if (session_.Cancelled()) throw Cancelled{};
        Flow flow = RunOne(*statement.body.front());
        if (flow == Flow::kBreak) break;
        if (flow == Flow::kReturn || flow == Flow::kAbort || flow == Flow::kGoto) return flow;
      }
      return Flow::kNext;
    case StatementKind::kBlock:
      return RunList(statement.body);
    case StatementKind::kTryCatch:
      return RunTryCatch(statement);
    case StatementKind::kBeginTransaction:
    case StatementKind::kCommit:
    case StatementKind::kRollback:
    case StatementKind::kSaveTransaction:
      TransactionStatement(statement);
      return Flow::kNext;
    case StatementKind::kCreateProcedure: {
      // Like SQL Server, refuse a body with syntax errors when it is created.
      tsql::ProcedureDefinition definition = tsql::ParseProcedureDefinition(statement.tokens);
      bool alter = statement.tokens.front().IsWord("alter");
      RequireDefinitionRight(definition.database, alter ? definition.name : std::string(),
                             alter ? Access::kAlter : Access::kCreateProcedure);
      BatchExecutor body(session_, sink_);
      body.procedure_ = definition.name;
      tsql::StatementList statements = tsql::ParseBatch(definition.body);
      tsql::CheckDefinitionPlacement(statements, /*in_body=*/true);
      body.CheckSyntax(statements);
      body.BindBodyBeforeStoring(definition.database, DefinedBodyOwner(definition.name, alter),
                                 definition.parameters, statements);
      DefineProcedure(session_, statement, tsql::DefinitionText(source_text_, statement.tokens));
      if (!alter) {
        GrantToCreator(definition.name, {Access::kExecute},
                       session_.Connection().SchemaOf(definition.database));
      }
      // Every session's rights hold the database's procedures: a new one is
      // nobody's to run until granted.
      session_.Engine().SecurityChanged();
      Done();
      return Flow::kNext;
    }
    case StatementKind::kCreateFunction: {
      tsql::FunctionDefinition definition = tsql::ParseFunctionDefinition(statement.tokens);
      bool alter = statement.tokens.front().IsWord("alter");
      RequireDefinitionRight(definition.database, alter ? definition.name : std::string(),
                             alter ? Access::kAlter : Access::kCreateFunction);
      BatchExecutor body(session_, sink_);
      body.procedure_ = definition.name;
      tsql::StatementList statements = tsql::ParseBatch(definition.body);
      tsql::CheckDefinitionPlacement(statements, /*in_body=*/true);
      body.CheckSyntax(statements);
      RefuseTempTables(definition.body);
      if (definition.kind != tsql::FunctionKind::kInlineTable) CheckFunctionBody(statements);
      body.BindBodyBeforeStoring(definition.database, DefinedBodyOwner(definition.name, alter),
                                 definition.parameters, statements);
      DefineFunction(session_, statement, tsql::DefinitionText(source_text_, statement.tokens));
      session_.Engine().SecurityChanged();  // as for a procedure
      if (!alter) {
        GrantToCreator(
            definition.name,
            {definition.kind == tsql::FunctionKind::kScalar ? Access::kExecute : Access::kSelect},
            session_.Connection().SchemaOf(definition.database));
      }
      Done();
      return Flow::kNext;
    }
    case StatementKind::kDropFunction:
      DropFunctions(session_, statement);
      Done();
      return Flow::kNext;
    case StatementKind::kCreateTrigger:
      CreateTrigger(statement);
      Done();
      return Flow::kNext;
    case StatementKind::kDropTrigger:
      DropTriggers(session_, statement);
      {
        StatementAuthorizer::EngineScope engine_sql(session_.Connection().Authorizer());
        ForgetLostItemProperties(session_.Connection().Handle(), "main");
      }
      Done();
      return Flow::kNext;
    case StatementKind::kDropProcedure:
      DropProcedures(session_, statement);
      Done();
      return Flow::kNext;
    case StatementKind::kReturn:
      if (function_returns_) {
        if (statement.tokens.size() < 2) return Flow::kReturn;
        function_result_ = ConvertForType(
            Evaluate(Slice(statement.tokens, 1, statement.tokens.size()), statement.line),
            *function_returns_);
        return Flow::kReturn;
      }
      if (statement.tokens.size() > 1) {
        Value status = ConvertForType(
            Evaluate(Slice(statement.tokens, 1, statement.tokens.size()), statement.line),
            ColumnType{SqlType::kInt});
        if (IsNull(status)) {
          // A NULL status is sent back as 0, with a warning naming the procedure.
          ServerMessage warning = FormatMessage(282, {procedure_});
          warning.line = statement.line;
          warning.procedure = procedure_;
          sink_.Message(warning);
          return_status_ = 0;
        } else {
          return_status_ = static_cast<int>(std::get<std::int64_t>(status));
        }
      }
      return Flow::kReturn;
    case StatementKind::kBreak:
      return Flow::kBreak;
    case StatementKind::kContinue:
      return Flow::kContinue;
    case StatementKind::kGoto:
      goto_label_ = statement.tokens[1].text;
      return Flow::kGoto;
    case StatementKind::kLabel:
      return Flow::kNext;
    default:
      break;
  }
  if (statement.kind == StatementKind::kUnsupported &&
      (RunRuleOrDefaultStatement(session_, statement, sink_) || TextPointerStatement(statement))) {
    return Flow::kNext;
  }
  const Tokens& tokens = statement.tokens;
  throw tsql::SyntaxError(tokens.size() > 1 ? tokens[1] : tokens.front(), &tokens.front());
}

// SELECT @a = expr [, @b = expr] [FROM ...]: the last row's values go into
// the variables; no rows reach the client.
BatchExecutor::AssignedSelect BatchExecutor::SelectOfAssignments(
    const tsql::Statement& statement) {
  const Tokens& tokens = statement.tokens;
  AssignedSelect assigned;
  tsql::Statement& select = assigned.select;
  select.kind = StatementKind::kSelect;
  select.line = statement.line;
  select.with = statement.with;
  std::vector<std::string>& targets = assigned.targets;
  int depth = 0;
  const size_t start = SelectListStart(tokens);
  bool item_start = start == 1, in_list = true;
  bool& reads_rows = assigned.reads_rows;
  // An item assigned to an integer variable is read through CAST to its type,
  // which rounds money and cuts other numbers as SET does.
  // (Not under DISTINCT, whose ORDER BY must repeat the items as written.)
  std::optional<size_t> item_begin;
  const auto list_start = tokens.begin() + static_cast<std::ptrdiff_t>(std::min(start, tokens.size()));
  const bool distinct = assigned.distinct = std::any_of(
      tokens.begin(), list_start, [](const Token& t) { return t.IsWord("distinct"); });
  auto end_item = [&] {
    if (!item_begin || distinct) return;
    auto variable = session_.Variables().find(targets.back());
    const size_t begin = *item_begin;
    item_begin.reset();
    if (variable == session_.Variables().end() ||
        !IsWholeNumberType(variable->second.type.type))
      return;
    auto first = select.tokens.begin() + static_cast<std::ptrdiff_t>(begin);
    Tokens item(first, select.tokens.end());
    select.tokens.erase(first, select.tokens.end());
    Tokens read = AssignedExpression(std::move(item), variable->second.type, statement.line);
    select.tokens.insert(select.tokens.end(), read.begin(), read.end());
  };
  for (size_t i = 0; i < tokens.size(); ++i) {
    const Token& token = tokens[i];
    if (in_list && depth == 0 && item_start && i >= start) {
      if (token.kind != TokenKind::kVariable || i + 1 >= tokens.size() ||
          !tokens[i + 1].IsSymbol("=")) {
        throw MakeError(141);
      }
      targets.push_back(tsql::ToLower(token.text));
      item_begin = select.tokens.size();
      ++i;
      item_start = false;
      continue;
    }
    if (token.IsSymbol("(")) ++depth;
    if (token.IsSymbol(")")) --depth;
    if (depth == 0 && token.IsAnyWord({"from", "where", "group", "order", "having", "union"})) {
      if (in_list) end_item();
      in_list = false;
      if (token.IsWord("from")) reads_rows = true;
    }
    item_start = in_list && depth == 0 && (i + 1 == start || (i >= start && token.IsSymbol(",")));
    if (item_start && i >= start) end_item();
    select.tokens.push_back(token);
  }
  if (in_list) end_item();
  return assigned;
}

bool BatchExecutor::AssignFromSelect(const tsql::Statement& statement) {
  if (!AssignsVariables(statement)) return false;
  AssignedSelect assigned = SelectOfAssignments(statement);
  const tsql::Statement& select = assigned.select;
  const std::vector<std::string>& targets = assigned.targets;
  const bool distinct = assigned.distinct;
  for (const std::string& target : targets) {
    if (session_.Variables().count(target) == 0) throw MakeError(137, {target});
  }
  // Each row's values read the variables as the rows before it left them
  // (SELECT @total = @total + amount), so they are assigned as each row comes.
  tsql::SqliteText text = *FrontEndSelect(select, session_, targets);
  // What the binder says of each item's type decides two things the rows
  // alone do not: under DISTINCT (whose items stay as written) money is
  // rounded into an integer variable as CAST rounds it, and a char(n) value
  // keeps its blanks in a varchar variable.
  std::vector<bool> rounds_money(targets.size(), false);
  std::vector<std::optional<ColumnType>> padded_to(targets.size());
  std::vector<std::optional<ColumnType>> item_types(targets.size());
  for (size_t k = 0; k < targets.size(); ++k) {
    std::optional<ColumnType>& item = item_types[k];
    if (text.typed_result && k < text.result_columns.size()) {
      item = text.result_columns[k].type;
    } else if (k < text.column_types.size()) {
      item = text.column_types[k];
    }
    auto variable = session_.Variables().find(targets[k]);
    if (!item || variable == session_.Variables().end()) continue;
    const SqlType to = variable->second.type.type;
    rounds_money[k] = distinct &&
                      (item->type == SqlType::kMoney || item->type == SqlType::kSmallMoney) &&
                      IsWholeNumberType(to);
    if ((item->type == SqlType::kChar || item->type == SqlType::kNChar) &&
        (to == SqlType::kVarChar || to == SqlType::kNVarChar))
      padded_to[k] = item;
  }
  FailedStatement context{nullptr, "", session_.CurrentDatabase(), statement.line};
  SessionConnection& connection = session_.Connection();
  sqlite3* dirty = DirtyReadConnection(select.tokens, text.sql);
  sqlite3* db = dirty != nullptr ? dirty : connection.Handle();
  PerRowVariables live(db, session_.Variables(), text);
  // Kept statements belong to the session's own connection, not the dirty one.
  std::optional<StatementReuse> reuse;
  if (dirty == nullptr && connection.Statements().SeenBefore(text.sql)) {
    if (std::optional<StatementCache::Context> now = connection.StatementContext())
      reuse = StatementReuse{&connection.Statements(), std::move(*now)};
  }
  SqliteStatement query(db, connection.Authorizer(), std::move(text), context, *this, nullptr,
                        std::move(reuse));
  session_.TakeNullEliminated();
  std::int64_t rows = query.ForEachRow([&](sqlite3_stmt*) {
    for (size_t k = 0; k < targets.size(); ++k) {
      Variable& variable = session_.Variables()[targets[k]];
      Value value = query.RowValue(static_cast<int>(k));
      if (rounds_money[k]) value = RoundedMoney(value);
      if (padded_to[k]) value = BlankPadded(std::move(value), *padded_to[k]);
      variable.value = AssignedValue(value, variable.type, item_types[k]);
    }
  });
  query.KeepForReuse();
  if (session_.TakeNullEliminated()) sink_.Message(FormatMessage(8153));
  session_.RowCount() = rows;
  if (assigned.reads_rows) Done(rows);
  return true;
}

void BatchExecutor::PassThrough(const tsql::Statement& statement) {
  if (AssignFromSelect(statement)) return;
  if (std::optional<size_t> execute_at = InsertExecuteAt(statement)) {
    InsertFromExecute(statement, *execute_at);
    return;
  }
  SessionConnection& connection = session_.Connection();
  // The write lock comes before anything reads: the identity rules and the
  // DDL steps below read the catalog before they write.
  // A change of a view writes the table under it, maybe another database's:
  // its file is the one written (locked, read-only or not), though names
  // stay the named database's.
  std::string named_schema = "temp";
  std::string written_schema = "temp";
  if (std::optional<std::string> written = WrittenDatabase(statement); written && *written != "#") {
    named_schema = connection.SchemaOf(*written);
    written_schema = SchemaWritten(statement, named_schema);
    LockForWrite(session_, written_schema);
  }
  WriteGate gate(session_, written_schema);
  std::optional<MaintainedTable> truncated;
  if (statement.kind == StatementKind::kTruncateTable)
    truncated = CheckTruncation(session_, statement);
  if (std::optional<std::string> view = AlteredView(statement)) {
    AlterView(statement, *view);
    return;
  }
  if (std::optional<SelectInto> into = FrontEndSelectInto(statement, session_)) {
    // The new table's catalog rows and rights go to the session's database.
    if (connection.ResolvesElsewhere() && written_schema != "temp")
      RefuseInOtherDatabase(statement.tokens, statement.line);
    SelectIntoNewTable(statement, *into, written_schema);
    return;
  }
  if (statement.drop_existing) {
    ReplaceIndex(connection.Handle(), statement, connection);
    KeepIgnoredDuplicateTrigger(statement, true);
    Done(std::nullopt);
    return;
  }
  bool alters_column =
      statement.kind == StatementKind::kAlterTable && IsColumnAlteration(statement.tokens);
  if (alters_column ||
      (statement.kind == StatementKind::kAlterTable && IsConstraintChange(statement.tokens))) {
    // The engine rewrites the table itself here, past the authorizer.
    tsql::TableReference table = tsql::TableOf(statement);
    if (IsInternalName(table.name)) throw MakeError(208, {table.name});
    session_.Rights().RequireIn(table.database, table.name, Access::kAlter);
    SessionCatalog catalog(session_);
    if (alters_column) {
      // It makes the column's normalising triggers again.
      StatementAuthorizer::EngineScope engine_sql(connection.Authorizer());
      AlterColumn(connection.Handle(), statement.tokens, connection, catalog,
                  session_.CurrentDatabase(), statement.line, [this](const SqlError& error) {
                    ServerMessage message = error.message();
                    if (message.procedure.empty()) message.procedure = procedure_;
                    sink_.Message(message);
                  },
                  session_.Options().ansi_padding);
    } else {
      ChangeConstraint(connection.Handle(), statement.tokens, connection, catalog,
                       session_.CurrentDatabase());
    }
    if (table.database.empty()) {
      StatementAuthorizer::EngineScope engine_sql(connection.Authorizer());
      ForgetLostItemProperties(connection.Handle(), "main");
    }
    session_.RowCount() = 0;
    Done(std::nullopt);
    return;
  }
  if (statement.kind == StatementKind::kInsert) {
    std::optional<Tokens> listed = ApplyIdentityRules(connection, statement.tokens,
                                                      session_.IdentityInsertTable(), named_schema);
    if (listed) {
      tsql::Statement explicit_insert;
      explicit_insert.kind = statement.kind;
      explicit_insert.line = statement.line;
      explicit_insert.tokens = std::move(*listed);
      explicit_insert.with = statement.with;
      PassThrough(explicit_insert);
      return;
    }
  }
  // SELECT, INSERT, UPDATE and DELETE run only as the front end takes them.
  std::optional<tsql::SqliteText> bound = BindRowStatement(statement);
  // Nothing between here and its compilation changes a schema or the rules.
  std::optional<StatementCache::Context> bound_context = std::move(bound_context_);
  bound_context_.reset();
  if (!bound)
    bound = FrontEndCreateView(statement, session_,
                               tsql::DefinitionText(source_text_, statement.tokens));
  // Schema statements SQLite carries out in several steps run the earlier ones first.
  std::vector<tsql::SqliteText> earlier_steps;
  AppendedColumns appended;
  if (!bound && IsSchemaStatement(statement)) {
    SessionCatalog catalog(session_);
    earlier_steps =
        SchemaStatementSql(statement, connection.Handle(), connection, catalog, &appended,
                           session_.Options().ansi_padding);
    if (earlier_steps.empty()) tsql::SyntaxErrorAt(statement.tokens, 0);
    bound = std::move(earlier_steps.back());
    earlier_steps.pop_back();
  }
  if (!bound && connection.ResolvesElsewhere())
    RefuseInOtherDatabase(statement.tokens, statement.line);
  // Every form the engine runs was taken above: this one is no statement of T-SQL's.
  if (!bound) tsql::SyntaxErrorAt(statement.tokens, 0);
  tsql::SqliteText text = std::move(*bound);
  // SET ROWCOUNT stops UPDATE and DELETE after that many rows, as SQLite's
  // LIMIT on them does (Debian's library is built with it).
  if ((statement.kind == StatementKind::kUpdate || statement.kind == StatementKind::kDelete) &&
      session_.RowCountLimit() > 0 && sqlite3_compileoption_used("ENABLE_UPDATE_DELETE_LIMIT")) {
    text.sql += " LIMIT " + std::to_string(session_.RowCountLimit());
  }
  if (statement.kind == StatementKind::kInsert && session_.RowCountLimit() > 0)
    LimitInsertedRows(text.sql, text.statement_offset, session_.RowCountLimit());
  FailedStatement context{nullptr, VerbOf(statement.kind),
                          written_schema == named_schema
                              ? ConflictDatabase(session_, statement)
                              : ConflictDatabaseOf(session_, written_schema),
                          statement.line};
  bool tracks = statement.kind == StatementKind::kCreateTable ||
                statement.kind == StatementKind::kDropTable ||
                statement.kind == StatementKind::kAlterTable;
  sqlite3* db = connection.Handle();
  // An INSERT reads the identity it assigned after it ran, before anyone
  // else may insert; a statement's triggers run in its transaction. An
  // INSERT's begins before its triggers are looked for, which then come
  // from SQLite's copy of the schema (known_tables.h).
  std::optional<StatementTransaction> own_transaction;
  if (statement.kind == StatementKind::kInsert) own_transaction.emplace(db, written_schema, true);
  std::optional<ChangeTriggers> triggers =
      TriggersOfChange(statement, named_schema, text.changed_table);
  if (!own_transaction)
    own_transaction.emplace(db, written_schema, triggers.has_value() || truncated.has_value());
  // An INSTEAD OF trigger sees the rows the statement would change, which
  // it changes on trial only.
  const char* savepoint = tracks                          ? "sqlengine_ddl"
                          : triggers && triggers->instead ? "sqlengine_instead_of"
                                                          : nullptr;
  if (savepoint != nullptr) {
    catalog::Exec(db, std::string("SAVEPOINT ") + savepoint);
    TakeWriteLockFirst(db, written_schema);
  }
  std::int64_t rows = 0;
  RowImages inserted, deleted;
  // The indexes a DROP INDEX drops, named before they go.
  std::vector<std::pair<std::string, std::string>> dropped_indexes = DroppedIndexes(statement);
  RefuseRepeatedNullKey(statement);
  if (statement.kind == StatementKind::kInsert) TakeIgnoredDuplicate();
  std::optional<IdentityValuesTaken> identities_taken;
  try {
    if (statement.kind == StatementKind::kAlterTable) ForgetDroppedColumns(statement);
    if (!appended.elements.empty()) {
      // The engine writes the definition itself, past the authorizer.
      tsql::TableReference table = tsql::TableOf(statement);
      if (IsInternalName(table.name)) throw MakeError(208, {table.name});
      session_.Rights().RequireIn(table.database, table.name, Access::kAlter);
      StatementAuthorizer::EngineScope engine_sql(connection.Authorizer());
      AppendColumns(db, appended.schema, appended.table, appended.elements);
    }
    for (tsql::SqliteText& step : earlier_steps)
      SqliteStatement(db, connection.Authorizer(), std::move(step), context, *this).Run();
    // The table an INSERT writes, read from its text once for both uses.
    std::optional<WrittenName> insert_target;
    if (statement.kind == StatementKind::kInsert &&
        text.statement_offset < text.sql.size()) {
      insert_target = NameWritten(std::string_view(text.sql).substr(text.statement_offset));
      identities_taken.emplace(db, statement.tokens, *insert_target);
    }
    std::optional<RowChangeCapture> capture;
    std::optional<ViewChangeCapture> view_capture;
    if (triggers && triggers->on_view) {
      StatementAuthorizer::EngineScope engine_sql(connection.Authorizer());
      view_capture.emplace(db, triggers->schema, triggers->table);
    } else if (triggers) {
      capture.emplace(db, triggers->schema, triggers->table);
    }
    std::optional<RowGuardTrigger> guard, insert_guard;
    if (text.row_guard) {
      StatementAuthorizer::EngineScope engine_sql(connection.Authorizer());
      guard.emplace(db, *text.row_guard, statement.kind == StatementKind::kInsert);
    }
    // A dirty read runs on the session's second connection, which cannot
    // see its temporary tables; one that needs them reads committed rows.
    sqlite3* dirty = statement.kind == StatementKind::kSelect
                         ? DirtyReadConnection(statement.tokens, text.sql)
                         : nullptr;
    std::optional<PerRowVariables> per_row;
    // The variables as they were, for running the rows again.
    std::optional<std::map<std::string, Variable>> variables_before;
    if (!text.row_values.empty()) {
      per_row.emplace(db, session_.Variables(), text);
      if (statement.kind == StatementKind::kUpdate) variables_before = session_.Variables();
    }
    std::optional<tsql::SqliteText::RowGuard> row_guard = text.row_guard;
    bool redoes_keys =
        statement.kind == StatementKind::kUpdate && savepoint == nullptr && !view_capture;
    // A plain query or row change may come compiled from an earlier run, and
    // is kept for the next; one that makes its own temporary SQLite objects
    // around it (triggers' row captures, row guards) is compiled each time.
    std::optional<StatementReuse> reuse;
    if (IsRowStatement(statement.kind) && !dirty && !tracks && savepoint == nullptr && !triggers &&
        !text.row_guard && earlier_steps.empty() &&
        connection.Statements().SeenBefore(text.sql)) {
      std::optional<StatementCache::Context> now =
          bound_context ? std::move(bound_context) : connection.StatementContext();
      if (now) reuse = StatementReuse{&connection.Statements(), std::move(*now)};
    }
    // FOR XML: the client is sent the rows as XML.
    std::optional<ForXmlResult> xml;
    if (text.for_xml) xml.emplace(sink_, *text.for_xml);
    ResultSink& out = xml ? static_cast<ResultSink&>(*xml) : sink_;
    SqliteStatement sqlite(dirty ? dirty : db, connection.Authorizer(),
                           std::move(text), context, *this,
                           dirty ? nullptr : &connection.SyntaxChecked(), std::move(reuse));
    sqlite.WarnOfSkippedNulls([this] { return session_.TakeNullEliminated(); });
    if (dirty) {
      // Read whole before the client sees a row: while it reads, the statement holds the
      // writer's page cache at one commit, and a slow client must not keep it there.
      CapturedResult read(sink_);
      rows = sqlite.Stream(read, session_.RowCountLimit());
      sqlite.Reset();
      if (read.Columns()) {
        out.BeginResult(*read.Columns());
        for (const Row& row : read.Rows()) out.AddRow(row);
      }
    } else {
      try {
        rows = sqlite.Stream(
            out, statement.kind == StatementKind::kSelect ? session_.RowCountLimit() : 0);
      } catch (const SqlError& error) {
        // SQLite checks keys row by row; a shift or swap of keys whose end
        // state holds each key once is applied again as one change.
        int number = error.message().number;
        if (!redoes_keys || (number != 2627 && number != 2601)) throw;
        sqlite.Reset();
        if (capture) {
          capture.reset();
          capture.emplace(db, triggers->schema, triggers->table);
        }
        if (variables_before) session_.Variables() = *variables_before;
        // Rows taken out go back in as INSERTs, which the view's guard then
        // checks as well.
        if (guard) {
          StatementAuthorizer::EngineScope engine_sql(connection.Authorizer());
          insert_guard.emplace(db, *row_guard, true);
        }
        rows = ApplyUpdateAsOne(statement, named_schema, context, error);
      }
    }
    if (xml) rows = xml->Finish();
    sqlite.KeepForReuse();
    insert_guard.reset();
    guard.reset();
    if (truncated) {
      StatementAuthorizer::EngineScope engine_sql(connection.Authorizer());
      RestartIdentity(db, truncated->schema, truncated->name);
    }
    if (capture) {
      inserted = capture->ReadNewRows();
      deleted = std::move(capture->OldRows());
    }
    if (view_capture) {
      inserted = view_capture->NewRows();
      deleted = view_capture->OldRows();
      // SQLite counts no change of a view: the rows it would change count.
      rows = static_cast<std::int64_t>(std::max(inserted.size(), deleted.size()));
    }
    if (triggers && triggers->instead) {
      catalog::Exec(db, std::string("ROLLBACK TO ") + savepoint + "; RELEASE " + savepoint);
    } else if (insert_target && rows > 0) {
      session_.RecordIdentity(AssignedIdentity(db, *insert_target));
    }
    if (tracks) {
      TrackObject(statement);
      catalog::Exec(db, "RELEASE sqlengine_ddl");
    }
    KeepIgnoredDuplicateTrigger(statement, false);
    if (!dropped_indexes.empty()) {
      StatementAuthorizer::EngineScope engine_sql(connection.Authorizer());
      for (const auto& [schema, stored] : dropped_indexes)
        StopIgnoringDuplicateKeys(db, schema, stored);
      if (std::optional<std::vector<tsql::DroppedIndexSyntax>> indexes =
              tsql::ParseDropIndex(statement.tokens)) {
        for (const tsql::DroppedIndexSyntax& index : *indexes)
          KeepNullKeysUnique(db, SchemaOfTable(index.table, connection), index.table.Last());
      }
    }
    if (ForgetDroppedObjects(db, written_schema, statement)) session_.Engine().SecurityChanged();
    if (statement.kind == StatementKind::kAlterTable || !dropped_indexes.empty()) {
      StatementAuthorizer::EngineScope engine_sql(connection.Authorizer());
      ForgetLostItemProperties(db, written_schema);
    }
    if (std::optional<std::string> view = CreatedView(statement)) {
      GrantToCreator(*view, {Access::kSelect, Access::kInsert, Access::kUpdate, Access::kDelete,
                             Access::kReferences});
    }
  } catch (...) {
    if (savepoint != nullptr && sqlite3_get_autocommit(db) == 0) {
      sqlite3_exec(db, (std::string("ROLLBACK TO ") + savepoint + "; RELEASE " + savepoint).c_str(),
                   nullptr, nullptr, nullptr);
    }
    if (identities_taken) {
      own_transaction.reset();
      identities_taken->KeepAfterFailure(std::current_exception(), session_.IdentityInsertTable());
    }
    throw;
  }
  if (triggers && !FireTriggers(*triggers, inserted, deleted, rows, statement.line)) {
    abort_callers_ = true;
    return;
  }
  own_transaction->Commit();
  if (statement.kind == StatementKind::kInsert && TakeIgnoredDuplicate())
    sink_.Message(FormatMessage(3604));
  session_.RowCount() = rows;
  Done(CountsRows(statement.kind) ? std::optional<std::int64_t>(rows) : std::nullopt);
}

std::int64_t BatchExecutor::ApplyUpdateAsOne(const tsql::Statement& statement,
                                             const std::string& named_schema,
                                             const FailedStatement& context,
                                             const SqlError& conflict) {
  SessionConnection& connection = session_.Connection();
  sqlite3* db = connection.Handle();
  std::optional<ChangedObject> changed = ObjectChanged(statement, named_schema, false);
  if (!changed) throw conflict;
  SqliteTable table{changed->schema, changed->name};
  if (changed->view) {
    std::optional<SqliteTable> under =
        TableWrittenThrough(connection, changed->schema, changed->name);
    if (!under) throw conflict;
    table = *under;
  }
  std::optional<UpdateRows> update = FrontEndUpdateRows(statement, session_);
  if (!update) throw conflict;
  bool referenced = false, may_take_out = false;
  {
    StatementAuthorizer::EngineScope engine_sql(connection.Authorizer());
    referenced = IsReferenced(db, table.schema, table.table);
    may_take_out = MayApplyAsOne(db, table.schema, table.table, update->columns);
  }
  if (!referenced && !may_take_out) throw conflict;
  // Outside a transaction the reads and writes below are one, holding the
  // write lock from its start.
  StatementTransaction own_transaction(db, table.schema, true);
  // The rows and their new values, read before anything changes; a row
  // several rows of the sources match takes the first one's values.
  RowImages rows;
  std::unordered_set<sqlite3_int64> seen;
  std::int64_t limit = session_.RowCountLimit();
  SqliteStatement query(db, connection.Authorizer(), std::move(update->query), context, *this);
  query.ForEachRow([&](sqlite3_stmt* row) {
    if (limit > 0 && static_cast<std::int64_t>(rows.size()) >= limit) return;
    if (!seen.insert(sqlite3_column_int64(row, 0)).second) return;
    RowValues values;
    for (int k = 0; k < sqlite3_column_count(row); ++k) values.Add(sqlite3_column_value(row, k));
    rows.push_back(std::move(values));
  });
  query.Reset();
  StatementAuthorizer::EngineScope engine_sql(connection.Authorizer());
  // Rows other rows refer to change in place, in an order that keeps each
  // key once, so the references follow them; a swap of keys needs the rows
  // taken out, which only a table no reference acts on allows.
  std::optional<std::int64_t> changed_rows;
  if (referenced)
    changed_rows =
        ApplyChangedRowsInOrder(db, table.schema, table.table, update->columns, rows, context);
  if (!changed_rows && !may_take_out) throw conflict;
  if (!changed_rows)
    changed_rows =
        ApplyChangedRows(db, table.schema, table.table, update->columns, rows, context, conflict);
  own_transaction.Commit();
  return *changed_rows;
}

std::vector<std::pair<std::string, std::string>> BatchExecutor::DroppedIndexes(
    const tsql::Statement& statement) {
  std::vector<std::pair<std::string, std::string>> found;
  if (statement.kind != StatementKind::kDropOther) return found;
  std::optional<std::vector<tsql::DroppedIndexSyntax>> dropped =
      tsql::ParseDropIndex(statement.tokens);
  if (!dropped) return found;
  SessionConnection& connection = session_.Connection();
  for (const tsql::DroppedIndexSyntax& index : *dropped) {
    std::string schema = SchemaOfTable(index.table, connection);
    if (std::optional<std::string> stored =
            StoredIndexName(connection.Handle(), schema, index.table.Last(), index.index))
      found.emplace_back(schema, *stored);
  }
  return found;
}

void BatchExecutor::KeepIgnoredDuplicateTrigger(const tsql::Statement& statement,
                                                bool replaced) {
  if (statement.kind != StatementKind::kCreateOther) return;
  std::optional<tsql::CreateIndexSyntax> index = tsql::ParseCreateIndex(statement.tokens);
  if (!index) return;
  SessionConnection& connection = session_.Connection();
  sqlite3* db = connection.Handle();
  std::string schema = SchemaOfTable(index->table, connection);
  std::optional<std::string> stored =
      StoredIndexName(db, schema, index->table.Last(), index->name.value);
  if (!stored) return;
  StatementAuthorizer::EngineScope engine_sql(connection.Authorizer());
  if (replaced) StopIgnoringDuplicateKeys(db, schema, *stored);
  KeepNullKeysUnique(db, schema, index->table.Last());
  if (!index->unique || !index->ignore_dup_key) return;
  std::optional<TableDefinition> table = ReadTableDefinition(db, schema, index->table.Last());
  if (!table) return;
  std::vector<std::string> columns;
  for (const tsql::IndexColumnSyntax& column : index->columns) columns.push_back(column.name);
  IgnoreDuplicateKeys(db, schema, table->table, *stored, columns);
}

void BatchExecutor::RefuseRepeatedNullKey(const tsql::Statement& statement) {
  if (statement.kind != StatementKind::kCreateOther) return;
  std::optional<tsql::CreateIndexSyntax> index = tsql::ParseCreateIndex(statement.tokens);
  if (!index || !index->unique) return;
  SessionConnection& connection = session_.Connection();
  std::string schema = SchemaOfTable(index->table, connection);
  std::optional<TableDefinition> table =
      ReadTableDefinition(connection.Handle(), schema, index->table.Last());
  if (!table) return;
  std::vector<std::string> columns;
  for (const tsql::IndexColumnSyntax& column : index->columns) columns.push_back(column.name);
  StatementAuthorizer::EngineScope engine_sql(connection.Authorizer());
  std::string key = RepeatedNullKey(connection.Handle(), schema, table->table, columns);
  if (!key.empty()) throw MakeError(1505, {"2", key});
}

void BatchExecutor::SelectIntoNewTable(const tsql::Statement& statement, const SelectInto& into,
                                       const std::string& written_schema) {
  SessionConnection& connection = session_.Connection();
  sqlite3* db = connection.Handle();
  tsql::StatementList parsed = tsql::ParseBatch(CreateTableText(into));
  const tsql::Statement& create = *parsed.front();
  StatementTransaction own_transaction(db, written_schema, true);
  catalog::Exec(db, "SAVEPOINT sqlengine_ddl");
  std::int64_t rows = 0;
  try {
    TakeWriteLockFirst(db, written_schema);
    // The new table's owner part is checked and recorded as CREATE TABLE's.
    created_owner_ = CheckOwnerPart(session_, create);
    FailedStatement create_context{nullptr, VerbOf(create.kind), session_.CurrentDatabase(),
                                   statement.line};
    SessionCatalog catalog(session_);
    SqliteStatement(db, connection.Authorizer(), TypedCreateTable(create, connection, catalog),
                    create_context, *this)
        .Run();
    TrackObject(create);
    std::optional<tsql::bind::TableShape> table = SessionCatalog(session_).FindTable(into.table);
    if (!table) throw std::runtime_error("the table SELECT INTO created is not visible");
    // A column IDENTITY() makes is left to the table to number.
    std::string columns;
    for (size_t k = 0; k < into.columns.size(); ++k) {
      if (into.made_identity && into.made_identity->column == k) continue;
      columns += (columns.empty() ? "" : ", ") + tsql::QuoteSqliteName(into.columns[k].name);
    }
    tsql::SqliteText fill = into.query;
    if (into.made_identity)
      fill.sql = "SELECT " + columns + " FROM (" + fill.sql + ") AS \"sqlengine_into\"";
    fill.sql = "INSERT INTO " + table->sql + " (" + columns + ") " + fill.sql;
    fill.typed_result = false;
    fill.result_columns.clear();
    FailedStatement fill_context{nullptr, VerbOf(StatementKind::kInsert),
                                 session_.CurrentDatabase(), statement.line};
    std::string insert_sql = fill.sql;
    rows = SqliteStatement(db, connection.Authorizer(), std::move(fill), fill_context, *this).Run();
    ContinueKeptIdentity(db, table->schema, table->name);
    // SELECT INTO sets @@IDENTITY and SCOPE_IDENTITY() as an INSERT does.
    if (rows > 0) session_.RecordIdentity(AssignedIdentity(db, insert_sql));
    catalog::Exec(db, "RELEASE sqlengine_ddl");
  } catch (...) {
    if (sqlite3_get_autocommit(db) == 0) {
      sqlite3_exec(db, "ROLLBACK TO sqlengine_ddl; RELEASE sqlengine_ddl", nullptr, nullptr,
                   nullptr);
    }
    throw;
  }
  own_transaction.Commit();
  session_.RowCount() = rows;
  Done(rows);
}

void BatchExecutor::ForgetDroppedColumns(const tsql::Statement& statement) {
  const Tokens& tokens = statement.tokens;
  size_t at = 2;
  while (at + 1 < tokens.size() && !(tokens[at].IsWord("drop") && tokens[at + 1].IsWord("column")))
    ++at;
  if (at + 1 >= tokens.size()) return;
  tsql::TableReference table = tsql::TableOf(statement);
  if (table.name.empty()) return;
  std::string schema = session_.Connection().SchemaOf(table.database);
  for (size_t k = at + 2; k < tokens.size(); ++k) {
    if (tokens[k].IsName())
      ForgetColumn(session_.Connection().Handle(), schema, table.name, tokens[k].value);
  }
}

void BatchExecutor::TrackObject(const tsql::Statement& statement) {
  tsql::TableReference table = tsql::TableOf(statement);
  if (table.name.empty()) return;
  if (tsql::IsLocalTempName(table.name)) {
    // A temporary table keeps its values in form and numbers its identity
    // as any table does; it has no catalog rows and no rights of its own.
    sqlite3* db = session_.Connection().Handle();
    if (statement.kind == StatementKind::kCreateTable && drops_its_temp_tables_)
      temp_tables_made_.push_back(table.name);
    if (statement.kind == StatementKind::kCreateTable)
      ApplyIdentitySeed(db, "temp", table.name, statement.tokens);
    if (statement.kind == StatementKind::kCreateTable ||
        statement.kind == StatementKind::kAlterTable) {
      NormaliseColumns(db, "temp", table.name);
      KeepNullKeysUnique(db, "temp", table.name);
      if (!makes_table_variable_) {
        StatementAuthorizer::EngineScope engine_sql(session_.Connection().Authorizer());
        RefuseTakenTempConstraintNames(db, table.name);
      }
    }
    if (statement.kind == StatementKind::kCreateTable && StoresExactForm(db, "temp"))
      StoreExactColumnTexts(db, "temp", table.name);
    // Its id and name in tempdb's catalog.
    if (statement.kind == StatementKind::kCreateTable) {
      StatementAuthorizer::EngineScope engine_sql(session_.Connection().Authorizer());
      RecordTempTable(db, table.name, session_.Engine().Sessions().NextTempTable(),
                      makes_table_variable_);
    }
    return;
  }
  std::string schema = session_.Connection().SchemaOf(table.database);
  std::string objects = "\"" + schema + "\"." + catalog::kObjectsTable;
  sqlite3* db = session_.Connection().Handle();
  if (statement.kind == StatementKind::kAlterTable) {
    NormaliseColumns(db, schema, table.name);  // for columns it added
    KeepNullKeysUnique(db, schema, table.name);
  } else if (statement.kind == StatementKind::kCreateTable) {
    // SQLite knows only tables, views and indexes by name; a procedure,
    // function, trigger, rule or default of that name is as much in the way.
    catalog::PreparedStatement taken = catalog::Prepare(
        db, "SELECT 1 FROM " + objects + " WHERE name = ? COLLATE NOCASE AND xtype <> 'U'");
    sqlite3_bind_text(taken.get(), 1, table.name.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(taken.get()) == SQLITE_ROW) throw MakeError(2714, {table.name});
    catalog::RecordNewObject(db, schema, table.name, "U");
    // SQLite fires a table's triggers newest first. The identity triggers
    // move a new row to its identity value, so they must be the oldest: the
    // triggers that keep values in form find the row at NEW.rowid only
    // before it moves.
    ApplyIdentitySeed(db, schema, table.name, statement.tokens);
    NormaliseColumns(db, schema, table.name);
    KeepNullKeysUnique(db, schema, table.name);
    // The table's DEFAULT and CHECK texts as written, in the stored form.
    if (StoresExactForm(db, schema)) StoreExactColumnTexts(db, schema, table.name);
    if (SessionRights::IsGlobalTempTable(table.database, table.name)) {
      // A ##table stays dbo's, open to every login, and lasts as long as the
      // session that made it.
      session_.Engine().GlobalTemps().Made(table.name, session_.Spid());
    } else {
      GrantToCreator(
          table.name,
          {Access::kSelect, Access::kInsert, Access::kUpdate, Access::kDelete, Access::kReferences},
          schema);
    }
  } else {
    auto remove = catalog::Prepare(db, "DELETE FROM " + objects + " WHERE name = ?");
    sqlite3_bind_text(remove.get(), 1, table.name.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(remove.get()) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
    ForgetIdentity(db, schema, table.name);
    ForgetTableTriggers(db, schema, table.name);
  }
}

void BatchExecutor::RequireDefinitionRight(const std::string& database, const std::string& object,
                                           Access access) {
  if (access == Access::kAlter) return session_.Rights().RequireIn(database, object, access);
  if (SessionRights::IsGlobalTempTable(database.empty() ? session_.CurrentDatabase() : database,
                                       object))
    return;
  if (database.empty() || tsql::EqualsIgnoreCase(database, session_.CurrentDatabase())) {
    session_.Rights().RequireIn(database, object, access);
    return;
  }
  // Another database's: the right as that database grants it.
  if (session_.IsSysadmin()) return;
  std::optional<catalog::DatabaseEntry> entry = session_.Engine().FindDatabase(database);
  if (!entry) throw MakeError(911, {database});
  session_.Rights().RequireStatementRight(*entry, access);
}

void BatchExecutor::GrantToCreator(const std::string& object,
                                   std::initializer_list<Access> actions,
                                   const std::string& schema) {
  SessionConnection& connection = session_.Connection();
  std::string database = schema == "main" ? session_.CurrentDatabase()
                                          : connection.DatabaseOfSchema(schema);
  int owner = CreatedObjectOwner(database, schema);
  if (owner == kDboUid) return;
  sqlite3* db = connection.Handle();
  RecordOwner(db, schema, object, owner);
  for (Access access : actions) {
    SetPermission(db, schema, database,
                  {object, std::string(PermissionName(access)), owner, 'W', kDboUid, ""});
  }
  session_.Engine().SecurityChanged();
}

int BatchExecutor::CreatedObjectOwner(const std::string& database, const std::string& schema) {
  if (created_owner_) return *created_owner_;
  SessionRights& rights = session_.Rights();
  if (rights.IsSysadmin()) return kDboUid;
  const DatabaseRights& in_database = rights.In(database, schema);
  if (in_database.IsDbo() || !in_database.Uid()) return kDboUid;
  return *in_database.Uid();
}

namespace {

// An integer constant of type int (digits alone, at most 2147483647); a
// longer one is a decimal, which the front end types.
std::optional<std::int64_t> IntConstant(const Token& token) {
  const std::string& digits = token.text;
  if (token.kind != TokenKind::kNumber || digits.empty() || digits.size() > 10 ||
      digits.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  std::int64_t value = std::stoll(digits);
  if (value > 2147483647) return std::nullopt;
  return value;
}

}  // namespace

tsql::Statement BatchExecutor::SelectOfExpression(const Tokens& expression, int line) {
  tsql::Statement select;
  select.kind = StatementKind::kSelect;
  select.line = line;
  select.tokens.push_back(tsql::WordToken("SELECT", line));
  select.tokens.insert(select.tokens.end(), expression.begin(), expression.end());
  return select;
}

Value BatchExecutor::Evaluate(const Tokens& expression, int line, std::optional<ColumnType>* type) {
  if (expression.empty()) throw MakeError(170, {std::to_string(line), ""});
  tsql::Statement select = SelectOfExpression(expression, line);
  tsql::SqliteText text = *FrontEndSelect(select, session_);
  // A char(n) value keeps its blanks (SET @v = (SELECT c FROM t)); the
  // rows hold it without them.
  std::optional<ColumnType> padded;
  if (text.typed_result && !text.result_columns.empty()) padded = text.result_columns[0].type;
  if (type != nullptr) *type = padded;
  FailedStatement context{nullptr, "", session_.CurrentDatabase(), line};
  sqlite3* dirty = DirtyReadConnection(expression, text.sql);
  SqliteStatement query(dirty != nullptr ? dirty : session_.Connection().Handle(),
                        session_.Connection().Authorizer(), std::move(text), context, *this);
  std::optional<Value> value = query.Scalar();
  if (!value) return Value{};
  return padded ? BlankPadded(std::move(*value), *padded) : *value;
}

Value BatchExecutor::Parameter(std::string_view name, int line) {
  if (name.starts_with(tsql::kSystemVariablePrefix)) {
    std::string variable(name.substr(tsql::kSystemVariablePrefix.size()));
    if (variable == "rowcount") return session_.RowCount();
    if (variable == "error") return static_cast<std::int64_t>(session_.LastError());
    if (variable == "trancount") return static_cast<std::int64_t>(session_.TranCount());
    if (variable == "spid") return static_cast<std::int64_t>(session_.Spid());
    if (variable == "version") return std::string(kVersion);
    // The major version in the high byte, the build (2039) in the low word.
    if (variable == "microsoftversion") return std::int64_t{(8 << 24) | 2039};
    if (variable == "servername" || variable == "servicename") return std::string(kServerName);
    if (variable == "language")
      return std::string(LanguageOf(session_.Dates().langid).name);
    if (variable == "datefirst") return static_cast<std::int64_t>(session_.Dates().first_day);
    if (variable == "identity" || variable == "scope_identity") {
      std::optional<std::int64_t> id =
          variable == "identity" ? session_.LastIdentity() : session_.ScopeIdentity();
      return id ? Value(*id) : Value{};
    }
    if (variable == "max_precision") return std::int64_t{38};
    if (variable == "dbts")
      return LastRowVersion(session_.Connection().Handle(), session_.Connection().SchemaOf(""));
    if (variable == "textsize") return session_.TextSize();
    if (variable == "nestlevel") return static_cast<std::int64_t>(session_.NestingLevel());
    if (variable == "procid") return session_.ModuleId();
    if (variable == "fetch_status") return session_.Cursors().fetch_status;
    if (variable == "cursor_rows") return session_.Cursors().cursor_rows;
    if (variable == "lock_timeout")
      return static_cast<std::int64_t>(session_.Connection().LockTimeout());
    if (std::optional<Value> value = ServerVariable(session_, variable)) return *value;
    SqlError error = MakeError(137, {"@@" + variable});
    error.message().line = line;
    throw error;
  }
  auto& variables = session_.Variables();
  auto it = variables.find(tsql::ToLower(name));
  if (it == variables.end()) {
    SqlError error = MakeError(137, {name});
    error.message().line = line;
    throw error;
  }
  return it->second.value;
}

std::optional<ColumnType> BatchExecutor::ParameterType(std::string_view name) {
  auto it = session_.Variables().find(tsql::ToLower(name));
  if (it == session_.Variables().end()) return std::nullopt;
  return it->second.type;
}

void BatchExecutor::Declare(const tsql::Statement& statement) {
  const Tokens& tokens = statement.tokens;
  size_t i = 1;
  while (i < tokens.size()) {
    const Token& name = tokens[i];
    if (name.kind != TokenKind::kVariable) throw tsql::SyntaxError(name, &tokens[i - 1]);
    ++i;
    if (i < tokens.size() && tokens[i].IsWord("as")) ++i;
    if (i < tokens.size() && tokens[i].IsWord("cursor")) {
      DeclareCursorVariable(name);
      if (++i < tokens.size()) {
        if (!tokens[i].IsSymbol(",")) throw tsql::SyntaxError(tokens[i], &tokens[i - 1]);
        ++i;
      }
      continue;
    }
    if (i < tokens.size() && tokens[i].IsWord("table")) {
      if (name.offset != tokens[1].offset || i + 1 >= tokens.size() || !tokens[i + 1].IsSymbol("("))
        throw tsql::SyntaxError(tokens[i], &tokens[i - 1]);
      DeclareTableVariable(statement, i + 1);
      return;
    }
    ColumnType type = ReadDeclaredType(tokens, i);
    Value value;
    bool has_value = i < tokens.size() && tokens[i].IsSymbol("=");
    if (has_value) {
      size_t end = ++i;
      int depth = 0;
      while (end < tokens.size() && !(depth == 0 && tokens[end].IsSymbol(","))) {
        if (tokens[end].IsSymbol("(")) ++depth;
        if (tokens[end].IsSymbol(")")) --depth;
        ++end;
      }
      std::optional<ColumnType> source;
      value =
          AssignedValue(Evaluate(AssignedExpression(Slice(tokens, i, end), type, statement.line),
                                 statement.line, &source),
                        type, source);
      i = end;
    }
    std::string key = tsql::ToLower(name.text);
    auto existing = session_.Variables().find(key);
    if (existing == session_.Variables().end()) {
      session_.Variables()[key] = Variable{type, value, name.offset};
    } else if (existing->second.declared_at == name.offset) {
      // The same DECLARE met again in a loop declares nothing new.
      if (has_value) existing->second.value = value;
    } else {
      SqlError error = MakeError(134, {name.text});
      error.message().line = name.line;
      throw error;
    }
    if (i < tokens.size()) {
      if (!tokens[i].IsSymbol(",")) throw tsql::SyntaxError(tokens[i]);
      ++i;
    }
  }
  // Like SQL Server, a declaration sends no DONE: DB-Library would take one
  // for an empty result.
}

void BatchExecutor::Set(const tsql::Statement& statement) {
  const Tokens& tokens = statement.tokens;
  if (tokens.size() < 2) throw tsql::SyntaxError(Token{}, &tokens.front());
  if (tokens[1].kind != TokenKind::kVariable) {
    if (tokens.size() < 3) throw tsql::SyntaxError(Token{}, &tokens.back());
    // SET sends no DONE, as in SQL Server.
    if (ApplyOnOffOption(statement, session_.Options())) {
      if (std::optional<bool> quoting = std::exchange(session_.Options().quoted_identifier, {})) {
        // Applies to what is lexed from here on: later batches, procedure
        // bodies and dynamic SQL (the lexer applied it to the rest of this
        // batch as it read it).
        session_.QuotedIdentifier() = *quoting;
        tsql::SetQuotedIdentifiers(*quoting);
      }
      return;
    }
    if (tokens[1].IsWord("nocount")) session_.NoCount() = tokens[2].IsWord("on");
    if (tokens[1].IsAnyWord({"dateformat", "language", "datefirst"})) {
      SetDateOption(tokens, statement.line);
      return;
    }
    if (tokens[1].IsWord("rowcount")) {
      Value limit = ConvertForType(Evaluate(Slice(tokens, 2, tokens.size()), statement.line),
                                   ColumnType{SqlType::kInt});
      const auto* count = std::get_if<std::int64_t>(&limit);
      session_.RowCountLimit() = count != nullptr && *count > 0 ? *count : 0;
    }
    if (tokens[1].IsWord("identity_insert")) {
      SetIdentityInsert(session_, tokens);
    }
    if (tokens[1].IsWord("lock_timeout")) SetLockTimeout(statement);
    if (tokens[1].IsWord("textsize")) {
      // 0 (or less) restores the default, as SQL Server documents it.
      Value size = ConvertForType(Evaluate(Slice(tokens, 2, tokens.size()), statement.line),
                                  ColumnType{SqlType::kInt});
      const auto* bytes = std::get_if<std::int64_t>(&size);
      session_.TextSize() = bytes != nullptr && *bytes > 0 ? *bytes : kDefaultTextSize;
    }
    if (tokens[1].IsWord("transaction")) SetIsolationLevel(statement);
    return;  // SET sends no DONE, as in SQL Server
  }
  std::string key = tsql::ToLower(tokens[1].text);
  if (local_cursors_.count(key) != 0 && tokens.size() >= 4 && tokens[2].IsSymbol("=")) {
    SetCursorVariable(statement);
    return;
  }
  auto it = session_.Variables().find(key);
  if (it == session_.Variables().end()) {
    SqlError error = MakeError(137, {tokens[1].text});
    error.message().line = tokens[1].line;
    throw error;
  }
  if (tokens.size() < 4 || !tokens[2].IsSymbol("=")) {
    throw tsql::SyntaxError(tokens.size() > 2 ? tokens[2] : Token{}, &tokens[1]);
  }
  std::optional<ColumnType> source;
  it->second.value = AssignedValue(
      Evaluate(AssignedExpression(Slice(tokens, 3, tokens.size()), it->second.type, statement.line),
               statement.line, &source),
      it->second.type, source);
  session_.RowCount() = 1;  // an assignment counts its one row
}

void BatchExecutor::SetLockTimeout(const tsql::Statement& statement) {
  Value value = Evaluate(Slice(statement.tokens, 2, statement.tokens.size()), statement.line);
  const auto* milliseconds = std::get_if<std::int64_t>(&value);
  if (milliseconds == nullptr) throw MakeError(8114, {"varchar", "int"});
  // Like SQL Server, any negative period means no time-out.
  session_.Connection().SetLockTimeout(
      *milliseconds < 0 ? -1 : static_cast<int>(std::min<std::int64_t>(*milliseconds, INT32_MAX)));
}

void BatchExecutor::SetIsolationLevel(const tsql::Statement& statement) {
  const Tokens& tokens = statement.tokens;
  std::string level;
  for (size_t k = 4; k < tokens.size(); ++k)
    level += (k > 4 ? " " : "") + tsql::ToLower(tokens[k].text);
  if (tokens.size() < 5 || !tokens[2].IsWord("isolation") || !tokens[3].IsWord("level")) {
    throw tsql::SyntaxError(tokens.size() > 2 ? tokens[2] : tokens.back(), &tokens[1]);
  }
  static const std::pair<std::string_view, IsolationLevel> kLevels[] = {
      {"read uncommitted", IsolationLevel::kReadUncommitted},
      {"read committed", IsolationLevel::kReadCommitted},
      {"repeatable read", IsolationLevel::kRepeatableRead},
      {"snapshot", IsolationLevel::kSnapshot},
      {"serializable", IsolationLevel::kSerializable}};
  for (const auto& [name, value] : kLevels) {
    if (level == name) {
      session_.Isolation() = value;
      return;
    }
  }
  throw tsql::SyntaxError(tokens[4], &tokens[3]);
}

// SET DATEFORMAT, SET LANGUAGE and SET DATEFIRST take a word, a string or
// a variable; the session keeps them for its later requests.
void BatchExecutor::SetDateOption(const Tokens& tokens, int line) {
  const Token& argument = tokens[2];
  std::string text;
  if (argument.kind == TokenKind::kVariable || tokens.size() > 3) {
    text = ValueText(Evaluate(Slice(tokens, 2, tokens.size()), line));
  } else {
    text = argument.value;
  }
  DateSettings& dates = session_.Dates();
  if (tokens[1].IsWord("dateformat")) {
    dates.SetDateFormat(text);
  } else if (tokens[1].IsWord("language")) {
    std::string before(LanguageOf(dates.langid).name);
    dates.SetLanguage(text);
    // As at login: the client hears of the new language, then 5703.
    EnvChange change;
    change.kind = EnvChangeKind::kLanguage;
    change.new_value = LanguageOf(dates.langid).name;
    change.old_value = std::move(before);
    sink_.Environment(change);
    ServerMessage changed = FormatMessage(5703, {LanguageOf(dates.langid).name});
    changed.line = line;
    sink_.Message(changed);
  } else {
    std::optional<std::int64_t> day = values::WholeNumberFromText(text);
    if (!day) throw MakeError(2742, {text});
    dates.SetDateFirst(*day);
  }
}

namespace {

// Whether PRINT shows a value of this type through its conversion to
// varchar (a datetime in style 0, a float to six digits, money to two
// decimals) rather than as the stored value reads.
bool PrintedThroughConversion(SqlType type) {
  switch (type) {
    case SqlType::kChar:
    case SqlType::kVarChar:
    case SqlType::kNChar:
    case SqlType::kNVarChar:
    case SqlType::kText:
    case SqlType::kNText:
    case SqlType::kBinary:
    case SqlType::kVarBinary:
    case SqlType::kImage:
    case SqlType::kSqlVariant:
    case SqlType::kUniqueIdentifier:
      return false;
    default:
      return true;
  }
}

tsql::Token SymbolToken(std::string_view symbol, int line) {
  tsql::Token token;
  token.kind = tsql::TokenKind::kSymbol;
  token.text = token.value = std::string(symbol);
  token.line = line;
  return token;
}

}  // namespace

tsql::Tokens BatchExecutor::PrintedText(const tsql::Tokens& expression, int line) {
  tsql::Statement select = SelectOfExpression(expression, line);
  std::optional<tsql::SqliteText> bound = FrontEndSelect(select, session_);
  if (!bound || !bound->typed_result || bound->result_columns.size() != 1 ||
      !PrintedThroughConversion(bound->result_columns[0].type.type))
    return expression;
  tsql::Token length = tsql::WordToken("8000", line);
  length.kind = tsql::TokenKind::kNumber;
  tsql::Tokens converted = {tsql::WordToken("CONVERT", line),
                            SymbolToken("(", line),
                            tsql::WordToken("varchar", line),
                            SymbolToken("(", line),
                            length,
                            SymbolToken(")", line),
                            SymbolToken(",", line)};
  converted.insert(converted.end(), expression.begin(), expression.end());
  converted.push_back(SymbolToken(")", line));
  return converted;
}

void BatchExecutor::Print(const tsql::Statement& statement) {
  Value value =
      Evaluate(PrintedText(Slice(statement.tokens, 1, statement.tokens.size()), statement.line),
               statement.line);
  ServerMessage message;
  message.number = 0;
  message.severity = 0;
  message.text = ValueText(value);
  message.line = statement.line;
  sink_.Message(message);
  Done();
}

void BatchExecutor::WaitFor(const tsql::Statement& statement) {
  const Tokens& tokens = statement.tokens;
  if (tokens.size() < 3 || !tokens[1].IsAnyWord({"delay", "time"})) {
    throw tsql::SyntaxError(tokens.size() > 1 ? tokens[1] : Token{}, &tokens.front());
  }
  std::string text = ValueText(Evaluate(Slice(tokens, 2, tokens.size()), statement.line));
  std::optional<long> millis = ParseClock(text);
  if (!millis) throw MakeError(148, {text});
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(*millis);
  if (tokens[1].IsWord("time")) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    long since_midnight = (local.tm_hour * 3600L + local.tm_min * 60L + local.tm_sec) * 1000L;
    long wait = *millis - since_midnight;
    if (wait < 0) wait += 24L * 3600 * 1000;
    deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait);
  }
  if (session_.WaitCancelled(deadline)) throw Cancelled{};
  Done();
}

void BatchExecutor::Execute(const tsql::Statement& statement) {
  const Tokens& tokens = statement.tokens;
  size_t i = tokens.front().IsWord("exec") || tokens.front().IsWord("execute") ? 1 : 0;
  if (i < tokens.size() && tokens[i].IsSymbol("(")) {
    ExecuteString(statement, i);
    return;
  }
  std::string status_variable;
  if (i < tokens.size() && tokens[i].kind == TokenKind::kVariable && i + 1 < tokens.size() &&
      tokens[i + 1].IsSymbol("=")) {
    status_variable = tokens[i].text;
    i += 2;
  }
  tsql::DottedName procedure;
  int number = 1;  // in the procedure's group: EXEC p;2
  if (i < tokens.size() && tokens[i].kind == TokenKind::kVariable) {
    // EXEC @name: the variable holds the procedure's name.
    Value held = Parameter(tokens[i].text, statement.line);
    if (IsNull(held)) throw tsql::SyntaxError(tokens[i], &tokens[i - 1]);
    procedure = ReadRpcProcedureName(ValueText(held), &number);
    procedure.end = i + 1;
  } else if (i < tokens.size() && tokens[i].IsName()) {
    procedure = tsql::ReadDottedName(tokens, i);
    if (procedure.end + 1 < tokens.size() && tokens[procedure.end].IsSymbol(";")) {
      number = tsql::GroupNumber(tokens[procedure.end + 1].text).value_or(0);
      procedure.end += 2;
    }
  } else {
    throw tsql::SyntaxError(i < tokens.size() ? tokens[i] : Token{},
                            &tokens[std::min(i, tokens.size()) - 1]);
  }
  std::string written = procedure.Written();
  std::string name = tsql::ToLower(procedure.Last());
  i = procedure.end;
  // Only a stored procedure has numbers; one of no group reads as missing.
  if (number != 1) {
    written += ";" + std::to_string(number);
    name.clear();
  }
  // WITH RECOMPILE asks for a fresh plan, which every call here has.
  size_t stop = tokens.size();
  if (stop >= i + 2 && tokens[stop - 2].IsWord("with") && tokens[stop - 1].IsWord("recompile"))
    stop -= 2;
  std::vector<CallArgument> arguments;
  std::vector<std::string> output_variables;  // per argument; empty when not OUTPUT
  while (i < stop) {
    CallArgument argument;
    if (tokens[i].kind == TokenKind::kVariable && i + 1 < tokens.size() &&
        tokens[i + 1].IsSymbol("=")) {
      argument.name = tokens[i].text;
      i += 2;
    }
    size_t end = i;
    int depth = 0;
    while (end < stop && !(depth == 0 && tokens[end].IsSymbol(","))) {
      if (tokens[end].IsSymbol("(")) ++depth;
      if (tokens[end].IsSymbol(")")) --depth;
      ++end;
    }
    size_t value_end = end;
    if (value_end > i && tokens[value_end - 1].IsAnyWord({"output", "out"})) {
      --value_end;
      argument.output = true;
    }
    if (value_end == i)
      throw tsql::SyntaxError(i < stop ? tokens[i] : Token{}, &tokens[i - 1]);
    if (value_end == i + 1 && tokens[i].IsWord("default")) {
      argument.is_default = true;
    } else if (value_end == i + 1 && tokens[i].kind == TokenKind::kWord &&
               !tokens[i].IsWord("null")) {
      argument.value = tokens[i].value;  // a bare word passes as a string
    } else if (std::optional<std::int64_t> number =
                   value_end == i + 1 ? IntConstant(tokens[i]) : std::nullopt) {
      argument.value = *number;  // what SELECT of it gives, without compiling one
    } else {
      argument.value = Evaluate(Slice(tokens, i, value_end), statement.line);
    }
    output_variables.push_back(argument.output && value_end == i + 1 &&
                                       tokens[i].kind == TokenKind::kVariable
                                   ? tsql::ToLower(tokens[i].text)
                                   : std::string());
    arguments.push_back(std::move(argument));
    i = end < stop ? end + 1 : end;
  }
  session_.LastError() = 0;
  // db..p runs in db's context, system procedures too (EXEC pubs..sp_help).
  DatabaseContext context(session_, sink_);
  if (!procedure.Database().empty()) {
    // Staying put (a server-wide procedure), the procedure is still read
    // from db.
    if (!IsServerProcedure(name) && context.Enter(procedure.Database(), HasSystemPrefix(name))) {
      KeepOwnerAndName(procedure);
    }
  }
  ProcedureScope scope(sink_);
  std::optional<tsql::ProcedureDefinition> definition;
  if (name == "sp_executesql") {
    size_t taken = 0;
    definition = DynamicStatement(arguments, taken);
    arguments.erase(arguments.begin(), arguments.begin() + static_cast<std::ptrdiff_t>(taken));
    output_variables.erase(output_variables.begin(),
                           output_variables.begin() + static_cast<std::ptrdiff_t>(taken));
  } else if (session_.Connection().ResolvesElsewhere()) {
    // In a trigger of another database's table, only that database's own
    // procedures and those of the whole server.
    definition = FindProcedure(session_, procedure, number);
    if (!definition && IsServerProcedure(name)) {
      RunSystemProcedure(session_, name, arguments, sink_);
      scope.End(0);
      return;
    }
    if (!definition && HasSystemPrefix(name))
      RefuseInOtherDatabase(tokens, statement.line);
  } else {
    if (name == "sp_msforeachtable") {
      ForEachTable(arguments);
      scope.End(0);
      return;
    }
    // A system procedure returns 0, or 1 when it fails, to EXEC @status =.
    auto set_status = [&](std::int64_t status) {
      if (status_variable.empty()) return;
      auto variable = session_.Variables().find(tsql::ToLower(status_variable));
      if (variable == session_.Variables().end()) throw MakeError(137, {status_variable});
      variable->second.value = status;
    };
    bool ran = false;
    try {
      ran = RunSystemProcedure(session_, name, arguments, sink_);
    } catch (const SqlError&) {
      set_status(1);
      throw;
    }
    if (ran) {
      set_status(0);
      scope.End(0);
      return;
    }
    definition = FindProcedure(session_, procedure, number);
  }
  if (!definition) throw MakeError(2812, {written});
  std::vector<Value> outputs;
  int status = CallProcedure(*definition, arguments, outputs);
  if (abort_callers_) return;
  std::vector<int> positions = ArgumentPositions(*definition, arguments);
  for (size_t k = 0; k < positions.size(); ++k) {
    if (positions[k] < 0 || !definition->parameters[k].output) continue;
    const std::string& target = output_variables[static_cast<size_t>(positions[k])];
    auto variable = session_.Variables().find(target);
    if (variable != session_.Variables().end()) {
      variable->second.value = ConvertForType(outputs[k], variable->second.type);
    }
  }
  if (!status_variable.empty()) {
    auto variable = session_.Variables().find(tsql::ToLower(status_variable));
    if (variable == session_.Variables().end()) throw MakeError(137, {status_variable});
    variable->second.value = static_cast<std::int64_t>(status);
  }
  context.Leave();
  scope.End(status);
}

void BatchExecutor::ExecuteString(const tsql::Statement& statement, size_t open) {
  const Tokens& tokens = statement.tokens;
  // SQL Server takes string literals and variables joined by '+', nothing else.
  size_t close = open + 1;
  bool want_operand = true;
  for (; close < tokens.size() && !tokens[close].IsSymbol(")"); ++close) {
    const Token& token = tokens[close];
    bool operand = token.kind == TokenKind::kString || token.kind == TokenKind::kNationalString ||
                   token.kind == TokenKind::kVariable;
    if (want_operand ? !operand : !token.IsSymbol("+")) {
      throw tsql::SyntaxError(token, &tokens[close - 1]);
    }
    want_operand = !want_operand;
  }
  if (close >= tokens.size() || want_operand) {
    throw tsql::SyntaxError(close < tokens.size() ? tokens[close] : Token{}, &tokens[close - 1]);
  }
  if (close + 1 < tokens.size()) throw tsql::SyntaxError(tokens[close + 1], &tokens[close]);
  Value text = Evaluate(Slice(tokens, open + 1, close), statement.line);
  session_.LastError() = 0;
  if (IsNull(text)) return;
  tsql::ProcedureDefinition definition = DynamicBatch(ValueText(text));
  DatabaseContext context(session_, sink_);
  std::vector<Value> outputs;
  CallProcedure(definition, {}, outputs);
  context.Leave();
}

void BatchExecutor::ForEachTable(const std::vector<CallArgument>& given) {
  Arguments args("sp_MSforeachtable", given,
                 {"@command1", "@replacechar", "@command2", "@command3", "@whereand",
                  "@precommand", "@postcommand"});
  std::string first = args.Required(0, "sp_MSforeachtable", "@command1");
  if (args[4]) throw MakeError(50000, {"sp_MSforeachtable: @whereand is not supported."});
  std::string mark = args[1].value_or("?");
  if (mark.empty()) mark = "?";
  auto run = [&](const std::string& text) {
    tsql::ProcedureDefinition definition = DynamicBatch(text);
    DatabaseContext context(session_, sink_);
    std::vector<Value> outputs;
    CallProcedure(definition, {}, outputs);
    context.Leave();
  };
  auto bracketed = [](const std::string& name) {
    std::string quoted = "[";
    for (char c : name) quoted += c == ']' ? std::string("]]") : std::string(1, c);
    return quoted + "]";
  };
  std::vector<std::string> tables;
  {
    StatementAuthorizer::EngineScope engine_sql(session_.Connection().Authorizer());
    auto query = catalog::Prepare(session_.Connection().Handle(),
                                  "SELECT name FROM main.sqlite_master WHERE type = 'table' "
                                  "AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' "
                                  "AND name NOT LIKE 'sqlengine\\_%' ESCAPE '\\' ORDER BY name");
    while (sqlite3_step(query.get()) == SQLITE_ROW)
      tables.push_back(catalog::ColumnText(query.get(), 0));
  }
  if (args[5]) run(*args[5]);
  for (const std::string& table : tables) {
    std::string named = bracketed(ObjectOwner(session_, table)) + "." + bracketed(table);
    for (size_t k : {0, 2, 3}) {
      if (!args[k]) continue;
      std::string command = *args[k];
      for (size_t at = command.find(mark); at != std::string::npos;
           at = command.find(mark, at + named.size())) {
        command.replace(at, mark.size(), named);
      }
      run(command);
      if (abort_callers_) return;
    }
  }
  if (args[6]) run(*args[6]);
}

namespace {

// For its lifetime a called body's variables are the session's, the session
// is one nesting level deeper and @@PROCID is `module_id`; the caller's come
// back after.
class CalledScope {
 public:
  CalledScope(Session& session, std::map<std::string, Variable>& variables,
              std::int64_t module_id)
      : session_(session),
        variables_(variables),
        caller_module_(std::exchange(session.ModuleId(), module_id)) {
    std::swap(variables_, session_.Variables());
    ++session_.NestingLevel();
  }
  ~CalledScope() {
    --session_.NestingLevel();
    std::swap(variables_, session_.Variables());
    session_.ModuleId() = caller_module_;
  }
  CalledScope(const CalledScope&) = delete;
  CalledScope& operator=(const CalledScope&) = delete;

 private:
  Session& session_;
  std::map<std::string, Variable>& variables_;
  std::int64_t caller_module_;
};

// What SET changes inside a procedure or a dynamic SQL text (SET NOCOUNT ON,
// ROWCOUNT, XACT_ABORT, DATEFIRST, the isolation level ...) goes back to the
// caller's when it ends, as in SQL Server.
class SetOptionsScope {
 public:
  explicit SetOptionsScope(Session& session)
      : session_(session),
        options_(session.Options()),
        no_count_(session.NoCount()),
        row_count_limit_(session.RowCountLimit()),
        text_size_(session.TextSize()),
        dates_(session.Dates()),
        isolation_(session.Isolation()) {}
  ~SetOptionsScope() {
    session_.Options() = options_;
    session_.NoCount() = no_count_;
    session_.RowCountLimit() = row_count_limit_;
    session_.TextSize() = text_size_;
    session_.Dates() = dates_;
    session_.Isolation() = isolation_;
  }
  SetOptionsScope(const SetOptionsScope&) = delete;
  SetOptionsScope& operator=(const SetOptionsScope&) = delete;

 private:
  Session& session_;
  SessionOptions options_;
  bool no_count_;
  std::int64_t row_count_limit_;
  std::int64_t text_size_;
  DateSettings dates_;
  IsolationLevel isolation_;
};

// The object id of a user function, for @@PROCID inside its body.
std::int64_t FunctionObjectId(Session& session, const tsql::FunctionDefinition& definition) {
  SessionConnection& connection = session.Connection();
  std::string schema = definition.database.empty() ? connection.UnqualifiedSchema()
                                                   : connection.SchemaOf(definition.database);
  if (schema.empty()) return 0;
  return ModuleObjectId(connection.Handle(), schema, definition.name, "FN IF TF");
}

}  // namespace

std::string BatchExecutor::BodyDatabase(const std::string& database) {
  return database.empty() ? session_.Connection().UnqualifiedDatabase() : database;
}

std::string BatchExecutor::BodySchema(const std::string& database) {
  SessionConnection& connection = session_.Connection();
  if (database.empty()) return connection.UnqualifiedSchema();
  std::string schema = connection.SchemaOf(database);
  return schema.empty() ? connection.UnqualifiedSchema() : schema;
}

std::optional<int> BatchExecutor::BodyOwner(const std::string& database,
                                            const std::string& object) {
  SessionConnection& connection = session_.Connection();
  std::string schema = connection.SchemaOf(database);
  if (schema.empty()) return std::nullopt;
  return session_.Rights().OwnerIn(database.empty() ? connection.UnqualifiedDatabase() : database,
                                   schema, object);
}

int BatchExecutor::CallProcedure(const tsql::ProcedureDefinition& definition,
                                 const std::vector<CallArgument>& arguments,
                                 std::vector<Value>& outputs) {
  if (session_.NestingLevel() >= kMaxNesting) throw MakeError(217, {std::to_string(kMaxNesting)});
  std::vector<Value> values = BindArguments(
      definition, arguments, [&](const Tokens& expression) { return Evaluate(expression, 1); });
  std::shared_ptr<const tsql::StatementList> statements = definition.statements;
  if (!statements) statements = std::make_shared<const tsql::StatementList>(tsql::ParseBatch(definition.body));
  const tsql::StatementList& body = *statements;
  std::map<std::string, Variable> scope;
  for (size_t k = 0; k < definition.parameters.size(); ++k) {
    scope[tsql::ToLower(definition.parameters[k].name)] =
        Variable{definition.parameters[k].type, values[k], std::nullopt};
  }
  // A procedure reaches dbo's objects as their owner; dynamic SQL runs as its caller.
  SessionRights& rights = session_.Rights();
  bool dynamic = definition.dynamic;
  if (!dynamic) rights.Require(definition.name, Access::kExecute);
  std::optional<int> owner =
      dynamic ? std::nullopt : BodyOwner(definition.database, definition.name);
  SessionRights::BodyScope body_rights(rights, !dynamic && (!owner || *owner == kDboUid),
                                       BodyDatabase(definition.database), owner);
  IdentityScope identity_scope(session_);
  const int tran_count = session_.TranCount();
  BatchExecutor inner(session_, sink_);
  inner.procedure_ = definition.name;
  inner.drops_its_temp_tables_ = true;
  if (dynamic) inner.source_text_ = definition.source;
  // A stored procedure's parse is kept (procedures.h); a dynamic text's is this call's.
  if (!dynamic && definition.statements) inner.kept_body_ = statements;
  inner.trigger_context_ = trigger_context_;
  inner.running_trigger_ = running_trigger_;
  inner.after_rollback_ = after_rollback_;
  inner.caller_ = this;
  {
    SetOptionsScope set_options(session_);
    CalledScope called(session_, scope, definition.object_id);
    try {
      // A body whose check rests on its text passed it once for good.
      if (dynamic || !session_.SyntaxPassed(statements)) {
        if (inner.CheckSyntax(body) && !dynamic) session_.NoteSyntaxPassed(statements);
      }
      inner.RunList(body);
    } catch (const SqlError& error) {
      if (!inner.Trap(error)) inner.ReportError(error);
      inner.return_status_ = inner.return_status_ == 0 ? -6 : inner.return_status_;
    }
  }
  // A procedure that leaves @@TRANCOUNT other than it found it is told of,
  // as SQL Server does; what it did stays done.
  if (!dynamic && !inner.abort_callers_ && session_.TranCount() != tran_count) {
    inner.ReportError(MakeError(
        266, {std::to_string(tran_count), std::to_string(session_.TranCount())}));
  }
  if (inner.abort_callers_) abort_callers_ = true;
  outputs.clear();
  for (const tsql::ParameterDeclaration& parameter : definition.parameters) {
    outputs.push_back(scope[tsql::ToLower(parameter.name)].value);
  }
  return inner.return_status_;
}

namespace {

// A function's parameters holding the call's arguments, each converted to its type.
std::map<std::string, Variable> ArgumentScope(const tsql::FunctionDefinition& definition,
                                              const std::vector<Value>& arguments) {
  std::map<std::string, Variable> scope;
  for (size_t k = 0; k < definition.parameters.size() && k < arguments.size(); ++k) {
    const tsql::ParameterDeclaration& parameter = definition.parameters[k];
    scope[tsql::ToLower(parameter.name)] =
        Variable{parameter.type, ConvertForType(arguments[k], parameter.type), std::nullopt};
  }
  return scope;
}

}  // namespace

Value BatchExecutor::CallFunction(const tsql::FunctionDefinition& definition,
                                  const std::vector<Value>& arguments) {
  if (session_.NestingLevel() >= kMaxNesting) throw MakeError(217, {std::to_string(kMaxNesting)});
  std::map<std::string, Variable> scope = ArgumentScope(definition, arguments);
  // The body reaches dbo's objects as their owner, as a procedure does.
  std::optional<int> owner = BodyOwner(definition.database, definition.name);
  SessionRights::BodyScope rights(session_.Rights(), !owner || *owner == kDboUid,
                                  BodyDatabase(definition.database), owner);
  SessionConnection::UnqualifiedNamesIn names_in(session_.Connection(),
                                                 BodySchema(definition.database));
  IdentityScope identity_scope(session_);
  BatchExecutor inner(session_, sink_);
  inner.procedure_ = definition.name;
  inner.function_returns_ = definition.returns;
  inner.trigger_context_ = trigger_context_;
  inner.running_trigger_ = running_trigger_;
  tsql::StatementList body = tsql::ParseBatch(definition.body);
  CalledScope called(session_, scope, FunctionObjectId(session_, definition));
  inner.RunList(body);
  return inner.function_result_;
}

std::string BatchExecutor::CallTableFunction(const tsql::FunctionDefinition& definition,
                                             const std::vector<Value>& arguments) {
  if (session_.NestingLevel() >= kMaxNesting) throw MakeError(217, {std::to_string(kMaxNesting)});
  std::map<std::string, Variable> scope = ArgumentScope(definition, arguments);
  std::optional<int> owner = BodyOwner(definition.database, definition.name);
  SessionRights::BodyScope rights(session_.Rights(), !owner || *owner == kDboUid,
                                  BodyDatabase(definition.database), owner);
  SessionConnection::UnqualifiedNamesIn names_in(session_.Connection(),
                                                 BodySchema(definition.database));
  BatchExecutor inner(session_, sink_);
  inner.procedure_ = definition.name;
  // Its statements run as a scalar function's do, inside the reading
  // statement, the first error failing it; its RETURN gives no value.
  inner.function_returns_ = ColumnType{SqlType::kInt};
  inner.trigger_context_ = trigger_context_;
  inner.running_trigger_ = running_trigger_;
  // DECLARE @t TABLE (...) in front of the body.
  int line = definition.body.front().line;
  const std::string& variable = definition.table_variable;
  Tokens declare{tsql::WordToken("DECLARE", line),
                 {TokenKind::kVariable, variable, variable, line},
                 tsql::WordToken("TABLE", line),
                 {TokenKind::kSymbol, "(", "(", line}};
  for (const tsql::Token& token : definition.table_columns) {
    if (token.kind != TokenKind::kEnd) declare.push_back(token);
  }
  declare.push_back({TokenKind::kSymbol, ")", ")", line});
  declare.insert(declare.end(), definition.body.begin(), definition.body.end());
  tsql::StatementList body = tsql::ParseBatch(declare);
  CalledScope called(session_, scope, FunctionObjectId(session_, definition));
  inner.RunList(body);
  // The rows as the table variable's table holds them.
  Tokens read{tsql::WordToken("SELECT", line),
              tsql::WordToken("FROM", line),
              {TokenKind::kVariable, variable, variable, line}};
  std::optional<Tokens> table = inner.table_variables_.Substituted(read);
  if (!table) throw MakeError(1087, {definition.table_variable});
  auto rows = catalog::Prepare(session_.Connection().Handle(),
                               "SELECT * FROM temp." + tsql::QuoteSqliteName((*table)[2].value));
  return RowsAsJson(rows.get());
}

void BatchExecutor::TransactionStatement(const tsql::Statement& statement) {
  const Tokens& tokens = statement.tokens;
  size_t name_at =
      tokens.size() > 1 && tokens[1].IsAnyWord({"tran", "transaction", "work"}) ? 2 : 1;
  std::string name = name_at < tokens.size() ? tokens[name_at].value : std::string();
  switch (statement.kind) {
    case StatementKind::kBeginTransaction:
      session_.BeginTransaction(sink_, name);
      break;
    case StatementKind::kCommit:
      session_.CommitTransaction(sink_, statement.line);
      break;
    case StatementKind::kSaveTransaction:
      if (session_.TranCount() == 0) throw MakeError(628);
      catalog::Exec(session_.Connection().Handle(), "SAVEPOINT " + tsql::QuoteSqliteName(name));
      session_.Savepoints().push_back(name);
      break;
    default:
      if (!name.empty() && session_.TranCount() > 0) {
        int rc = SQLITE_OK;
        RollbackKeepingTableVariables([&] {
          rc = sqlite3_exec(session_.Connection().Handle(),
                            ("ROLLBACK TO " + tsql::QuoteSqliteName(name)).c_str(), nullptr,
                            nullptr, nullptr);
        });
        if (rc == SQLITE_OK) {
          session_.RolledBackTo(name);
          break;
        }
        // Only the outermost transaction's name rolls everything back.
        if (tokens[name_at].kind != TokenKind::kVariable && name != session_.TransactionName()) {
          throw MakeError(6401, {name});
        }
      }
      RollbackKeepingTableVariables([&] { session_.RollbackTransaction(sink_, statement.line); });
      if (after_rollback_) after_rollback_();
  }
  Done();
}

}  // namespace sqlengine::exec

namespace sqlengine::exec {

void BatchExecutor::DeclareTableVariable(const tsql::Statement& statement, size_t open) {
  std::optional<tsql::Statement> create =
      table_variables_.Declare(statement.tokens, open, statement.line);
  if (!create) return;
  CapturedResult quiet(sink_);
  BatchExecutor inner(session_, quiet);
  inner.procedure_ = procedure_;
  inner.makes_table_variable_ = true;
  inner.PassThrough(*create);
}

std::optional<tsql::Statement> BatchExecutor::WithTableVariables(const tsql::Statement& statement) {
  switch (statement.kind) {
    case StatementKind::kSelect:
    case StatementKind::kInsert:
    case StatementKind::kUpdate:
    case StatementKind::kDelete:
    case StatementKind::kDeclare:
    case StatementKind::kSet:
    case StatementKind::kPrint:
    case StatementKind::kReturn:
      break;
    default:
      return std::nullopt;
  }
  std::optional<Tokens> tokens = table_variables_.Substituted(statement.tokens);
  if (!tokens) return std::nullopt;
  tsql::Statement substituted;
  substituted.kind = statement.kind;
  substituted.line = statement.line;
  substituted.tokens = std::move(*tokens);
  substituted.with = statement.with;
  return substituted;
}

void BatchExecutor::RollbackKeepingTableVariables(const std::function<void()>& rollback) {
  std::vector<std::pair<BatchExecutor*, std::shared_ptr<TableVariables::Saved>>> kept;
  for (BatchExecutor* body = this; body != nullptr; body = body->caller_) {
    if (!body->table_variables_.Empty()) kept.emplace_back(body, body->table_variables_.Save());
  }
  // Row versions and identity values handed out inside the transaction stay used.
  sqlite3* db = session_.Connection().Handle();
  const auto row_versions = RowVersionCounters(db);
  const IdentityCountersKept identities(db);
  rollback();
  KeepRowVersionCounters(db, row_versions);
  identities.Restore();
  for (const auto& [body, saved] : kept) {
    body->table_variables_.Restore(*saved, [&](const tsql::Statement& create) {
      CapturedResult quiet(sink_);
      BatchExecutor inner(session_, quiet);
      inner.PassThrough(create);
    });
  }
}

}  // namespace sqlengine::exec
