#pragma once
// What a database's options mean for the sessions that reach it: who may
// enter a database that is offline, single user or restricted, how its
// read-only state reaches the SQLite connections, and how a change of these
// options first clears the database of its other users, as SQL Server
// 2000's ALTER DATABASE termination clauses do.

#include <string>
#include <string_view>

#include "engine/catalog/master_catalog.h"
#include "engine/common/sink.h"

namespace sqlengine::exec {

class EngineImpl;
class Session;

// WITH NO_WAIT | ROLLBACK IMMEDIATE | ROLLBACK AFTER n [SECONDS]; none waits.
struct Termination {
  enum class Kind { kWait, kNoWait, kRollbackImmediate, kRollbackAfter };
  Kind kind = Kind::kWait;
  int seconds = 0;  // kRollbackAfter
};

bool IsReadOnlyDatabase(EngineImpl& engine, std::string_view database);

// `file` as a URI without parameters ("file:" and the path, its '%', '?'
// and '#' escaped).
std::string FileUri(const std::string& file);
// The URI that ATTACHes `file` read-only.
std::string ReadOnlyUri(const std::string& file);

// Throws 942 when `entry` is offline and 924 when it is single user and a
// session other than `spid` uses it.
void CheckDatabaseState(EngineImpl& engine, const catalog::DatabaseEntry& entry, int spid);

// CheckDatabaseState, and 923 when `entry` is restricted to its owners and
// the session's login is neither a sysadmin, a dbcreator, the database's
// owner nor a db_owner there.
void CheckDatabaseEntry(Session& session, const catalog::DatabaseEntry& entry);

// Before an option that needs `database` to itself changes: makes sure no
// session but `session` uses it. kNoWait throws 5070 (after sending it,
// 5069 follows) when others do; kWait waits for them to leave until the
// session's lock timeout passes (5061, then 5069) or it is cancelled
// (Cancelled); the ROLLBACK kinds end the others' work (their transactions
// roll back, their connections close at their next request), at once or
// after the given seconds. `line`: the statement's, for the messages.
void ClearOtherUsers(Session& session, ResultSink& sink, const std::string& database,
                     Termination termination, int line);

// Throws 3906 when the session's current database is read-only: for the
// statements that write it through the engine's own tables rather than
// through the user's SQL (which SQLite refuses itself).
void RequireWritable(Session& session);

// After `database`'s read-only state changed: reopens the session's
// connection when `database` is its current one, so it follows the state.
void ReopenAfterStateChange(Session& session, const catalog::DatabaseEntry& entry);

}  // namespace sqlengine::exec
