#pragma once
// KILL and SHUTDOWN: ending another session, and stopping the engine.

#include "engine/common/sink.h"
#include "engine/tsql/statement.h"

namespace sqlengine::exec {

class Session;

// KILL spid [WITH STATUSONLY]: ends session `spid`: a running request is
// cancelled, its open transaction rolled back and its connection closed.
// For sysadmin and processadmin members only (6102). Throws SqlError 6104
// for the caller's own spid, 6106 for one that no session has, 6120 for
// WITH STATUSONLY (no rollback of a killed session is ever in progress
// here, as it rolls back at once), 170 for anything but a number.
void ExecuteKill(Session& session, const tsql::Statement& statement, ResultSink& sink);

// SHUTDOWN [WITH NOWAIT]: stops the engine as `sqlengine stop` does, every
// committed change kept and open transactions rolled back. For sysadmin and
// serveradmin members only (6004). The caller's connection closes with the
// rest.
void ExecuteShutdown(Session& session, const tsql::Statement& statement, ResultSink& sink);

}  // namespace sqlengine::exec
