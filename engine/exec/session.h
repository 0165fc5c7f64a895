#pragma once
// One client session: its login, current database, connection, batch
// variables and transaction depth. The executor's pieces (batch execution,
// server statements, system procedures) work on it through this class.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/catalog/master_catalog.h"
#include "engine/common/engine_api.h"
#include "engine/exec/bulk_insert_statement.h"
#include "engine/exec/commit_watch.h"
#include "engine/exec/date_settings.h"
#include "engine/exec/server_cursors.h"
#include "engine/exec/session_connection.h"
#include "engine/exec/session_options.h"
#include "engine/exec/session_rights.h"
#include "engine/exec/sql_functions.h"
#include "engine/exec/text_size_sink.h"
#include "engine/exec/try_catch.h"
#include "engine/exec/tsql_cursors.h"
#include "engine/tsql/statement.h"

namespace sqlengine::exec {

class EngineImpl;
class BatchExecutor;
struct ResolvedBulkTarget;

struct Variable {
  ColumnType type;
  Value value;
  // Batch offset of the DECLARE's name that made it; none for parameters.
  std::optional<std::size_t> declared_at;
};

// SET TRANSACTION ISOLATION LEVEL. How each behaves on SQLite is described
// in doc/storage.md ("Sessions and locking").
enum class IsolationLevel {
  kReadUncommitted,
  kReadCommitted,
  kRepeatableRead,
  kSnapshot,
  kSerializable
};

class Session final : public SqlSession, public FunctionHost {
 public:
  Session(EngineImpl& engine, catalog::LoginEntry login, int spid);
  ~Session() override;

  // Makes `database` current (USE). Throws SqlError 911 when it is unknown
  // or being removed, 916 when the login is no user there; the previous
  // database stays current then. Outside a transaction the connection
  // reopens on `database`; inside one `database` is attached to it and
  // names without a database reach it (the transaction covers both files)
  // until SettleUsedDatabase moves the connection there.
  void UseDatabase(std::string_view database, ResultSink* sink, int line);
  // Once no transaction is open and no stretch of another database's work
  // runs (DatabaseStretches), a USE made inside the transaction that still
  // holds moves the connection to its database, which the client was told
  // of already. Logs a failure (the session stays where it is).
  void SettleUsedDatabase();
  // DatabaseContext objects alive now (database_context.h).
  int& DatabaseStretches() { return database_stretches_; }
  // The entry of `database` when this login may work in it: throws SqlError
  // 911 when it is unknown or being removed, 916 when the login is no user
  // there, and what CheckDatabaseEntry throws for its state and options.
  catalog::DatabaseEntry DatabaseToUse(std::string_view database);

  // SqlSession
  void ExecuteBatch(const std::string& sql_utf8, ResultSink& sink) override;
  void ExecuteRpc(const RpcCall& call, ResultSink& sink) override;
  void Transaction(const TmCall& call, ResultSink& sink) override;
  void BulkLoad(BulkRowSource& rows, ResultSink& sink) override;
  void Cancel() override;
  std::string CurrentDatabase() const override { return connection_.Database(); }
  int Spid() const override { return spid_; }
  void SetDisconnect(std::function<void()> disconnect) override;
  void SetClientGone(std::function<bool()> client_gone) override;

  // FunctionHost
  std::optional<int> ServerRoleMember(std::string_view role,
                                      std::optional<std::string_view> login) override;
  std::string DatabaseName() override { return connection_.UnqualifiedDatabase(); }
  std::string LoginName() override { return login_.name; }
  std::optional<std::string> DatabaseUserName(std::optional<int> uid) override;
  std::optional<int> DatabaseRoleMember(std::string_view role) override;
  std::optional<int> DatabaseAccess(std::string_view database) override;
  int StatementPermissions() override;
  std::string ProcessRows() override;
  std::string TempTablesElsewhere() override;
  std::optional<int> ConfigurationInUse(std::string_view option) override;
  std::optional<int> SessionSetting(std::string_view option) override;
  std::string UnqualifiedSchema() override { return connection_.UnqualifiedSchema(); }
  std::optional<int> ObjectPermissions(std::string_view schema, std::string_view object,
                                       std::string_view xtype,
                                       const std::vector<std::string>& columns,
                                       std::optional<std::string_view> column) override;
  std::string ClientProgram() override { return client_.app_name; }
  std::string ClientHost() override { return client_.host_name; }
  std::uint32_t ClientProcess() override { return client_.client_pid; }
  std::optional<Value> DatabasePropertyOf(std::string_view database, std::string_view property,
                                          bool extended) override;
  StatementAuthorizer* Authorizer() override { return &connection_.Authorizer(); }
  Value CallUserFunction(const std::vector<std::string>& name,
                         const std::vector<Value>& arguments) override;
  std::string CallTableFunction(const std::vector<std::string>& name,
                                const std::vector<Value>& arguments) override;
  std::string ExtendedPropertyRows(const std::vector<Value>& arguments) override;
  Value EvaluateBuiltin(std::string_view name, const std::vector<Value>& arguments) override;
  bool MayRead(std::string_view schema, std::string_view object) override {
    return schema == "temp" || !rights_.Check(schema, object, Access::kSelect, {}).has_value();
  }
  bool MayUseDatabase(std::string_view database) override;
  const ServerMessage* HandledError() override {
    return try_catch_.handled.empty() ? nullptr : &try_catch_.handled.back();
  }
  bool InTransaction() override { return tran_count_ > 0; }
  int CursorStatus(std::string_view scope, std::string_view name) override {
    return tsql_cursors_.Status(scope, name);
  }
  void NoteNullEliminated() override {
    if (options_.ansi_warnings) null_eliminated_ = true;
  }
  // Whether an aggregate skipped a NULL since the last call (ANSI_WARNINGS
  // ON), for warning 8153; clears it.
  bool TakeNullEliminated() { return std::exchange(null_eliminated_, false); }

  // What the client said of itself at login (program, workstation, process).
  // Also enters the session in the engine's registry (sp_who).
  void SetClient(const LoginRequest& request);
  const LoginRequest& Client() const { return client_; }

  EngineImpl& Engine() { return engine_; }
  SessionConnection& Connection() { return connection_; }
  SessionRights& Rights() { return rights_; }
  const catalog::LoginEntry& Login() const { return login_; }
  bool IsSysadmin();
  bool Cancelled() const { return cancelled_.load(); }
  const std::atomic<bool>& CancelFlag() const { return cancelled_; }
  // Waits until the deadline or a Cancel(), whichever comes first; true when cancelled.
  bool WaitCancelled(std::chrono::steady_clock::time_point deadline);

  std::map<std::string, Variable>& Variables() { return variables_; }
  std::int64_t& RowCount() { return row_count_; }
  int& LastError() { return last_error_; }
  int& TranCount() { return tran_count_; }
  // SET NOCOUNT: statements report no row counts while on.
  bool& NoCount() { return no_count_; }
  SessionOptions& Options() { return options_; }
  // SET DATEFORMAT / DATEFIRST / LANGUAGE; current on the thread while a request runs.
  DateSettings& Dates() { return date_settings_; }
  // SET ROWCOUNT: the most rows a statement returns or changes; 0 for no limit.
  std::int64_t& RowCountLimit() { return row_count_limit_; }
  // SET TEXTSIZE: the most bytes of a text, ntext, image or MAX value sent.
  std::int64_t& TextSize() { return text_size_; }
  // SET QUOTED_IDENTIFIER: whether "x" is a name (ON) or a string (OFF) in the
  // batches lexed after it.
  bool& QuotedIdentifier() { return quoted_identifier_; }
  // Stored procedures running inside each other (@@NESTLEVEL).
  int& NestingLevel() { return nesting_level_; }
  // @@PROCID: the object id of the procedure, trigger or function whose body
  // runs; 0 in a batch and in dynamic SQL.
  std::int64_t& ModuleId() { return module_id_; }
  // @@IDENTITY: the identity value the session's last INSERT assigned, in any
  // scope (a trigger's insert included); nullopt after one into a table
  // without an identity column.
  std::optional<std::int64_t>& LastIdentity() { return last_identity_; }
  // SCOPE_IDENTITY(): the same, counting only the running scope's INSERTs (a
  // batch, procedure, trigger, function or dynamic SQL string). A scope starts
  // with nullopt: see IdentityScope.
  std::optional<std::int64_t>& ScopeIdentity() { return scope_identity_; }
  // Records the identity an INSERT assigned, for both of the above.
  void RecordIdentity(std::optional<std::int64_t> identity) {
    last_identity_ = identity;
    scope_identity_ = identity;
  }
  // The table (lower case) SET IDENTITY_INSERT ... ON applies to; empty when none.
  std::string& IdentityInsertTable() { return identity_insert_table_; }
  // Begins / commits / rolls back the SQLite transaction behind BEGIN TRAN
  // nesting, telling the client through an environment change. The outermost
  // BEGIN's name is kept for ROLLBACK TRAN name.
  void BeginTransaction(ResultSink& sink, const std::string& name = {});
  const std::string& TransactionName() const { return transaction_name_; }
  void CommitTransaction(ResultSink& sink, int line);
  void RollbackTransaction(ResultSink& sink, int line);
  // Re-reads the transaction depth after SQLite may have rolled back on its own.
  void SyncTransactionState(ResultSink* sink);
  IsolationLevel& Isolation() { return isolation_; }
  // Whether a COMMIT or ROLLBACK closes the open cursors: SET
  // CURSOR_CLOSE_ON_COMMIT, else the current database's option.
  bool ClosesCursorsOnCommit();
  // GLOBAL T-SQL cursors, @@FETCH_STATUS and @@CURSOR_ROWS; kept for the connection.
  SessionCursors& Cursors() { return tsql_cursors_; }
  TryCatchState& TryCatch() { return try_catch_; }
  // The savepoints (SAVE TRAN names) the open transaction has made, oldest first.
  std::vector<std::string>& Savepoints() { return savepoints_; }
  // After ROLLBACK TRAN name reached `name`: the savepoints made after it are gone.
  void RolledBackTo(const std::string& name);
  // When the connection's files last had no read snapshot, and whether anyone
  // committed to them since (READ COMMITTED renews a snapshot only then).
  CommitWatch& Commits() { return commits_; }
  // Procedure bodies (as parsed and kept) whose syntax check passed and rests
  // on their text alone: it need not be made again for them.
  bool SyntaxPassed(const std::shared_ptr<const tsql::StatementList>& body) const;
  void NoteSyntaxPassed(const std::shared_ptr<const tsql::StatementList>& body);

  // Runs `statement` with the variables `declarations` declares, their values
  // taken from params[first_value...] by position or name. Returns the final
  // values of the OUTPUT ones, in the type the client declared, for the
  // RETURNVALUEs that follow RETURNSTATUS. Throws SqlError for a value that
  // does not convert to its variable's type (8145 for an unknown name).
  std::vector<OutputValue> RunParameterised(const std::string& statement,
                                            const std::string& declarations,
                                            const std::vector<RpcParam>& params,
                                            size_t first_value, ResultSink& sink);
  // A server cursor's SELECT with its parameters (declared, then their
  // values in order or by name), as RunParameterised runs a statement, but
  // bound and compiled once for the cursor's life in `seeks`. Returns its
  // rows; nullopt when it failed (its errors reached the sink).
  std::optional<std::vector<Row>> RunCursorStatement(const tsql::Statement& select,
                                                     const std::string& declarations,
                                                     const std::vector<RpcParam>& params,
                                                     CursorSeeks& seeks, ResultSink& sink);
  // sp_prepare, sp_cursorprepare: the columns a SELECT will return, as a
  // result without rows, found by running it once with its parameters NULL
  // and at most one row. Other statements describe nothing; errors reach
  // the sink as messages.
  void DescribeResult(const std::string& statement, const std::string& declarations,
                      ResultSink& sink);

 private:
  // Drops the ##tables this session made (global_temp_tables.h), after
  // rolling back what it left open. Failures are logged, not thrown.
  void DropOwnGlobalTempTables();
  // `before_end` runs once the batch has ended normally, while its variables
  // still hold their values. With `keep_parse`, the text's parse is kept
  // for its next run (KeptParse), its statements' bindings with it.
  void RunBatch(const std::string& sql, ResultSink& sink,
                const std::function<void()>& before_end = {}, bool keep_parse = false);
  // `sql` parsed, as kept for texts sent again and again (a prepared or
  // sp_executesql statement), by the text and the QUOTED_IDENTIFIER setting
  // it is read under; a parse that read a user-defined type is not kept.
  // Throws the parser's SqlError.
  std::shared_ptr<const tsql::StatementList> KeptParse(const std::string& sql);
  // Ended by another session's ALTER DATABASE ... WITH ROLLBACK: rolls back,
  // closes the database and stops counting as its user. Runs with the
  // engine's session registry locked, never during one of this session's
  // requests.
  void LeaveEvictedDatabase();
  // Tells the engine's registry which #temp tables the session holds now,
  // for other sessions' tempdb catalogs; cheap when their schema is as it
  // was. Logs a failure.
  void PublishTempTables();
  friend class RequestActivity;
  // An RPC of a stored procedure: return status, then output parameters.
  void CallByName(const RpcCall& call, BatchExecutor& executor, ResultSink& sink);

  EngineImpl& engine_;
  catalog::LoginEntry login_;
  LoginRequest client_;  // program, workstation and process only; no password
  int spid_;
  std::int64_t published_temp_schema_ = 0;  // the temporary schema's version published
  std::atomic<bool> cancelled_{false};
  std::mutex cancel_mutex_;
  std::condition_variable cancel_signal_;
  SessionConnection connection_;
  SessionRights rights_;
  std::map<std::string, Variable> variables_;  // lower-case "@name"
  std::int64_t row_count_ = 0;
  int last_error_ = 0;
  int tran_count_ = 0;
  int database_stretches_ = 0;
  SessionOptions options_;
  bool null_eliminated_ = false;
  unsigned arithmetic_owed_ = 0;  // arithmetic_errors.h
  bool no_count_ = false;
  DateSettings date_settings_;
  std::int64_t row_count_limit_ = 0;
  std::int64_t text_size_ = kUnlimitedTextSize;
  bool quoted_identifier_ = true;
  int nesting_level_ = 0;
  std::int64_t module_id_ = 0;
  std::optional<std::int64_t> last_identity_;
  std::optional<std::int64_t> scope_identity_;
  std::string identity_insert_table_;
  std::uint64_t transaction_descriptor_ = 0;
  // The engine's security generation when the open transaction began.
  std::uint64_t transaction_security_generation_ = 0;
  std::string transaction_name_;
  IsolationLevel isolation_ = IsolationLevel::kReadCommitted;
  std::vector<std::string> savepoints_;
  CommitWatch commits_;
  static constexpr std::size_t kSyntaxPassedKept = 64;
  std::vector<std::weak_ptr<const tsql::StatementList>> syntax_passed_;
  static constexpr std::size_t kKeptParses = 64;
  static constexpr std::size_t kLongestKeptParse = 16384;  // characters of text
  std::unordered_map<std::string, std::shared_ptr<const tsql::StatementList>> kept_parses_;
  // The transaction ended: forgets its savepoints and its write locks, and
  // closes the open cursors when ClosesCursorsOnCommit().
  void TransactionEnded();
  // Answers a batch that is an INSERT BULK: checks its target and keeps it
  // for the BULKLOAD message that follows.
  void PrepareBulkInsert(const std::string& sql, ResultSink& sink);
  // The INSERT BULK the next request, if it is a BULKLOAD message, fills;
  // any other request forgets it.
  std::optional<BulkInsertStatement> pending_bulk_insert_;
  // Its target as resolved, kept for its rows and the next batch's.
  std::shared_ptr<const ResolvedBulkTarget> bulk_target_;
  // sp_prepare / sp_prepexec handles: statement and declarations.
  std::map<int, std::pair<std::string, std::string>> prepared_;
  int next_prepared_ = 1;
  // API server cursors (sp_cursoropen ...); freed with the session.
  ServerCursors cursors_{*this};
  SessionCursors tsql_cursors_;
  TryCatchState try_catch_;
};

}  // namespace sqlengine::exec
