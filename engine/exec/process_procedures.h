#pragma once
// sp_who, sp_who2 and sp_lock: the engine's sessions, what they run, who
// blocks whom, and the database locks they hold or wait for. Every login
// may see them, as in SQL Server 2000. Also sp_monitor (monitor_procedure.h). Each sends its result set; the
// caller sends the return status. Throws SqlError.

#include <string>
#include <string_view>
#include <vector>

#include "engine/common/sink.h"
#include "engine/exec/procedures.h"

namespace sqlengine::exec {

class Session;

class EngineImpl;

// The sessions as master..sysprocesses lists them, one JSON array per
// session in spid order: spid, blocked, dbid, login_time, last_batch (as
// "YYYY-MM-DD hh:mm:ss.mmm" local time), status, hostname, program_name,
// cmd, loginame.
std::string ProcessRowsJson(EngineImpl& engine);

// False when `name` (lower case) is none of them.
bool RunProcessProcedure(Session& session, std::string_view name,
                         const std::vector<CallArgument>& arguments, ResultSink& sink);

}  // namespace sqlengine::exec
