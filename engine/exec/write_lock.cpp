#include "engine/exec/write_lock.h"

#include <chrono>
#include <stdexcept>

#include "engine/catalog/data_file.h"
#include "engine/catalog/sqlite_handle.h"
#include "engine/exec/engine_impl.h"
#include "engine/exec/session.h"
#include "engine/exec/session_connection.h"
#include "engine/exec/sqlite_errors.h"
#include "engine/exec/temp_schema_image.h"
#include "engine/tsql/dotted_name.h"
#include "engine/tsql/sqlite_quoting.h"

namespace sqlengine::exec {
namespace {

using tsql::StatementKind;

// How often a transaction that keeps its snapshot looks at the lock again.
constexpr std::chrono::milliseconds kPollPause{2};

// A write that changes nothing but makes SQLite take the file's write lock.
std::string LockingStatement(const std::string& schema) {
  return "DELETE FROM " + tsql::QuoteSqliteName(schema) + "." + catalog::kObjectsTable + " WHERE 0";
}

bool KeepsSnapshot(IsolationLevel level) {
  return level == IsolationLevel::kRepeatableRead || level == IsolationLevel::kSnapshot ||
         level == IsolationLevel::kSerializable;
}

// Ends a transaction that has read but not written and begins it again with
// the same savepoints: it loses nothing, and its next read sees the newest
// commit, as READ COMMITTED promises anyway. It runs before nearly every
// statement of such a transaction: COMMIT and BEGIN are kept compiled.
void RenewSnapshot(Session& session) {
  sqlite3* db = session.Connection().Handle();
  for (const char* sql : {"COMMIT", "BEGIN"}) {
    SessionConnection::KeptRead step(session.Connection(), sql);
    if (step.get() == nullptr || sqlite3_step(step.get()) != SQLITE_DONE)
      throw std::runtime_error(sqlite3_errmsg(db));
  }
  for (const std::string& name : session.Savepoints()) {
    catalog::Exec(db, "SAVEPOINT " + tsql::QuoteSqliteName(name));
  }
}

// Whether the open transaction of `db` has written its temporary schema
// (#tables, table variables) and no other file.
bool WroteTempOnly(sqlite3* db) {
  if (sqlite3_txn_state(db, "temp") != SQLITE_TXN_WRITE) return false;
  for (int i = 0;; ++i) {
    const char* schema = sqlite3_db_name(db, i);
    if (schema == nullptr) return true;
    if (i != 1 && sqlite3_txn_state(db, schema) == SQLITE_TXN_WRITE) return false;
  }
}

bool RunsStatements(sqlite3* db) {
  for (sqlite3_stmt* statement = sqlite3_next_stmt(db, nullptr); statement != nullptr;
       statement = sqlite3_next_stmt(db, statement)) {
    if (sqlite3_stmt_busy(statement)) return true;
  }
  return false;
}

// RenewSnapshot for a transaction that wrote its temporary schema only. The
// temporary schema, which no other session sees, is copied as it is now and
// as it was at each savepoint (rolling back to them one by one), then the
// transaction is rolled back and begun again, and the copies are written
// back inside the new one with the savepoints between them: the rows stay
// its uncommitted own, and ROLLBACK (to a savepoint or all of it) undoes
// them as before. Left as it is while a statement is still reading (then
// false). When a step fails, the transaction is rolled back and the failure
// thrown.
bool RenewSnapshotKeepingTemp(Session& session) {
  sqlite3* db = session.Connection().Handle();
  if (RunsStatements(db)) return false;
  StatementAuthorizer::EngineScope engine_sql(session.Connection().Authorizer());
  const std::vector<std::string>& savepoints = session.Savepoints();
  std::vector<TempSchemaImage> images;  // now, then at each savepoint, newest first
  images.push_back(TempSchemaImage::Take(db));
  try {
    for (size_t k = savepoints.size(); k-- > 0;) {
      std::string name = tsql::QuoteSqliteName(savepoints[k]);
      catalog::Exec(db, "ROLLBACK TO " + name + "; RELEASE " + name);
      images.push_back(TempSchemaImage::Take(db));
    }
    catalog::Exec(db, "ROLLBACK");
    catalog::Exec(db, "BEGIN");
    for (size_t k = 0; k < savepoints.size(); ++k) {
      images[savepoints.size() - k].Restore(db);
      catalog::Exec(db, "SAVEPOINT " + tsql::QuoteSqliteName(savepoints[k]));
    }
    images.front().Restore(db);
  } catch (...) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
  return true;
}

[[noreturn]] void ThrowTimedOut() { throw MakeError(1222); }

[[noreturn]] void ChooseAsVictim(Session& session) {
  sqlite3_exec(session.Connection().Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
  session.Savepoints().clear();
  session.Engine().Locks().Release(session.Spid());
  throw MakeError(1205, {std::to_string(session.Spid())});
}

}  // namespace

std::optional<std::string> WrittenDatabase(const tsql::Statement& statement) {
  const tsql::Tokens& tokens = statement.tokens;
  size_t at = 1;
  auto skip_top = [&] { at = tsql::PastTopClause(tokens, at); };
  switch (statement.kind) {
    case StatementKind::kSelect: {
      int depth = 0;
      for (at = 1; at < tokens.size(); ++at) {
        if (tokens[at].IsSymbol("(")) ++depth;
        if (tokens[at].IsSymbol(")")) --depth;
        if (depth == 0 && tokens[at].IsAnyWord({"from", "union"})) return std::nullopt;
        if (depth == 0 && tokens[at].IsWord("into")) break;
      }
      if (at >= tokens.size()) return std::nullopt;
      ++at;
      break;
    }
    case StatementKind::kInsert:
      skip_top();
      if (at < tokens.size() && tokens[at].IsWord("into")) ++at;
      break;
    case StatementKind::kUpdate:
      skip_top();
      break;
    case StatementKind::kDelete:
      skip_top();
      if (at < tokens.size() && tokens[at].IsWord("from")) ++at;
      break;
    case StatementKind::kCreateTable:
    case StatementKind::kDropTable:
    case StatementKind::kAlterTable:
    case StatementKind::kTruncateTable:
      at = 2;
      if (statement.kind == StatementKind::kDropTable && at + 1 < tokens.size() &&
          tokens[at].IsWord("if") && tokens[at + 1].IsWord("exists")) {
        at += 2;
      }
      break;
    case StatementKind::kCreateOther:
    case StatementKind::kDropOther:
      return std::string();
    default:
      return std::nullopt;
  }
  if (at >= tokens.size() || !tokens[at].IsName()) return std::string();
  tsql::DottedName name = tsql::ReadDottedName(tokens, at);
  if (name.parts.empty()) return std::string();
  if (tsql::IsLocalTempName(name.Last())) return std::string("#");
  return name.Database();
}

std::string ConflictDatabase(Session& session, const tsql::Statement& statement) {
  std::optional<std::string> written = WrittenDatabase(statement);
  if (written && !written->empty() && *written != "#") {
    std::optional<catalog::DatabaseEntry> entry = session.Engine().FindDatabase(*written);
    return entry ? entry->name : *written;
  }
  return session.Connection().UnqualifiedDatabase();
}

std::string ConflictDatabaseOf(Session& session, const std::string& schema) {
  std::string database = session.Connection().DatabaseOfSchema(schema);
  std::optional<catalog::DatabaseEntry> entry = session.Engine().FindDatabase(database);
  return entry ? entry->name : database;
}

void RefreshReadSnapshot(Session& session) {
  sqlite3* db = session.Connection().Handle();
  if (session.TranCount() == 0 || KeepsSnapshot(session.Isolation()) || db == nullptr ||
      sqlite3_get_autocommit(db)) {
    return;
  }
  int state = sqlite3_txn_state(db, nullptr);
  const bool temp_only = state == SQLITE_TXN_WRITE && WroteTempOnly(db);
  if (state == SQLITE_TXN_WRITE && !temp_only) {
    // Its snapshots stay until it ends; the files it has not read yet are
    // noted, so that SnapshotBehindCommits can tell when a commit passes them.
    session.Commits().Note(db);
    return;
  }
  // A snapshot no commit has passed is the newest already; ending it would
  // cost the next read a new read transaction (file locks) for nothing.
  if (state != SQLITE_TXN_NONE && !session.Commits().NothingCommittedSince(db)) {
    if (temp_only) {
      RenewSnapshotKeepingTemp(session);
    } else {
      RenewSnapshot(session);
    }
  }
  session.Commits().Note(db);
}

bool SnapshotBehindCommits(Session& session) {
  sqlite3* db = session.Connection().Handle();
  if (session.TranCount() == 0 || KeepsSnapshot(session.Isolation()) || db == nullptr ||
      sqlite3_get_autocommit(db) || sqlite3_txn_state(db, nullptr) != SQLITE_TXN_WRITE ||
      WroteTempOnly(db)) {
    return false;
  }
  return !session.Commits().NothingCommittedSince(db);
}

void TakeWriteLockFirst(sqlite3* db, const std::string& schema) {
  if (db == nullptr || schema == "temp" || sqlite3_txn_state(db, schema.c_str()) != SQLITE_TXN_NONE)
    return;
  int rc = sqlite3_exec(db, LockingStatement(schema).c_str(), nullptr, nullptr, nullptr);
  if ((rc & 0xFF) == SQLITE_INTERRUPT) throw Cancelled{};
  if ((rc & 0xFF) == SQLITE_BUSY) ThrowTimedOut();
  // Any other failure (a file without the engine's tables) is left to the
  // statements that follow, which meet it themselves.
}

StatementTransaction::StatementTransaction(sqlite3* db, const std::string& schema, bool wanted)
    : db_(db) {
  if (!wanted || db_ == nullptr || !sqlite3_get_autocommit(db_)) return;
  catalog::Exec(db_, "BEGIN");
  open_ = true;
  TakeWriteLockFirst(db_, schema);
}

StatementTransaction::~StatementTransaction() {
  if (open_ && !sqlite3_get_autocommit(db_)) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
}

void StatementTransaction::Commit() {
  if (!open_) return;
  open_ = false;
  catalog::Exec(db_, "COMMIT");
}

namespace {

// Waits in the engine's queue for a file; throws as LockForWrite.
void PassGate(Session& session, const std::string& file) {
  switch (session.Engine().Locks().Acquire(session.Spid(), file, session.Connection().LockTimeout(),
                                           session.CancelFlag())) {
    case LockWaits::Outcome::kHeld:
      return;
    case LockWaits::Outcome::kTimedOut:
      ThrowTimedOut();
    case LockWaits::Outcome::kVictim:
      ChooseAsVictim(session);
    case LockWaits::Outcome::kCancelled:
      throw Cancelled{};
  }
}

}  // namespace

WriteGate::WriteGate(Session& session, const std::string& schema) : session_(session) {
  sqlite3* db = session.Connection().Handle();
  if (db == nullptr || schema == "temp" || session.TranCount() > 0) return;
  std::string file = session.Connection().FileOf(schema);
  if (file.empty()) return;
  PassGate(session, file);
  held_ = true;
}

WriteGate::~WriteGate() {
  if (held_) session_.Engine().Locks().Release(session_.Spid());
}

void LockForWrite(Session& session, const std::string& schema) {
  SessionConnection& connection = session.Connection();
  sqlite3* db = connection.Handle();
  if (db == nullptr || schema == "temp" || sqlite3_get_autocommit(db)) return;
  int state = sqlite3_txn_state(db, schema.c_str());
  if (state < 0 || state == SQLITE_TXN_WRITE) return;
  if (session.TranCount() == 0) {
    TakeWriteLockFirst(db, schema);
    return;
  }
  if (state == SQLITE_TXN_READ && !KeepsSnapshot(session.Isolation())) {
    if (sqlite3_txn_state(db, nullptr) == SQLITE_TXN_READ) {
      RenewSnapshot(session);
    } else if (WroteTempOnly(db)) {
      RenewSnapshotKeepingTemp(session);
    }
    state = sqlite3_txn_state(db, schema.c_str());
  }
  // First in line among this engine's writers, then SQLite's own lock, which
  // only a writer outside the queue (the master catalog, a backup, a
  // checkpoint) can still hold.
  if (std::string file = connection.FileOf(schema); !file.empty()) PassGate(session, file);
  std::string lock_sql = LockingStatement(schema);
  auto started = std::chrono::steady_clock::now();
  while (true) {
    int rc = sqlite3_exec(db, lock_sql.c_str(), nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) return;
    if ((rc & 0xFF) == SQLITE_INTERRUPT || session.Cancelled()) throw Cancelled{};
    if ((rc & 0xFF) != SQLITE_BUSY) return;  // see TakeWriteLockFirst
    // A commit came after this transaction's snapshot: it cannot write without losing it.
    if (sqlite3_extended_errcode(db) == SQLITE_BUSY_SNAPSHOT) ChooseAsVictim(session);
    // Without a snapshot the busy handler has waited already.
    if (state == SQLITE_TXN_NONE) ThrowTimedOut();
    int timeout = connection.LockTimeout();
    auto now = std::chrono::steady_clock::now();
    if (timeout >= 0 && now - started >= std::chrono::milliseconds(timeout)) ThrowTimedOut();
    if (session.WaitCancelled(now + kPollPause)) throw Cancelled{};
  }
}

}  // namespace sqlengine::exec
