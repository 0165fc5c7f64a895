#pragma once
// System procedures that change who owns an object and how the engine keeps
// it: sp_changeobjectowner, sp_recompile, sp_refreshview, sp_updatestats,
// sp_tableoption.

#include <string_view>
#include <vector>

#include "engine/common/sink.h"
#include "engine/exec/procedures.h"

namespace sqlengine::exec {

class Session;

// Runs one of them, sending its messages; false for another name. Throws
// SqlError (15247 without the right, 15001 / 15009 for an unknown object,
// 15410 for an unknown new owner, 15600 for an unknown option or value).
bool RunObjectMaintenanceProcedure(Session& session, std::string_view name,
                                   const std::vector<CallArgument>& arguments, ResultSink& sink);

}  // namespace sqlengine::exec
