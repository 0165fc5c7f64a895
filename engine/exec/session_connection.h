#pragma once
// A session's SQLite connection: its current database as "main", the other
// databases a batch reaches ATTACHed under their own names, the busy and
// progress handlers that honour the session's cancel flag, and the T-SQL
// functions. Used on the session's thread only, except Interrupt().
//
// Commits do not sync the log themselves (synchronous=NORMAL): the
// connection notes each one, opens the session's write-lock gates once no
// transaction is left, and MakeCommitsDurable() syncs the logs (grouped with
// other sessions' commits, see log_syncs.h) before anything about them
// reaches the client. Checkpoints, which SQLite would run inside the commit,
// run there too, after the write lock has passed on.

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>

#include "engine/catalog/master_catalog.h"
#include "engine/catalog/sqlite_handle.h"
#include "engine/exec/bound_texts.h"
#include "engine/exec/compiled_statements.h"
#include "engine/exec/dirty_reads.h"
#include "engine/exec/sql_functions.h"
#include "engine/exec/statement_authorizer.h"
#include "engine/exec/statement_cache.h"
#include "engine/exec/table_shapes.h"
#include "engine/tsql/name_resolver.h"

namespace sqlengine::exec {

class EngineImpl;

class SessionConnection final : public tsql::NameResolver {
 public:
  // cancelled and host must outlive the connection; spid names the session
  // in the engine's queue of writers.
  SessionConnection(EngineImpl& engine, const std::atomic<bool>& cancelled, FunctionHost& host,
                    int spid);
  ~SessionConnection() override;
  SessionConnection(const SessionConnection&) = delete;
  SessionConnection& operator=(const SessionConnection&) = delete;

  // Makes `entry` the main database, closing the previous connection and its
  // attachments. Throws SqlError 4060-like failures as std::runtime_error.
  void Open(const catalog::DatabaseEntry& entry);
  void Close();
  sqlite3* Handle() const { return db_.get(); }
  // A second connection with the same schema names that reads the
  // uncommitted rows of the sessions writing its files (dirty_reads.h);
  // remade when who writes what has changed, dropped between batches.
  // Throws std::runtime_error when a file cannot be opened.
  sqlite3* DirtyReadHandle() { return SecondReadHandle(true); }
  // The same connection reading only this session's own uncommitted rows
  // (of the files its transaction has written) and every other file as last
  // committed, whatever snapshot of it this connection's transaction holds.
  // nullptr when a file the transaction wrote cannot be read there: a schema
  // change of the transaction locks the file's schema against the other
  // connections of its page cache until it ends.
  sqlite3* FreshReadHandle();
  const std::string& Database() const { return database_; }

  // Detaches every database a batch attached (master stays, and the one
  // names without a database resolve in) and releases their usage. Call
  // between batches.
  void ReleaseAttachments();
  // Whether `database` is attached now (dropping it must detach it first).
  bool Detach(std::string_view database);

  // Thread-safe: makes a running statement stop with SQLITE_INTERRUPT.
  void Interrupt();

  // Returns once every commit made on this connection is on disk, then runs
  // the checkpoints those commits made due. Cheap when nothing is pending.
  // Throws std::runtime_error when the log cannot be synced.
  void MakeCommitsDurable() {
    if (!unsynced_.empty() || !checkpoints_due_.empty()) SyncCommits();
  }

  // Lock waits give up after this long (then error 1222) unless the
  // session sets its own (SET LOCK_TIMEOUT).
  static constexpr std::chrono::seconds kLockTimeout{30};
  // SET LOCK_TIMEOUT: milliseconds; -1 waits until cancelled, 0 not at all.
  void SetLockTimeout(int milliseconds) { lock_timeout_ms_ = milliseconds; }
  int LockTimeout() const { return lock_timeout_ms_; }
  // The data file behind a schema name of this connection ("main" or an
  // attached database's alias); empty for "temp" and unknown names.
  std::string FileOf(std::string_view schema) const;

  // Guards what user statements compiled on this connection may touch.
  StatementAuthorizer& Authorizer() { return authorizer_; }
  // The statements the running batch's syntax check compiled, for its run;
  // forgotten between batches and when the attached databases change.
  CompiledStatements& SyntaxChecked() { return syntax_checked_; }
  // User statements kept compiled across requests (statement_cache.h).
  StatementCache& Statements() { return statements_; }
  // Tables' shapes as the binder reads them (table_shapes.h).
  TableShapes& Shapes() { return shapes_; }
  // Kept bodies' statements as the front end bound them (bound_texts.h).
  BoundTexts& Bound() { return bound_; }
  // While it lives, the front end's bindings note what they ask in `notes`
  // (bound_texts.h); the recording before it comes back afterwards.
  class Recording {
   public:
    Recording(SessionConnection& connection, BoundTexts::Notes* notes)
        : connection_(connection), previous_(connection.recording_) {
      connection_.recording_ = notes;
    }
    ~Recording() { connection_.recording_ = previous_; }
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;

   private:
    SessionConnection& connection_;
    BoundTexts::Notes* previous_;
  };
  // The notes of the binding being recorded; null when none is.
  BoundTexts::Notes* Recorded() const { return recording_; }

  // One T-SQL statement's run (its binding, identity rules, triggers): the
  // rows of sqlite_schema FindStoredTable read for tables may be used again
  // within it (RememberedTable) until a statement that may change a schema
  // runs on this connection. A later statement uses them again only while
  // the catalog context they were read in (StatementContext: the rules, the
  // epoch, every database's schema version) is the present one, asked once
  // at its first use; so another session's DDL, DDL rolled back and USE are
  // seen from the next statement on. Outside a scope none is used. Nests.
  class StatementScope {
   public:
    explicit StatementScope(SessionConnection& connection) : connection_(connection) {
      ++connection_.statement_depth_;
      connection_.NewStatementForRows();
    }
    ~StatementScope() {
      --connection_.statement_depth_;
      connection_.NewStatementForRows();
    }
    StatementScope(const StatementScope&) = delete;
    StatementScope& operator=(const StatementScope&) = delete;

   private:
    SessionConnection& connection_;
  };
  // What FindStoredTable last read for (`schema`, `table`), when it may be
  // used again; null otherwise.
  const std::optional<StoredTable>* RememberedTable(std::string_view schema,
                                                    std::string_view table);
  // Whether a row read now is remembered: inside a StatementScope.
  bool RemembersTables() const { return statement_depth_ > 0; }
  // `context`: the StatementContext read before `found` was, by which later
  // statements may use it; nullopt to use it within this statement only.
  void RememberTable(std::string_view schema, std::string_view table,
                     std::optional<StoredTable> found,
                     std::optional<StatementCache::Context> context);
  // `rules` tells which security rules user statements are authorised under
  // now, as CompiledStatements::FollowRules takes it. Until it is set,
  // StatementContext gives none.
  void FollowRules(std::function<std::uint64_t()> rules);
  // The context a user statement compiled now is compiled in (reads the
  // schema version of every database reached, unless what it read last still
  // holds: see context_changes_); nullopt while no statement may be kept: a
  // catalog view exposed the engine's tables to this batch, or no database
  // is open.
  std::optional<StatementCache::Context> StatementContext();
  // The database reached under SQLite schema `schema` ("main", an alias);
  // empty when none.
  std::string DatabaseOfSchema(std::string_view schema) const;
  // (database, schema) of the current database and of every attached one.
  std::vector<std::pair<std::string, std::string>> Schemas() const;

  // Engine SQL run for nearly every statement (the front end's catalog
  // reads, the identity rules, the trigger lookups), kept compiled on this
  // connection: a lease hands the compiled statement to one user at a time
  // and takes it back reset and unbound. What it reads may change between
  // uses; SQLite compiles it again when the schema has. Forgotten with the
  // connection's other kept statements (a new epoch: USE, an attachment, a
  // rollback).
  class KeptRead {
   public:
    KeptRead(SessionConnection& connection, const std::string& sql);
    // On whichever connection `db` is: kept when it is a session
    // connection's main handle, compiled for this use alone otherwise (a
    // dirty-read handle, the master catalog's). The lease must end on the
    // thread that uses `db`.
    KeptRead(sqlite3* db, const std::string& sql);
    ~KeptRead();
    KeptRead(const KeptRead&) = delete;
    KeptRead& operator=(const KeptRead&) = delete;
    // Null when the SQL did not compile; Status() then says why.
    sqlite3_stmt* get() const { return statement_.get(); }
    int Status() const { return status_; }

   private:
    void Lease(sqlite3* db);

    SessionConnection* connection_;  // null: not kept
    std::string sql_;
    catalog::PreparedStatement statement_;
    int status_ = SQLITE_OK;
  };

  std::string SchemaFor(std::string_view database) override;
  // SchemaFor(database), where an empty `database` (a name written without
  // one) stands for the database whose objects such names reach now.
  std::string SchemaOf(std::string_view database) {
    return database.empty() ? unqualified_schema_ : SchemaFor(database);
  }
  // The schema names without a database resolve in: "main", except while a
  // trigger of a table in another (attached) database runs, whose statements
  // reach that database's objects, as SQL Server runs a trigger in its
  // table's database.
  const std::string& UnqualifiedSchema() const { return unqualified_schema_; }
  bool ResolvesElsewhere() const { return unqualified_schema_ != "main"; }
  // The database names without one reach (DB_NAME()), as it is named.
  std::string UnqualifiedDatabase() const;
  // Names without a database resolve in `schema` from now on (a USE inside a
  // transaction); an UnqualifiedNamesIn alive now puts back what it found
  // when it ends.
  void ResolveUnqualifiedIn(std::string schema) { unqualified_schema_ = std::move(schema); }
  class UnqualifiedNamesIn {
   public:
    UnqualifiedNamesIn(SessionConnection& connection, std::string schema)
        : connection_(connection), previous_(std::move(connection.unqualified_schema_)) {
      connection_.unqualified_schema_ = std::move(schema);
    }
    ~UnqualifiedNamesIn() { connection_.unqualified_schema_ = std::move(previous_); }
    UnqualifiedNamesIn(const UnqualifiedNamesIn&) = delete;
    UnqualifiedNamesIn& operator=(const UnqualifiedNamesIn&) = delete;

   private:
    SessionConnection& connection_;
    std::string previous_;
  };
  std::optional<std::string> CatalogView(std::string_view database, std::string_view view) override;

 private:
  static int OnBusy(void* self, int attempts);
  static int OnProgress(void* self);
  void SyncCommits();
  static int OnCommit(void* self, sqlite3* db, const char* schema, int log_pages);
  static void OnRollback(void* self);
  // Counts the statements that may change a schema as SQLite starts them.
  static int OnStatement(unsigned type, void* self, void* statement, void* sql);
  // Forgets the kept statements and moves to a new epoch: the databases
  // reached have changed, or a transaction was rolled back.
  void NewEpoch();
  // Forces the log of `schema` ("main" or an alias) to disk.
  void SyncLog(const std::string& schema, const std::string& file);
  // Per-schema connection settings, for main and every attached database.
  void Configure(const std::string& schema);
  // Handlers, functions and rules every connection of the session carries.
  void Equip(sqlite3* db);
  void CloseDirtyReads();
  // DirtyReadHandle, or FreshReadHandle without `others_uncommitted`.
  sqlite3* SecondReadHandle(bool others_uncommitted);

  EngineImpl& engine_;
  const std::atomic<bool>& cancelled_;
  StatementAuthorizer authorizer_;
  CompiledStatements syntax_checked_;
  StatementCache statements_;
  TableShapes shapes_;
  BoundTexts bound_;
  BoundTexts::Notes* recording_ = nullptr;
  struct RememberedRow {
    std::string schema;
    std::string table;
    std::optional<StoredTable> found;
    std::uint64_t changes = 0;  // schema_changes_ when read
    std::uint64_t epoch = 0;
    std::optional<StatementCache::Context> context;  // none: this statement's only
  };
  static constexpr std::size_t kRememberedRows = 16;
  void NewStatementForRows();
  // Drops the remembered rows read in another context than `now` (all of
  // them when it is unknown); the rest hold for this statement.
  void KeepRowsOfContext(const std::optional<StatementCache::Context>& now);
  std::vector<RememberedRow> remembered_;
  // The remembered rows' contexts were compared with the present one since
  // the last statement boundary.
  bool rows_checked_ = false;
  int statement_depth_ = 0;
  std::uint64_t schema_changes_ = 0;
  // Statements that may change a schema version as this connection sees it:
  // those schema_changes_ counts but for plain data changes (INSERT, UPDATE,
  // DELETE, REPLACE), which change none. Inside an explicit transaction
  // another session's DDL stays out of this connection's snapshot until the
  // transaction ends (a statement counted here, or a rollback: a new epoch),
  // so a context read in one holds while this count, the epoch and the rules
  // stay as they were.
  std::uint64_t context_changes_ = 0;
  std::optional<StatementCache::Context> last_context_;
  std::uint64_t last_context_changes_ = 0;
  std::function<std::uint64_t()> rules_;
  std::uint64_t epoch_ = 0;
  // "PRAGMA <schema>.schema_version" for each schema, compiled once.
  std::map<std::string, catalog::PreparedStatement> version_reads_;
  std::unordered_map<std::string, catalog::PreparedStatement> kept_reads_;  // by SQL
  FunctionHost& host_;
  int spid_;
  std::mutex handle_mutex_;  // guards db_ against Interrupt() while it changes
  catalog::Connection db_;
  catalog::Connection dirty_reads_;
  std::vector<DirtyReadFile> dirty_read_files_;
  std::string database_;
  std::string data_file_;
  std::string unqualified_schema_ = "main";
  std::chrono::steady_clock::time_point busy_since_;
  int lock_timeout_ms_ =
      static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(kLockTimeout).count());
  // lower-case database name -> (schema alias, data file)
  std::map<std::string, std::pair<std::string, std::string>> attached_;
  struct UnsyncedCommit {
    std::string file;
    std::uint64_t ticket = 0;
  };
  std::map<std::string, UnsyncedCommit> unsynced_;  // by schema
  std::set<std::string> checkpoints_due_;           // schemas
};

}  // namespace sqlengine::exec
