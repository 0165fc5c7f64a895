// INSERT [INTO] table [(columns)] EXEC[UTE] procedure ...: the rows of every
// result set the procedure sends are inserted, all or none.

#include <map>
#include <utility>

#include "engine/catalog/sqlite_handle.h"
#include "engine/exec/batch_executor.h"
#include "engine/exec/constraint_conflicts.h"
#include "engine/exec/front_end_dml.h"
#include "engine/exec/identity_values_taken.h"
#include "engine/exec/session.h"
#include "engine/exec/write_lock.h"
#include "engine/tsql/for_xml.h"
#include "engine/tsql/lexer.h"
#include "engine/tsql/syntax_error.h"

namespace sqlengine::exec {
namespace {

constexpr std::string_view kRowParameter = "@sqlengine_row_";

// One result set the procedure sent.
struct SentRows {
  std::vector<Column> columns;
  std::vector<Row> rows;
};

// Keeps the procedure's rows; passes its messages and errors on, and drops
// what belongs to its own statements (counts, return status).
class RowCollector final : public ResultSink {
 public:
  explicit RowCollector(ResultSink& outer) : outer_(outer) {}
  void BeginResult(const std::vector<Column>& columns) override {
    // A FOR XML result goes to the client only: SQL Server refuses it here.
    if (columns.size() == 1 && columns.front().name == tsql::kForXmlColumnName)
      throw MakeError(6819, {"INSERT"});
    results.push_back(SentRows{columns, {}});
  }
  void AddRow(const Row& row) override {
    if (results.empty()) results.emplace_back();
    results.back().rows.push_back(row);
  }
  void Message(const ServerMessage& message) override { outer_.Message(message); }
  void Done(const StatementDone& done) override {
    if (done.error) outer_.Done(StatementDone{std::nullopt, true});
  }
  void ReturnStatus(std::int32_t) override {}
  void ReturnValue(const OutputValue&) override {}
  void Environment(const EnvChange& change) override { outer_.Environment(change); }

  std::vector<SentRows> results;

 private:
  ResultSink& outer_;
};

// The values of one row as @sqlengine_row_N; every other name as the batch binds it.
class RowParameters final : public ParameterSource {
 public:
  RowParameters(const Row& row, ParameterSource& batch) : row_(row), batch_(batch) {}
  Value Parameter(std::string_view name, int line) override {
    if (!name.starts_with(kRowParameter)) return batch_.Parameter(name, line);
    size_t index = std::stoul(std::string(name.substr(kRowParameter.size())));
    return index < row_.size() ? row_[index] : Value{};
  }

 private:
  const Row& row_;
  ParameterSource& batch_;
};

// While it lives, @sqlengine_row_0 ... stand declared with the types of a
// result set's columns, so the front end binds `INSERT target VALUES (...)`
// with every value converted as its column stores it.
class RowVariables {
 public:
  RowVariables(std::map<std::string, Variable>& variables, const std::vector<Column>& columns)
      : variables_(variables) {
    for (size_t k = 0; k < columns.size(); ++k) {
      std::string name = std::string(kRowParameter) + std::to_string(k);
      if (auto it = variables_.find(name); it != variables_.end()) hidden_.push_back(*it);
      variables_[name] = Variable{columns[k].type, Value{}, std::nullopt};
      names_.push_back(std::move(name));
    }
  }
  ~RowVariables() {
    for (const std::string& name : names_) variables_.erase(name);
    for (auto& [name, variable] : hidden_) variables_[name] = variable;
  }
  RowVariables(const RowVariables&) = delete;
  RowVariables& operator=(const RowVariables&) = delete;

 private:
  std::map<std::string, Variable>& variables_;
  std::vector<std::string> names_;
  std::vector<std::pair<std::string, Variable>> hidden_;
};

// `target` (INSERT [INTO] t [(columns)]) with VALUES of `width` row parameters.
tsql::Statement InsertOfRow(const tsql::Statement& target, size_t width) {
  std::string values = " VALUES (";
  for (size_t k = 0; k < width; ++k)
    values += (k ? ", " : "") + std::string(kRowParameter) + std::to_string(k);
  tsql::Statement insert;
  insert.kind = target.kind;
  insert.line = target.line;
  insert.tokens = target.tokens;
  insert.with = target.with;
  for (tsql::Token token : tsql::LexClientText(values + ")")) {
    if (token.kind == tsql::TokenKind::kEnd) break;
    token.line = target.line;
    insert.tokens.push_back(std::move(token));
  }
  return insert;
}

}  // namespace

std::optional<size_t> BatchExecutor::InsertExecuteAt(const tsql::Statement& statement) {
  if (statement.kind != tsql::StatementKind::kInsert) return std::nullopt;
  int depth = 0;
  for (size_t i = 1; i < statement.tokens.size(); ++i) {
    const tsql::Token& token = statement.tokens[i];
    if (token.IsSymbol("(")) ++depth;
    if (token.IsSymbol(")")) --depth;
    if (depth == 0 && (token.IsWord("exec") || token.IsWord("execute"))) return i;
  }
  return std::nullopt;
}

void BatchExecutor::InsertFromExecute(const tsql::Statement& statement, size_t execute_at) {
  tsql::Statement target;
  target.kind = statement.kind;
  target.line = statement.line;
  target.tokens.assign(statement.tokens.begin(),
                       statement.tokens.begin() + static_cast<std::ptrdiff_t>(execute_at));
  tsql::Statement call;
  call.kind = tsql::StatementKind::kExecute;
  call.line = statement.line;
  call.tokens.assign(statement.tokens.begin() + static_cast<std::ptrdiff_t>(execute_at),
                     statement.tokens.end());
  if (call.tokens.size() < 2) throw tsql::SyntaxError(call.tokens.back());
  // The target's syntax is checked before the procedure runs.
  CheckChangeSyntax(InsertOfRow(target, 1));

  RowCollector collector(sink_);
  BatchExecutor nested(session_, collector);
  nested.procedure_ = procedure_;
  nested.Execute(call);
  if (nested.abort_callers_) {
    abort_callers_ = true;
    return;
  }

  sqlite3* db = session_.Connection().Handle();
  std::optional<std::string> written = WrittenDatabase(statement);
  std::string schema = !written || *written == "#" ? std::string("temp")
                                                   : session_.Connection().SchemaOf(*written);
  std::string written_schema = SchemaWritten(target, schema);
  FailedStatement context{nullptr, "INSERT",
                          written_schema == schema ? ConflictDatabase(session_, statement)
                                                   : ConflictDatabaseOf(session_, written_schema),
                          statement.line};
  LockForWrite(session_, written_schema);
  std::optional<ChangeTriggers> triggers = TriggersOfChange(target, schema);
  catalog::Exec(db, "SAVEPOINT sqlengine_insert_execute");
  std::int64_t inserted = 0;
  std::optional<IdentityValuesTaken> identities_taken;
  try {
    std::optional<RowChangeCapture> capture;
    if (triggers) capture.emplace(db, triggers->schema, triggers->table);
    for (const SentRows& result : collector.results) {
      if (result.rows.empty()) continue;
      size_t width = result.columns.empty() ? result.rows.front().size() : result.columns.size();
      std::optional<tsql::SqliteText> insert;
      try {
        RowVariables declared(session_.Variables(), result.columns);
        insert = FrontEndChange(InsertOfRow(target, width), session_);
      } catch (const SqlError& error) {
        // Rows that do not match the columns are SQL Server's 213 here.
        if (error.message().number == 109 || error.message().number == 110) {
          SqlError mismatch = MakeError(213);
          mismatch.message().line = statement.line;
          throw mismatch;
        }
        throw;
      }
      if (!identities_taken)
        identities_taken.emplace(
            db, statement.tokens,
            NameWritten(std::string_view(insert->sql).substr(insert->statement_offset)));
      for (const Row& row : result.rows) {
        RowParameters parameters(row, *this);
        inserted += SqliteStatement(db, session_.Connection().Authorizer(),
                                    tsql::SqliteText(*insert), context, parameters)
                        .Run();
      }
    }
    // The rows are in: what fails from here (a trigger) took no more values.
    identities_taken.reset();
    if (triggers) {
      RowImages images = capture->ReadNewRows();
      capture.reset();
      // An INSTEAD OF trigger gets the rows instead of the table.
      if (triggers->instead) catalog::Exec(db, "ROLLBACK TO sqlengine_insert_execute");
      if (!FireTriggers(*triggers, images, {}, inserted, statement.line)) {
        // The trigger ended the transaction, savepoint and all.
        abort_callers_ = true;
        return;
      }
    }
    catalog::Exec(db, "RELEASE sqlengine_insert_execute");
  } catch (...) {
    if (sqlite3_get_autocommit(db) == 0) {
      sqlite3_exec(db, "ROLLBACK TO sqlengine_insert_execute; RELEASE sqlengine_insert_execute",
                   nullptr, nullptr, nullptr);
    }
    if (identities_taken)
      identities_taken->KeepAfterFailure(std::current_exception(), session_.IdentityInsertTable());
    throw;
  }
  session_.RowCount() = inserted;
  Done(inserted);
}

}  // namespace sqlengine::exec
