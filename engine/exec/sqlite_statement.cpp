#include "engine/exec/sqlite_statement.h"

#include <cctype>

#include "engine/exec/exact_storage_form.h"
#include "engine/exec/exact_values.h"
#include "engine/exec/value_conversion.h"
#include "engine/tsql/syntax_error.h"
#include "engine/values/exact_storage.h"

namespace sqlengine::exec {
int CompileUserStatement(sqlite3* db, StatementAuthorizer& authorizer, const std::string& sql,
                         sqlite3_stmt** compiled, const char** tail, std::string* stored_calls,
                         const std::vector<tsql::ObjectReach>* reaches) {
  authorizer.BeginCompilation();
  StatementAuthorizer::UserScope user(authorizer);
  StatementAuthorizer::ReachScope reach(authorizer, reaches);
  int rc = sqlite3_prepare_v3(db, sql.c_str(), static_cast<int>(sql.size()), 0, compiled, tail);
  if (rc != SQLITE_OK) return rc;
  std::optional<std::string> settled = authorizer.SettleStoredCalls(sql);
  if (!settled) {
    sqlite3_finalize(*compiled);
    *compiled = nullptr;
    return SQLITE_AUTH;
  }
  *stored_calls = std::move(*settled);
  return rc;
}

namespace {

// What a kept statement is found by: its text, and how the statement reaches
// the objects in it. The authorizer judged it by both when it was compiled,
// and two statements of one text may reach a table differently (through a
// view the user may read, or named by the user himself).
std::string ReuseKey(const tsql::SqliteText& text) {
  std::string key = text.sql;
  if (!text.literals.empty()) key += '\0' + text.literal_types;
  for (const tsql::ObjectReach& reach : text.reaches) {
    key += '\0';
    key += reach.schema + '.' + reach.name + '<' + reach.inside_schema + '.' + reach.inside_name +
           '#' + std::to_string(static_cast<int>(reach.kind));
    for (const auto& [column, view_column] : reach.columns) key += ',' + column + '=' + view_column;
  }
  return key;
}

}  // namespace

SqliteStatement::SqliteStatement(sqlite3* db, StatementAuthorizer& authorizer,
                                 tsql::SqliteText text, FailedStatement context,
                                 ParameterSource& parameters, CompiledStatements* compiled,
                                 std::optional<StatementReuse> reuse)
    : db_(db),
      authorizer_(authorizer),
      text_(std::move(text)),
      context_(context),
      reuse_(std::move(reuse)) {
  context_.text = &text_;
  sqlite3_stmt* raw = nullptr;
  const char* tail = nullptr;
  CompiledStatements::Compiled checked;
  if (compiled != nullptr) checked = compiled->Take(text_.sql);
  if (!checked.statement && reuse_ && reuse_->cache != nullptr) {
    checked.statement = reuse_->cache->Take(ReuseKey(text_), reuse_->context);
    // Kept only after its whole text compiled.
    checked.tail = text_.sql.size();
    reused_ = checked.statement != nullptr;
  }
  if (checked.statement) {
    // A fresh compilation context all the same: a recompilation while it runs
    // (after a schema change) and its failures must not see another's.
    authorizer_.BeginCompilation();
    raw = checked.statement.release();
    tail = text_.sql.c_str() + checked.tail;
    statement_.reset(raw);
  } else {
    int rc = CompileUserStatement(db_, authorizer_, text_.sql, &raw, &tail, &stored_calls_,
                                  &text_.reaches);
    statement_.reset(raw);
    if (rc != SQLITE_OK) Fail(rc);
  }
  if (raw == nullptr) throw MakeError(170, {std::to_string(context_.line), context_.verb});
  if (tail != nullptr) {
    std::string_view rest(tail);
    size_t at = rest.find_first_not_of(" \t\r\n;");
    if (at != std::string_view::npos) {
      size_t offset = static_cast<size_t>(tail - text_.sql.c_str()) + at;
      tsql::Token near;
      near.kind = tsql::TokenKind::kSymbol;
      near.text = std::string(rest.substr(at, rest.find(' ', at) - at));
      near.line = text_.LineAt(offset);
      throw tsql::SyntaxError(near);
    }
  }
  int count = sqlite3_bind_parameter_count(raw);
  for (int index = 1; index <= count; ++index) {
    const char* name = sqlite3_bind_parameter_name(raw, index);
    if (name == nullptr) continue;
    if (std::string_view(name).starts_with(tsql::kLiteralPrefix)) {
      BindLiteral(raw, index, name);
      continue;
    }
    Value value = parameters.Parameter(name, context_.line);
    std::optional<ColumnType> type;
    if (text_.exact_stored_form && !std::holds_alternative<std::monostate>(value))
      type = parameters.ParameterType(name);
    if (type && values::IsExactType(type->type)) {
      // The generated text reads the variable at its own type's scale.
      BindRaw(raw, index, FitDecimal(value, *type), *type);
    } else {
      BindValue(raw, index, value);
    }
  }
  // A select-list item that is a variable has the variable's type.
  for (size_t i = 0; i < text_.column_variables.size() && i < text_.column_types.size(); ++i) {
    if (!text_.column_variables[i].empty() && !text_.column_types[i]) {
      text_.column_types[i] = parameters.ParameterType(text_.column_variables[i]);
    }
  }
}

void SqliteStatement::BindLiteral(sqlite3_stmt* raw, int index, std::string_view name) {
  size_t at = 0;
  std::string_view digits = name.substr(tsql::kLiteralPrefix.size());
  for (char c : digits) at = at * 10 + static_cast<size_t>(c - '0');
  if (digits.empty() || at >= text_.literals.size())
    throw std::logic_error("a generated literal parameter without its value");
  const auto& literal = text_.literals[at];
  if (const std::int64_t* integer = std::get_if<std::int64_t>(&literal)) {
    sqlite3_bind_int64(raw, index, *integer);
  } else {
    const std::string& chars = std::get<std::string>(literal);
    sqlite3_bind_text(raw, index, chars.data(), static_cast<int>(chars.size()), SQLITE_TRANSIENT);
  }
}

void SqliteStatement::Fail(int rc) {
  if (std::optional<SqlError> refused = authorizer_.TakeDenial()) {
    refused->message().line = context_.line;
    throw *refused;
  }
  ThrowSqliteError(db_, rc, context_);
}

int SqliteStatement::Recompilations() const {
  return sqlite3_stmt_status(statement_.get(), SQLITE_STMTSTATUS_REPREPARE, 0);
}

void SqliteStatement::KeepIn(CompiledStatements& kept) {
  if (!statement_ || !stored_calls_.empty()) return;
  sqlite3_reset(statement_.get());
  sqlite3_clear_bindings(statement_.get());
  kept.Keep(text_.sql, {std::move(statement_), text_.sql.size()});
}

void SqliteStatement::KeepForReuse() {
  // What the compilation settled for stored calls is not kept with it.
  if (!statement_ || !reuse_ || reuse_->cache == nullptr || !stored_calls_.empty()) return;
  sqlite3_reset(statement_.get());
  sqlite3_clear_bindings(statement_.get());
  reuse_->cache->Keep(ReuseKey(text_), std::move(statement_), std::move(reuse_->context));
  reuse_.reset();
}

int SqliteStatement::Step() {
  int rc;
  {
    // A schema change makes SQLite compile the text again while stepping.
    StatementAuthorizer::UserScope user(authorizer_);
    StatementAuthorizer::ReachScope reach(authorizer_, &text_.reaches);
    StatementAuthorizer::StoredCallsIn stored(authorizer_, stored_calls_);
    rc = sqlite3_step(statement_.get());
  }
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) Fail(rc);
  return rc;
}

int SqliteStatement::StepAndWarn(ResultSink& sink) {
  int rc = Step();
  // One warning for the statement, however many of its aggregates skip one.
  if (skipped_nulls_ && skipped_nulls_() && !warned_of_nulls_) {
    warned_of_nulls_ = true;
    sink.Message(FormatMessage(8153));
  }
  return rc;
}

std::int64_t SqliteStatement::Stream(ResultSink& sink, std::int64_t row_limit) {
  sqlite3_stmt* statement = statement_.get();
  const int columns = sqlite3_column_count(statement);
  const bool typed =
      text_.typed_result && text_.result_columns.size() == static_cast<size_t>(columns);
  // The binder typed every column: the result is described before its first
  // row is computed, so an error in that row follows the column metadata,
  // as SQL Server sends it.
  if (skipped_nulls_) skipped_nulls_();  // what an earlier statement left
  if (columns > 0 && typed) sink.BeginResult(text_.result_columns);
  int rc = StepAndWarn(sink);
  if (columns == 0) {
    while (rc == SQLITE_ROW) rc = StepAndWarn(sink);
    return sqlite3_changes64(db_);
  }
  auto more = [&](std::int64_t sent) {
    return rc == SQLITE_ROW && (row_limit <= 0 || sent < row_limit);
  };
  if (typed) {
    // Rows are converted to the binder's types as they come.
    Row row(static_cast<size_t>(columns));
    std::int64_t sent = 0;
    while (more(sent)) {
      for (int i = 0; i < columns; ++i) row[i] = TypedColumnValue(statement, i);
      sink.AddRow(row);
      ++sent;
      rc = StepAndWarn(sink);
    }
    return sent;
  }
  // Expressions have no declared type: their type is settled by the values of
  // the first rows, which are held back until it is.
  std::vector<Column> metadata(static_cast<size_t>(columns));
  std::vector<ValueTypeGuess> guesses(static_cast<size_t>(columns));
  bool any_inferred = false;
  for (int i = 0; i < columns; ++i) {
    metadata[i].name = ResultColumnName(statement, i);
    if (static_cast<size_t>(columns) == text_.column_aliases.size() &&
        !text_.column_aliases[static_cast<size_t>(i)].empty()) {
      metadata[i].name = text_.column_aliases[static_cast<size_t>(i)];
    }
    std::optional<ColumnType> declared = DeclaredColumnType(db_, statement, i);
    if (!declared && static_cast<size_t>(i) < text_.column_types.size() &&
        static_cast<size_t>(columns) == text_.column_types.size()) {
      declared = text_.column_types[static_cast<size_t>(i)];
    }
    if (declared) {
      metadata[i].type = *declared;
    } else {
      guesses[i].inferred = true;
      any_inferred = true;
    }
  }
  std::vector<std::vector<Value>> held;
  std::int64_t rows = 0;
  if (any_inferred) {
    std::vector<Row> raw;
    while (more(static_cast<std::int64_t>(raw.size())) && raw.size() < kRowsToSettleTypes) {
      Row row(static_cast<size_t>(columns));
      for (int i = 0; i < columns; ++i) {
        row[i] = PlainValue(sqlite3_column_value(statement, i));
        if (guesses[i].inferred) guesses[i].Observe(row[i]);
      }
      raw.push_back(std::move(row));
      rc = StepAndWarn(sink);
    }
    for (int i = 0; i < columns; ++i) {
      if (guesses[i].inferred) metadata[i].type = guesses[i].Type();
    }
    sink.BeginResult(metadata);
    for (Row& row : raw) {
      for (int i = 0; i < columns; ++i) row[i] = ConvertForType(row[i], metadata[i].type);
      sink.AddRow(row);
      ++rows;
    }
  } else {
    sink.BeginResult(metadata);
  }
  // One row buffer for the whole result: rows are streamed, never kept.
  Row row(static_cast<size_t>(columns));
  while (more(rows)) {
    for (int i = 0; i < columns; ++i) row[i] = ColumnValue(statement, i, metadata[i].type);
    sink.AddRow(row);
    ++rows;
    rc = StepAndWarn(sink);
  }
  return rows;
}

std::optional<Value> SqliteStatement::Scalar() {
  if (Step() != SQLITE_ROW) return std::nullopt;
  Value value = RowValue(0);
  while (Step() == SQLITE_ROW) {
  }
  return value;
}

Value SqliteStatement::RowValue(int column) const {
  // Typed by the binder, a value is what SQL Server holds (7 / 2.0 is
  // decimal(8,6)), so converting it further follows SQL Server's rules.
  if (text_.typed_result && static_cast<size_t>(column) < text_.result_columns.size())
    return TypedColumnValue(statement_.get(), column);
  return PlainValue(sqlite3_column_value(statement_.get(), column));
}

Value SqliteStatement::TypedColumnValue(sqlite3_stmt* statement, int column) const {
  const ColumnType& type = text_.result_columns[static_cast<size_t>(column)].type;
  if (text_.exact_stored_form) return GeneratedColumnValue(statement, column, type);
  return ColumnValue(statement, column, type);
}

std::int64_t SqliteStatement::Run() {
  while (Step() == SQLITE_ROW) {
  }
  return sqlite3_changes64(db_);
}

}  // namespace sqlengine::exec
