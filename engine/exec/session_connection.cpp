#include "engine/exec/session_connection.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <unordered_map>
#include <utility>

#include "engine/catalog/data_file.h"
#include "engine/catalog/log_name_vfs.h"
#include "engine/common/error.h"
#include "engine/exec/catalog_views.h"
#include "engine/exec/checkpoint_hold.h"
#include "engine/exec/database_access.h"
#include "engine/catalog/server_configuration.h"
#include "engine/exec/database_security.h"
#include "engine/exec/engine_impl.h"
#include "engine/exec/information_schema_views.h"
#include "engine/exec/known_tables.h"
#include "engine/exec/procedures.h"
#include "engine/exec/rules_defaults.h"
#include "engine/exec/temporary_tables.h"
#include "engine/exec/triggers.h"
#include "engine/exec/user_messages.h"
#include "engine/exec/user_types.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/token.h"

namespace sqlengine::exec {
namespace {

// SQLite reserves these schema names.
std::string AliasFor(std::string_view database) {
  std::string lower = tsql::ToLower(database);
  if (lower == "main" || lower == "temp") return "sqlengine_db_" + std::string(database);
  return std::string(database);
}

// SQLite's own automatic checkpoint threshold, which the commit hook replaces.
constexpr int kCheckpointPages = 1000;

// Which session connection each open main handle belongs to, for the
// engine's catalog reads that are handed a handle alone (KeptRead). An
// entry lives from Open to Close; it is used on the connection's own thread.
std::mutex connections_mutex;
std::unordered_map<sqlite3*, SessionConnection*> connections_by_handle;

SessionConnection* ConnectionOf(sqlite3* db) {
  std::lock_guard lock(connections_mutex);
  auto it = connections_by_handle.find(db);
  return it == connections_by_handle.end() ? nullptr : it->second;
}

// Copies the whole database `from_schema` of `from` over `to_schema` of `to`
// (SQLite's online backup, in one step). Throws std::runtime_error.
void CopyDatabase(sqlite3* from, const char* from_schema, sqlite3* to, const char* to_schema) {
  // An in-memory copy takes the page size of what it copies only while empty.
  auto size = catalog::Prepare(from, std::string("PRAGMA ") + from_schema + ".page_size");
  if (sqlite3_step(size.get()) == SQLITE_ROW) {
    catalog::Exec(to, std::string("PRAGMA ") + to_schema +
                          ".page_size=" + std::to_string(sqlite3_column_int(size.get(), 0)));
  }
  size.reset();
  sqlite3_backup* backup = sqlite3_backup_init(to, to_schema, from, from_schema);
  if (backup == nullptr) throw std::runtime_error(sqlite3_errmsg(to));
  int stepped = sqlite3_backup_step(backup, -1);
  int finished = sqlite3_backup_finish(backup);
  if (stepped != SQLITE_DONE || finished != SQLITE_OK)
    throw std::runtime_error(std::string("copying the temporary tables: ") + sqlite3_errmsg(to));
}

// Whether the temporary database of `db` holds a table.
bool HasTemporaryTables(sqlite3* db) {
  if (db == nullptr) return false;
  auto any = catalog::Prepare(db, "SELECT 1 FROM temp.sqlite_master WHERE type = 'table'");
  return sqlite3_step(any.get()) == SQLITE_ROW;
}

// The session's #temp tables and table variables (with whatever the engine
// keeps beside them there) live in the temporary database of its
// connection: an in-memory copy of it, or null when it holds no table.
catalog::Connection TemporaryTablesOf(sqlite3* db) {
  if (!HasTemporaryTables(db)) return nullptr;
  sqlite3* raw = nullptr;
  if (sqlite3_open_v2(":memory:", &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK) {
    sqlite3_close(raw);
    throw std::runtime_error("cannot keep the temporary tables");
  }
  catalog::Connection kept(raw);
  CopyDatabase(db, "temp", kept.get(), "main");
  return kept;
}

}  // namespace

namespace {
thread_local bool checkpoints_held = false;
}  // namespace

CheckpointHold::CheckpointHold() : saved_(std::exchange(checkpoints_held, true)) {}
CheckpointHold::~CheckpointHold() { checkpoints_held = saved_; }
bool CheckpointHold::Held() { return checkpoints_held; }

SessionConnection::SessionConnection(EngineImpl& engine, const std::atomic<bool>& cancelled,
                                     FunctionHost& host, int spid)
    : engine_(engine), cancelled_(cancelled), host_(host), spid_(spid) {}

SessionConnection::~SessionConnection() { Close(); }

void SessionConnection::Close() {
  // The client has heard of no commit that is not synced yet (see
  // DurableResults); this covers commits nothing was reported after.
  try {
    bool held = std::exchange(checkpoints_held, false);
    MakeCommitsDurable();
    checkpoints_held = held;
  } catch (const std::exception& failure) {
    engine_.EngineLog().Error(failure.what());
  }
  unsynced_.clear();
  checkpoints_due_.clear();
  syntax_checked_.Clear();
  NewEpoch();
  for (auto& [key, attachment] : attached_) {
    if (key != "master") engine_.Usage().Release(key);
  }
  attached_.clear();
  CloseDirtyReads();
  if (db_) {
    std::lock_guard lock(connections_mutex);
    connections_by_handle.erase(db_.get());
  }
  if (db_) StopKeepingKnownTables(db_.get());
  std::lock_guard lock(handle_mutex_);
  db_.reset();
  database_.clear();
}

void SessionConnection::CloseDirtyReads() {
  std::lock_guard lock(handle_mutex_);
  dirty_reads_.reset();
  dirty_read_files_.clear();
}

void SessionConnection::Equip(sqlite3* db) {
  sqlite3_busy_handler(db, &SessionConnection::OnBusy, this);
  sqlite3_progress_handler(db, 1000, &SessionConnection::OnProgress, this);
  RegisterFunctions(db, host_);
  authorizer_.Install(db);
}

sqlite3* SessionConnection::SecondReadHandle(bool others_uncommitted) {
  std::vector<DirtyReadFile> files;
  auto add = [&](const std::string& schema, const std::string& file) {
    bool read_only = IsReadOnlyDatabase(engine_, DatabaseOfSchema(schema));
    // A file this transaction wrote is read through its own page cache,
    // whoever holds the queue for it, or its rows would be missed.
    int cache_of = sqlite3_txn_state(db_.get(), schema.c_str()) == SQLITE_TXN_WRITE
                       ? spid_
                       : engine_.Locks().Holder(file);
    if (!others_uncommitted && cache_of != spid_) cache_of = 0;
    files.push_back({schema, file, read_only, cache_of});
  };
  add("main", data_file_);
  for (const auto& [key, attachment] : attached_) add(attachment.first, attachment.second);
  if (dirty_reads_ && files == dirty_read_files_) return dirty_reads_.get();
  CloseDirtyReads();
  catalog::Connection db = OpenDirtyReadConnection(files);
  Equip(db.get());
  std::lock_guard lock(handle_mutex_);
  dirty_reads_ = std::move(db);
  dirty_read_files_ = std::move(files);
  return dirty_reads_.get();
}

sqlite3* SessionConnection::FreshReadHandle() {
  sqlite3* db = nullptr;
  try {
    db = SecondReadHandle(false);
  } catch (const std::runtime_error&) {
    return nullptr;  // the schema of a file it wrote is locked (attaching reads it)
  }
  StatementAuthorizer::EngineScope engine_sql(authorizer_);
  for (const DirtyReadFile& file : dirty_read_files_) {
    if (file.cache_of == 0) continue;
    std::string probe = "PRAGMA " + tsql::QuoteSqliteName(file.schema) + ".schema_version";
    if (sqlite3_exec(db, probe.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) return nullptr;
  }
  return db;
}

void SessionConnection::Open(const catalog::DatabaseEntry& entry) {
  std::filesystem::path file = engine_.DataFileOf(entry);
  bool read_only = IsReadOnlyDatabase(engine_, entry.name);
  // A file this connection has open already would be opened into the same
  // page cache, with the old connection's read-only or read-write mode:
  // that connection goes first.
  bool reopens = file.string() == data_file_;
  for (const auto& [key, attachment] : attached_)
    reopens = reopens || attachment.second == file.string();
  // The temporary tables go with the session from database to database, as
  // tempdb's tables do: the new connection's temporary database becomes a
  // copy of the old one's, straight from it while both are open, through an
  // in-memory copy when the old connection must close first.
  std::optional<StatementAuthorizer::EngineScope> engine_sql(std::in_place, authorizer_);
  catalog::Connection temporary = reopens ? TemporaryTablesOf(db_.get()) : nullptr;
  bool copies_directly = !reopens && HasTemporaryTables(db_.get());
  if (reopens) Close();
  catalog::Connection db =
      catalog::OpenDataFile(SessionCacheUri(file.string(), read_only, spid_), read_only);
  sqlite3_wal_hook(db.get(), &SessionConnection::OnCommit, this);
  sqlite3_rollback_hook(db.get(), &SessionConnection::OnRollback, this);
  sqlite3_trace_v2(db.get(), SQLITE_TRACE_STMT, &SessionConnection::OnStatement, this);
  catalog::Exec(db.get(), "PRAGMA foreign_keys=ON");
  Equip(db.get());
  if (temporary) CopyDatabase(temporary.get(), "main", db.get(), "temp");
  if (copies_directly) CopyDatabase(db_.get(), "temp", db.get(), "temp");
  engine_sql.reset();
  Close();
  {
    std::lock_guard lock(connections_mutex);
    connections_by_handle[db.get()] = this;
  }
  std::lock_guard lock(handle_mutex_);
  db_ = std::move(db);
  database_ = entry.name;
  data_file_ = file.string();
  Configure("main");
}

void SessionConnection::Configure(const std::string& schema) {
  // The log is synced by MakeCommitsDurable, before the client hears of the
  // commit. SQLite keeps the setting of a transaction: a database attached
  // inside one stays at FULL and syncs its commits itself.
  if (!sqlite3_get_autocommit(db_.get())) return;
  catalog::Exec(db_.get(), "PRAGMA " + tsql::QuoteSqliteName(schema) + ".synchronous=NORMAL");
}

int SessionConnection::OnCommit(void* self, sqlite3* db, const char* schema, int log_pages) {
  auto* connection = static_cast<SessionConnection*>(self);
  try {
    std::string file = connection->FileOf(schema);
    if (!file.empty()) {
      connection->unsynced_[schema] = {file, connection->engine_.Logs().Committed(file)};
    }
    if (log_pages >= kCheckpointPages) connection->checkpoints_due_.insert(schema);
    // Without a transaction the session holds no write lock any more: the
    // next writer in line may start while this one waits for its sync.
    if (sqlite3_get_autocommit(db)) connection->engine_.Locks().Release(connection->spid_);
  } catch (const std::exception& failure) {
    connection->engine_.EngineLog().Error(failure.what());
  }
  return SQLITE_OK;
}

void SessionConnection::OnRollback(void* self) {
  // Statements may not be finalized from inside the hook: the new epoch
  // makes the kept ones useless, and they go when the cache is next used.
  ++static_cast<SessionConnection*>(self)->epoch_;
}

namespace {

// Whether `stmt` is a plain INSERT, UPDATE, DELETE or REPLACE, which changes
// rows but never a schema version (SQLite's triggers cannot run DDL).
bool ChangesDataOnly(sqlite3_stmt* stmt) {
  const char* sql = sqlite3_sql(stmt);
  if (sql == nullptr) return false;
  while (*sql == ' ' || *sql == '\n' || *sql == '\t' || *sql == '\r') ++sql;
  std::string_view text(sql);
  for (std::string_view word : {"INSERT", "UPDATE", "DELETE", "REPLACE"}) {
    if (text.size() > word.size() && tsql::EqualsIgnoreCase(text.substr(0, word.size()), word) &&
        !std::isalnum(static_cast<unsigned char>(text[word.size()])) && text[word.size()] != '_')
      return true;
  }
  return false;
}

}  // namespace

int SessionConnection::OnStatement(unsigned, void* self, void* statement, void*) {
  // A read (SELECT, WITH, VALUES or a reading PRAGMA) changes no schema; a
  // write, DDL, ATTACH, DETACH and the transaction statements may (a
  // ROLLBACK undoes DDL; BEGIN and COMMIT end a snapshot and so let another
  // session's DDL be seen). SQLite reports a statement that fires triggers
  // once more per trigger: counted the same way.
  auto* stmt = static_cast<sqlite3_stmt*>(statement);
  bool reads = false;
  if (sqlite3_stmt_readonly(stmt)) {
    const char* sql = sqlite3_sql(stmt);
    while (sql != nullptr && (*sql == ' ' || *sql == '\n' || *sql == '\t' || *sql == '\r')) ++sql;
    if (sql != nullptr) {
      std::string_view text(sql);
      for (std::string_view word : {"SELECT", "WITH", "VALUES", "PRAGMA"}) {
        reads = reads || (text.size() > word.size() && tsql::EqualsIgnoreCase(text.substr(0, word.size()), word) &&
                          !std::isalnum(static_cast<unsigned char>(text[word.size()])) &&
                          text[word.size()] != '_');
      }
    }
  }
  if (!reads) ++static_cast<SessionConnection*>(self)->schema_changes_;
  if (!reads && !ChangesDataOnly(stmt)) {
    auto* connection = static_cast<SessionConnection*>(self);
    ++connection->context_changes_;
    // Its handle once Open made it the connection's; Close ends that again.
    if (sqlite3_db_handle(stmt) == connection->db_.get()) SchemaMayChange(connection->db_.get());
  }
  // ROLLBACK TO a savepoint calls no rollback hook, yet may undo DDL and
  // bring a schema version back that other DDL then reaches again with
  // another schema: what was kept under that version must not be used.
  if (!reads) {
    const char* sql = sqlite3_sql(stmt);
    while (sql != nullptr && (*sql == ' ' || *sql == '\n' || *sql == '\t' || *sql == '\r')) ++sql;
    if (sql != nullptr && std::strlen(sql) >= 8 && tsql::EqualsIgnoreCase({sql, 8}, "ROLLBACK"))
      OnRollback(self);
  }
  return 0;
}

const std::optional<StoredTable>* SessionConnection::RememberedTable(std::string_view schema,
                                                                     std::string_view table) {
  if (statement_depth_ == 0) return nullptr;
  auto find = [&] {
    return std::find_if(remembered_.begin(), remembered_.end(), [&](const RememberedRow& row) {
      return row.schema == schema && row.table == table;
    });
  };
  auto it = find();
  if (it == remembered_.end()) return nullptr;
  if (!rows_checked_) {
    // What earlier statements read holds while nothing it rested on changed;
    // within this statement, until it changes a schema (as a row read now).
    KeepRowsOfContext(StatementContext());
    it = find();
    if (it == remembered_.end()) return nullptr;
  }
  if (it->changes != schema_changes_ || it->epoch != epoch_) {
    remembered_.erase(it);
    return nullptr;
  }
  return &it->found;
}

void SessionConnection::RememberTable(std::string_view schema, std::string_view table,
                                      std::optional<StoredTable> found,
                                      std::optional<StatementCache::Context> context) {
  if (statement_depth_ == 0) return;
  std::erase_if(remembered_, [&](const RememberedRow& row) {
    return row.schema == schema && row.table == table;
  });
  if (!rows_checked_ && context) {
    // The present context, read just now: what the earlier statements' rows need.
    KeepRowsOfContext(context);
  }
  if (remembered_.size() >= kRememberedRows) remembered_.clear();
  remembered_.push_back(RememberedRow{std::string(schema), std::string(table), std::move(found),
                                      schema_changes_, epoch_, std::move(context)});
}

void SessionConnection::KeepRowsOfContext(const std::optional<StatementCache::Context>& now) {
  std::erase_if(remembered_, [&](const RememberedRow& row) {
    return !now || !row.context || !(*row.context == *now);
  });
  for (RememberedRow& row : remembered_) row.changes = schema_changes_;
  rows_checked_ = true;
}

void SessionConnection::NewStatementForRows() {
  // Rows no context vouches for were this statement's alone.
  std::erase_if(remembered_, [](const RememberedRow& row) { return !row.context; });
  rows_checked_ = false;
}

void SessionConnection::NewEpoch() {
  ++epoch_;
  remembered_.clear();
  statements_.Clear();
  bound_.Clear();
  version_reads_.clear();
  kept_reads_.clear();
}

SessionConnection::KeptRead::KeptRead(SessionConnection& connection, const std::string& sql)
    : connection_(&connection), sql_(sql) {
  Lease(connection.Handle());
}

SessionConnection::KeptRead::KeptRead(sqlite3* db, const std::string& sql)
    : connection_(ConnectionOf(db)), sql_(sql) {
  Lease(db);
}

void SessionConnection::KeptRead::Lease(sqlite3* db) {
  // Taken out while in use: a read that runs again inside this one (a view
  // described while a table is) compiles its own. The entry stays, empty
  // while leased, so that taking and giving back allocate nothing.
  if (connection_ != nullptr) {
    if (auto it = connection_->kept_reads_.find(sql_);
        it != connection_->kept_reads_.end() && it->second) {
      statement_ = std::move(it->second);
      return;
    }
  }
  sqlite3_stmt* raw = nullptr;
  status_ = sqlite3_prepare_v3(db, sql_.c_str(), -1,
                               connection_ != nullptr ? SQLITE_PREPARE_PERSISTENT : 0, &raw,
                               nullptr);
  statement_.reset(raw);
  if (status_ != SQLITE_OK) statement_.reset();
}

SessionConnection::KeptRead::~KeptRead() {
  if (connection_ == nullptr || !statement_ ||
      sqlite3_db_handle(statement_.get()) != connection_->Handle())
    return;
  sqlite3_reset(statement_.get());
  sqlite3_clear_bindings(statement_.get());
  auto it = connection_->kept_reads_.find(sql_);
  if (it != connection_->kept_reads_.end()) {
    // Another lease of the same text may have given its statement back first.
    if (!it->second) it->second = std::move(statement_);
    return;
  }
  // A handful of texts come back over and over; more means names that vary.
  if (connection_->kept_reads_.size() >= 64) connection_->kept_reads_.clear();
  connection_->kept_reads_.emplace(std::move(sql_), std::move(statement_));
}

void SessionConnection::FollowRules(std::function<std::uint64_t()> rules) {
  syntax_checked_.FollowRules(rules);
  rules_ = std::move(rules);
}

std::optional<StatementCache::Context> SessionConnection::StatementContext() {
  if (!db_ || !rules_ || authorizer_.ExposesAny()) return std::nullopt;
  StatementCache::Context context;
  context.rules = rules_();
  context.epoch = epoch_;
  if (last_context_ && last_context_changes_ == context_changes_ &&
      last_context_->epoch == epoch_ && last_context_->rules == context.rules &&
      !sqlite3_get_autocommit(db_.get()))
    return last_context_;
  last_context_.reset();
  // Inside an explicit transaction every schema read below stays read
  // until the transaction ends; outside one each read ends at once.
  const bool keeps = !sqlite3_get_autocommit(db_.get());
  const std::uint64_t changes = context_changes_;
  // Engine SQL, also when a user statement asks from inside its run.
  StatementAuthorizer::EngineScope engine_sql(authorizer_);
  auto read = [&](const std::string& schema) {
    catalog::PreparedStatement& read = version_reads_[schema];
    if (!read) {
      std::string sql = "PRAGMA " + tsql::QuoteSqliteName(schema) + ".schema_version";
      sqlite3_stmt* raw = nullptr;
      int rc = sqlite3_prepare_v3(db_.get(), sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &raw,
                                  nullptr);
      read.reset(raw);
      if (rc != SQLITE_OK) return false;
    }
    bool found = sqlite3_step(read.get()) == SQLITE_ROW;
    if (found) context.schema_versions.push_back(sqlite3_column_int64(read.get(), 0));
    sqlite3_reset(read.get());
    return found;
  };
  if (!read("main") || !read("temp")) return std::nullopt;
  for (const auto& [key, attachment] : attached_) {
    if (!read(attachment.first)) return std::nullopt;
  }
  if (keeps && changes == context_changes_) {
    last_context_ = context;
    last_context_changes_ = changes;
  }
  return context;
}

void SessionConnection::SyncCommits() {
  while (!unsynced_.empty()) {
    // Copies, not structured bindings: clang 14 cannot capture those.
    const std::string schema = unsynced_.begin()->first;
    const UnsyncedCommit commit = unsynced_.begin()->second;
    engine_.Logs().WaitDurable(commit.file, commit.ticket, [&] { SyncLog(schema, commit.file); });
    unsynced_.erase(schema);
  }
  if (checkpoints_held || !db_ || !sqlite3_get_autocommit(db_.get())) return;
  for (auto it = checkpoints_due_.begin(); it != checkpoints_due_.end();) {
    // PASSIVE: copies what no reader still needs, never waits; a checkpoint
    // another session runs meanwhile answers BUSY and does the work.
    int rc = sqlite3_wal_checkpoint_v2(db_.get(), it->c_str(), SQLITE_CHECKPOINT_PASSIVE, nullptr,
                                       nullptr);
    it = (rc & 0xFF) == SQLITE_LOCKED ? std::next(it) : checkpoints_due_.erase(it);
  }
}

void SessionConnection::SyncLog(const std::string& schema, const std::string& file) {
  sqlite3_file* log = nullptr;
  if (db_) sqlite3_file_control(db_.get(), schema.c_str(), SQLITE_FCNTL_JOURNAL_POINTER, &log);
  if (log != nullptr && log->pMethods != nullptr) {
    int rc = log->pMethods->xSync(log, SQLITE_SYNC_NORMAL);
    if (rc != SQLITE_OK) {
      throw std::runtime_error("cannot sync the log of " + file + ": " + sqlite3_errstr(rc));
    }
    return;
  }
  // The connection has let go of its log file: sync it by name. SQLite
  // holds no POSIX locks on a log, so opening and closing one is safe.
  std::string log_file = catalog::LogFileFor(file).string();
  int fd = ::open(log_file.c_str(), O_RDONLY | O_CLOEXEC);
  bool synced = fd >= 0 && ::fdatasync(fd) == 0;
  if (fd >= 0) ::close(fd);
  if (!synced) throw std::runtime_error("cannot sync " + log_file);
}

void SessionConnection::Interrupt() {
  // The session's own connection stops through OnProgress, which knows what
  // it is running; the dirty-read connection only reads.
  std::lock_guard lock(handle_mutex_);
  if (dirty_reads_) sqlite3_interrupt(dirty_reads_.get());
}

int SessionConnection::OnBusy(void* self, int attempts) {
  auto* connection = static_cast<SessionConnection*>(self);
  auto now = std::chrono::steady_clock::now();
  if (attempts == 0) connection->busy_since_ = now;
  int timeout = connection->lock_timeout_ms_;
  if (connection->cancelled_.load() ||
      (timeout >= 0 && now - connection->busy_since_ >= std::chrono::milliseconds(timeout))) {
    return 0;
  }
  // SQLite offers no wake-up for a released lock: retry after a short pause.
  std::this_thread::sleep_for(std::chrono::milliseconds(attempts < 10 ? 1 : 5));
  return 1;
}

namespace {

// Whether a statement that writes is running inside an open transaction.
bool WritingInTransaction(sqlite3* db) {
  if (db == nullptr || sqlite3_get_autocommit(db)) return false;
  for (sqlite3_stmt* s = sqlite3_next_stmt(db, nullptr); s != nullptr; s = sqlite3_next_stmt(db, s)) {
    if (sqlite3_stmt_busy(s) && !sqlite3_stmt_readonly(s)) return true;
  }
  return false;
}

}  // namespace

int SessionConnection::OnProgress(void* self) {
  auto* connection = static_cast<SessionConnection*>(self);
  if (!connection->cancelled_.load()) return 0;
  // SQLite undoes the whole transaction when it interrupts a statement that
  // writes; a cancel undoes no more than the statement and leaves the
  // transaction open. Such a statement runs to its end, and the cancel takes
  // effect before the next one.
  return WritingInTransaction(connection->db_.get()) ? 0 : 1;
}

std::string SessionConnection::FileOf(std::string_view schema) const {
  if (tsql::EqualsIgnoreCase(schema, "main")) return data_file_;
  for (const auto& [key, attachment] : attached_) {
    if (tsql::EqualsIgnoreCase(attachment.first, schema)) return attachment.second;
  }
  return {};
}

std::string SessionConnection::SchemaFor(std::string_view database) {
  if (tsql::EqualsIgnoreCase(database, database_)) return "main";
  std::string key = tsql::ToLower(database);
  if (auto it = attached_.find(key); it != attached_.end()) return it->second.first;
  std::optional<catalog::DatabaseEntry> entry = engine_.FindDatabase(database);
  if (!entry) throw MakeError(911, {database});
  bool is_master = key == "master";
  CheckDatabaseState(engine_, *entry, spid_);
  if (!is_master && !engine_.Usage().Acquire(entry->name)) throw MakeError(911, {database});
  std::string alias = AliasFor(entry->name);
  std::string file = engine_.DataFileOf(*entry).string();
  std::string name = SessionCacheUri(file, IsReadOnlyDatabase(engine_, entry->name), spid_);
  auto attach = catalog::Prepare(db_.get(), "ATTACH DATABASE ? AS " + tsql::QuoteSqliteName(alias));
  sqlite3_bind_text(attach.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(attach.get()) != SQLITE_DONE) {
    std::string reason = sqlite3_errmsg(db_.get());
    if (!is_master) engine_.Usage().Release(entry->name);
    throw MakeError(50000, {"Cannot reach database '" + entry->name + "': " + reason});
  }
  attached_[key] = {alias, file};
  Configure(alias);
  return alias;
}

bool SessionConnection::Detach(std::string_view database) {
  std::string key = tsql::ToLower(database);
  auto it = attached_.find(key);
  if (it == attached_.end()) return false;
  {
    // Its checkpoint cannot wait: the database leaves the connection.
    bool held = std::exchange(checkpoints_held, false);
    MakeCommitsDurable();
    checkpoints_held = held;
  }
  syntax_checked_.Clear();
  NewEpoch();
  CloseDirtyReads();
  sqlite3_exec(db_.get(), ("DETACH DATABASE " + tsql::QuoteSqliteName(it->second.first)).c_str(),
               nullptr, nullptr, nullptr);
  checkpoints_due_.erase(it->second.first);
  if (key != "master") engine_.Usage().Release(key);
  attached_.erase(it);
  return true;
}

std::string SessionConnection::DatabaseOfSchema(std::string_view schema) const {
  if (tsql::EqualsIgnoreCase(schema, "main")) return database_;
  for (const auto& [key, attachment] : attached_) {
    if (tsql::EqualsIgnoreCase(attachment.first, schema)) return key;
  }
  return {};
}

std::string SessionConnection::UnqualifiedDatabase() const {
  if (!ResolvesElsewhere()) return database_;
  std::string database = DatabaseOfSchema(unqualified_schema_);
  std::optional<catalog::DatabaseEntry> entry = engine_.FindDatabase(database);
  return entry ? entry->name : database;
}

std::vector<std::pair<std::string, std::string>> SessionConnection::Schemas() const {
  std::vector<std::pair<std::string, std::string>> schemas;
  if (!database_.empty()) schemas.emplace_back(database_, "main");
  for (const auto& [key, attachment] : attached_) schemas.emplace_back(key, attachment.first);
  return schemas;
}

void SessionConnection::ReleaseAttachments() {
  authorizer_.ForgetExposures();
  syntax_checked_.Clear();
  CloseDirtyReads();
  std::vector<std::string> names;
  for (const auto& [key, attachment] : attached_) {
    // Names resolve there after a USE inside a transaction, until the
    // session moves there (Session::SettleUsedDatabase).
    if (key != "master" && attachment.first != unqualified_schema_) names.push_back(key);
  }
  // A database stays attached while a transaction holds it.
  if (db_ && sqlite3_get_autocommit(db_.get()) == 0) return;
  for (const std::string& name : names) Detach(name);
}

std::optional<std::string> SessionConnection::CatalogView(std::string_view database,
                                                          std::string_view view) {
  if (!IsCatalogView(view)) return std::nullopt;
  CatalogTarget target;
  target.schema = SchemaOf(database);
  if (target.schema == "main") {
    target.database = database_;
    target.data_file = data_file_;
  } else {
    target.database = database.empty() ? DatabaseOfSchema(target.schema) : std::string(database);
    target.data_file = FileOf(target.schema);
    if (std::optional<catalog::DatabaseEntry> entry = engine_.FindDatabase(target.database)) {
      target.database = entry->name;
    }
    // Another database's catalog is for the logins that may use it; every
    // login may use master (its guest cannot be dropped).
    if (!tsql::EqualsIgnoreCase(target.database, "master") &&
        !host_.MayUseDatabase(target.database))
      throw MakeError(916, {host_.LoginName(), target.database});
  }
  // master's own tables are master's alone.
  if ((view == "spt_values" || view == "sysprocesses" || view == "sysmessages" ||
       view == "syslanguages" || view == "sysservers" || view == "sysconfigures" ||
       view == "syscurconfigs" || view == "syscharsets" || view == "sysdevices") &&
      !tsql::EqualsIgnoreCase(target.database, "master"))
    return std::nullopt;
  target.data_folder = engine_.Layout().DataFolder().string();
  if (NeedsMaster(view)) target.master_schema = SchemaFor("master");
  {
    StatementAuthorizer::EngineScope engine_sql(authorizer_);
    target.has_security_tables = HasSecurityTables(db_.get(), target.schema);
    target.guest_has_access = GuestHasAccess(db_.get(), target.schema, target.database);
    target.has_column_permissions = HasColumnPermissions(db_.get(), target.schema);
    target.has_object_owners = HasObjectOwners(db_.get(), target.schema);
    target.has_procedures = HasStoredProcedures(db_.get(), target.schema);
    target.has_triggers = HasTriggers(db_.get(), target.schema);
    target.has_user_types = HasUserTypes(db_.get(), target.schema);
    target.has_rules = HasRulesTable(db_.get(), target.schema);
    target.lists_temp_tables = tsql::EqualsIgnoreCase(target.database, "tempdb");
    if (target.lists_temp_tables) {
      target.has_temp_objects = HasTempObjects(db_.get());
      authorizer_.Expose("temp", "sqlite_master");
      authorizer_.Expose("temp", "sqlite_temp_master");
      authorizer_.Expose("temp", kTempObjectsTable);
    }
    if (view == "sysmessages")
      target.has_user_messages = HasUserMessages(db_.get(), target.master_schema);
    if (NeedsParameters(view)) target.parameters = ProcedureParameters(db_.get(), target.schema);
    if (NeedsConstraints(view)) target.constraints = ReadTableConstraints(db_.get(), target.schema);
    if (NeedsConstraints(view) && target.lists_temp_tables) {
      for (TableConstraint& c : ReadTableConstraints(db_.get(), "temp")) {
        if (c.table.starts_with("#")) target.temp_constraints.push_back(std::move(c));
      }
    }
    if (view == "syscomments")
      target.computed_columns = ReadComputedColumns(db_.get(), target.schema);
  }
  if (std::optional<catalog::DatabaseEntry> entry = engine_.FindDatabase(target.database)) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (std::uint8_t byte : entry->owner_sid) {
      target.owner_sid_hex += kDigits[byte >> 4];
      target.owner_sid_hex += kDigits[byte & 15];
    }
    target.created = entry->crdate;
  }
  for (const std::string& schema : {target.schema, target.master_schema}) {
    if (schema.empty()) continue;
    for (const char* table :
         {"sqlite_master", catalog::kObjectsTable, catalog::kDatabasesTable, kPrincipalsTable,
          kRoleMembersTable, kPermissionsTable, kColumnPermissionsTable, catalog::kProceduresTable,
          kTriggersTable, catalog::kLoginsTable, catalog::kRoleMembersTable, kUserTypesTable,
          kRulesTable, kUserMessagesTable, kObjectOwnersTable, catalog::kConfigurationsTable}) {
      authorizer_.Expose(schema, table);
    }
  }
  return CatalogViewSql(view, target);
}

}  // namespace sqlengine::exec
