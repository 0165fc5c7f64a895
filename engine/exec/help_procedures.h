#pragma once
// sp_help, sp_helpindex and sp_depends: what an object of the current database is made
// of, in SQL Server 2000's result sets. Each sends its result sets (and
// informational messages); the caller sends the return status.

#include <string_view>
#include <vector>

#include "engine/common/sink.h"
#include "engine/exec/procedures.h"

namespace sqlengine::exec {

class Session;

// False when `name` (lower case) is not one of them. Throws SqlError.
bool RunHelpProcedure(Session& session, std::string_view name,
                      const std::vector<CallArgument>& arguments, ResultSink& sink);

}  // namespace sqlengine::exec
