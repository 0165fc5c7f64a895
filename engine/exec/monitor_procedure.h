#pragma once
// sp_monitor: the engine's activity since it started and since the last
// sp_monitor, in SQL Server 2000's four result sets.

#include <vector>

#include "engine/common/sink.h"
#include "engine/exec/procedures.h"

namespace sqlengine::exec {

class Session;

// Throws SqlError 15247 for a login outside sysadmin. The last run is kept
// for the engine process (as SQL Server keeps it in master), guarded for
// concurrent sessions.
void Monitor(Session& session, const std::vector<CallArgument>& arguments, ResultSink& sink);

}  // namespace sqlengine::exec
