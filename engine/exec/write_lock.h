#pragma once
// Taking a database's write lock before a session writes it, so that writers
// wait for each other instead of failing.
//
// SQLite has one write lock per database file. A statement that starts
// without a read snapshot of the file waits for it through the connection's
// busy handler; a transaction that already read the file holds a snapshot,
// and SQLite refuses to upgrade it at once (SQLITE_BUSY, or
// SQLITE_BUSY_SNAPSHOT when a newer commit makes the snapshot stale). The
// functions here take the lock at a point where it can still be waited for.

#include <sqlite3.h>

#include <optional>
#include <string>

#include "engine/tsql/statement.h"

namespace sqlengine::exec {

class Session;

// The database a statement writes: nullopt when it writes none (a SELECT
// without INTO); "" for the current database; "#" for a temporary table.
std::optional<std::string> WrittenDatabase(const tsql::Statement& statement);

// The database a statement's constraint errors (547) name: the one the
// table it writes is in, as the catalog spells it; for an unqualified name
// the database such names resolve in (a trigger's own, see
// SessionConnection::UnqualifiedDatabase).
std::string ConflictDatabase(Session& session, const tsql::Statement& statement);
// The same for a change that writes SQLite schema `schema` (a view's table
// in another database than the one the statement names).
std::string ConflictDatabaseOf(Session& session, const std::string& schema);

// Before a statement of the session's explicit transaction writes `schema`
// ("main" or an attached database's alias; "temp" needs no lock): makes the
// transaction hold that file's write lock, waiting up to the session's lock
// timeout, in the engine's queue of writers. Under READ COMMITTED a transaction that has read but
// not written drops its snapshot first (it begins again, its savepoints remade), so the wait is an
// ordinary one. A transaction that must keep its snapshot (REPEATABLE READ, SERIALIZABLE, or one
// that already wrote another file) waits its turn too; when a commit came after its snapshot, or
// its wait closes a cycle of waiting sessions, the session is the deadlock victim. Outside a
// transaction it does nothing: the statement waits itself. Throws SqlError 1222 when the timeout
// ran out, 1205 after rolling the transaction back for a victim, Cancelled when the session was
// cancelled.
void LockForWrite(Session& session, const std::string& schema);

// Holds the engine's queue position for `schema`'s file for one write
// statement outside a user transaction, so autocommit writers take the
// write lock in arrival order with the transactions (see lock_waits.h).
// Does nothing inside a transaction (LockForWrite queues it) or for "temp".
// Throws SqlError 1222 when the session's lock timeout ran out, Cancelled.
class WriteGate {
 public:
  WriteGate(Session& session, const std::string& schema);
  ~WriteGate();
  WriteGate(const WriteGate&) = delete;
  WriteGate& operator=(const WriteGate&) = delete;

 private:
  Session& session_;
  bool held_ = false;
};

// Before each statement of a READ COMMITTED (or READ UNCOMMITTED)
// transaction that has read but not yet written: drops the read snapshot,
// keeping the savepoints, so the statement sees the newest commits as SQL
// Server's READ COMMITTED does. Does nothing otherwise.
void RefreshReadSnapshot(Session& session);

// Whether a read of the session's READ COMMITTED (or READ UNCOMMITTED)
// transaction would see rows older than the newest commit: the transaction
// wrote a file (not only its temporary schema), so SQLite keeps every
// snapshot it holds until it ends, and another session has committed to a
// file since the snapshot of it began (or that cannot be told). Such a read
// goes to SessionConnection::FreshReadHandle instead.
bool SnapshotBehindCommits(Session& session);

// For a multi-step write that opened its own SAVEPOINT outside a user
// transaction (DDL and the catalog rows that go with it): takes the write
// lock of `schema` before the first read, waiting through the connection's
// busy handler, so no other commit can come between its reads and writes.
// Does nothing when the lock is held already. Throws SqlError 1222 when the
// wait timed out, Cancelled when it was interrupted.
void TakeWriteLockFirst(sqlite3* db, const std::string& schema);

// Makes one statement outside a user transaction a transaction of its own
// that holds the write lock of `schema` from its start, so that what the
// engine reads right after it (the identity value an INSERT assigned, kept
// in a table other sessions write too) is still its own. Does nothing
// inside a transaction or when `wanted` is false. Destruction without
// Commit() rolls the statement back. Throws like TakeWriteLockFirst.
class StatementTransaction {
 public:
  StatementTransaction(sqlite3* db, const std::string& schema, bool wanted);
  ~StatementTransaction();
  StatementTransaction(const StatementTransaction&) = delete;
  StatementTransaction& operator=(const StatementTransaction&) = delete;
  // Throws std::runtime_error when SQLite refuses the COMMIT.
  void Commit();

 private:
  sqlite3* db_;
  bool open_ = false;
};

}  // namespace sqlengine::exec
