#pragma once
// sp_helptrigger: the triggers of a table and what they fire for.

#include <string_view>
#include <vector>

#include "engine/common/sink.h"
#include "engine/exec/procedures.h"

namespace sqlengine::exec {

class Session;

// Runs sp_helptrigger @tabname [, @triggertype]; false for another name.
// Throws 15009 for a table the current database does not have, 201 without
// a table.
bool RunTriggerProcedure(Session& session, std::string_view name,
                         const std::vector<CallArgument>& arguments, ResultSink& sink);

}  // namespace sqlengine::exec
