#pragma once
// One rewritten statement run on the session's connection: prepared, its
// @variables and @@values bound, and its rows streamed to a sink or read as
// a single value.

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include "engine/catalog/sqlite_handle.h"
#include "engine/common/sink.h"
#include "engine/exec/compiled_statements.h"
#include "engine/exec/sqlite_errors.h"
#include "engine/exec/statement_authorizer.h"
#include "engine/exec/statement_cache.h"
#include "engine/tsql/sqlite_text.h"

namespace sqlengine::exec {

// Supplies the value of a parameter ("@name" or a system variable). Throws
// SqlError 137 for an undeclared variable.
class ParameterSource {
 public:
  virtual ~ParameterSource() = default;
  virtual Value Parameter(std::string_view name, int line) = 0;
  // The declared type of a variable; nullopt when it has none.
  virtual std::optional<ColumnType> ParameterType(std::string_view) { return std::nullopt; }
};

// Compiles a user's statement text under the user rules of `authorizer`,
// as sqlite3_prepare_v3 does (the statement in *compiled, the rest of the
// text at *tail); returns SQLite's result code. `reaches`: what the front end
// bound the text to reach (see StatementAuthorizer::ReachScope). On success
// *stored_calls is StatementAuthorizer::SettleStoredCalls's schema, which
// the statement must run under; a statement it refuses fails with SQLITE_AUTH.
int CompileUserStatement(sqlite3* db, StatementAuthorizer& authorizer, const std::string& sql,
                         sqlite3_stmt** compiled, const char** tail, std::string* stored_calls,
                         const std::vector<tsql::ObjectReach>* reaches = nullptr);

// Rows held back to settle the types of expression columns.
inline constexpr size_t kRowsToSettleTypes = 1000;

// Where a statement may come from compiled and go back to after its run:
// `cache`, for the `context` read before the statement compiles.
struct StatementReuse {
  StatementCache* cache = nullptr;
  StatementCache::Context context;
};

class SqliteStatement {
 public:
  // The text is a user's: it compiles (and recompiles) under the user rules
  // of `authorizer`, unless `compiled` or `reuse` holds it compiled already.
  // Throws SqlError (via ThrowSqliteError, or the authorizer's refusal) when
  // SQLite refuses the text.
  SqliteStatement(sqlite3* db, StatementAuthorizer& authorizer, tsql::SqliteText text,
                  FailedStatement context, ParameterSource& parameters,
                  CompiledStatements* compiled = nullptr,
                  std::optional<StatementReuse> reuse = std::nullopt);

  bool ReturnsRows() const { return sqlite3_column_count(statement_.get()) > 0; }

  // Runs to completion. With rows: BeginResult / AddRow to the sink; returns
  // the number of rows, or of rows changed for a statement without rows. A
  // positive row_limit (SET ROWCOUNT) stops the rows after that many. The
  // caller sends Done. Throws SqlError, Cancelled or ClientGone.
  std::int64_t Stream(ResultSink& sink, std::int64_t row_limit = 0);
  // Runs and returns the first column of the first row (nullopt: no row).
  std::optional<Value> Scalar();
  // Column `column` of the current row: of the binder's type when the text
  // carries one, else as SQLite holds it. Throws SqlError as ColumnValue.
  Value RowValue(int column) const;
  // Runs, calling on_row for every row; returns the number of rows.
  template <typename OnRow>
  std::int64_t ForEachRow(OnRow on_row) {
    std::int64_t rows = 0;
    while (Step() == SQLITE_ROW) {
      on_row(statement_.get());
      ++rows;
    }
    return rows;
  }
  // Runs, ignoring rows; returns the rows changed.
  std::int64_t Run();

  // Resets the statement: it holds no read of the database any more.
  void Reset() { sqlite3_reset(statement_.get()); }
  // How often SQLite compiled the text again while it ran (after a schema
  // change), so far.
  int Recompilations() const;
  // Hands the compiled statement, reset and unbound, to `kept` for the next
  // run of the same text; this object is of no more use.
  void KeepIn(CompiledStatements& kept);
  // After a run that ended well: hands the compiled statement, reset and
  // unbound, back to the cache of the StatementReuse it was made with (if
  // any); this object is of no more use.
  void KeepForReuse();
  // Whether the statement came compiled from a StatementReuse's cache.
  bool Reused() const { return reused_; }
  // Stream asks `take` after every step whether an aggregate skipped a NULL
  // since it last asked, and sends warning 8153 to its sink the first time
  // one did (once per run): before the row that step made, or after the
  // last row.
  void WarnOfSkippedNulls(std::function<bool()> take) { skipped_nulls_ = std::move(take); }

 private:
  // Binds the text's literal value the parameter `name` stands for.
  void BindLiteral(sqlite3_stmt* raw, int index, std::string_view name);
  int Step();
  // Step, then the warning WarnOfSkippedNulls asks for.
  int StepAndWarn(ResultSink& sink);
  [[noreturn]] void Fail(int rc);
  // Column `column` of the current row as the binder typed it, read in the
  // form the text says its exact columns carry.
  Value TypedColumnValue(sqlite3_stmt* statement, int column) const;

  sqlite3* db_;
  StatementAuthorizer& authorizer_;
  tsql::SqliteText text_;
  FailedStatement context_;
  catalog::PreparedStatement statement_;
  std::optional<StatementReuse> reuse_;
  bool reused_ = false;
  std::string stored_calls_;  // see CompileUserStatement
  std::function<bool()> skipped_nulls_;
  bool warned_of_nulls_ = false;
};

}  // namespace sqlengine::exec
