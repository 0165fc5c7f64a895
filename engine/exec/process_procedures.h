#pragma once
// sp_who, sp_who2 and sp_lock: the engine's sessions, what they run, who
// blocks whom, and the database locks they hold or wait for. Every login
// may see them, as in SQL Server 2000. Also sp_monitor (monitor_procedure.h). Each sends its result set; the
// caller sends the return status. Throws SqlError.

#include <string_view>
#include <vector>

#include "engine/common/sink.h"
#include "engine/exec/procedures.h"

namespace sqlengine::exec {

class Session;

// False when `name` (lower case) is none of them.
bool RunProcessProcedure(Session& session, std::string_view name,
                         const std::vector<CallArgument>& arguments, ResultSink& sink);

}  // namespace sqlengine::exec
