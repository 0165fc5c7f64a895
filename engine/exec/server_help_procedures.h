#pragma once
// The help procedures that describe the database's roles and files and the
// server itself: sp_helprole, sp_helpfile, sp_helpfilegroup, sp_helpsort,
// sp_helpserver, sp_helplanguage.

#include <string_view>
#include <vector>

#include "engine/common/sink.h"
#include "engine/exec/procedures.h"

namespace sqlengine::exec {

class Session;

// Runs one of them and sends its result sets; false for another name.
// Throws SqlError for an unknown role (15409), file group (15153) or server
// (15015).
bool RunServerHelpProcedure(Session& session, std::string_view name,
                            const std::vector<CallArgument>& arguments, ResultSink& sink);

}  // namespace sqlengine::exec
