#pragma once
// The system stored procedures of the server level: sp_addlogin,
// sp_droplogin, sp_password, sp_addsrvrolemember, sp_dropsrvrolemember.

#include <string>
#include <string_view>
#include <vector>

#include "engine/common/sink.h"
#include "engine/common/types.h"
#include "engine/exec/procedures.h"

namespace sqlengine::exec {

class Session;

// Runs `name` (lower case, without database or owner) and sends its return
// status. Returns false when it is no system procedure known here. Throws
// SqlError for the caller to report.
bool RunSystemProcedure(Session& session, std::string_view name,
                        const std::vector<CallArgument>& arguments, ResultSink& sink);

// Whether `name` (lower case) answers for the whole server, so that
// `EXEC db..name` need not run it in db's context.
bool IsServerProcedure(std::string_view name);

// Whether `name` (lower case) is spelt as a system procedure's (sp_, xp_).
bool HasSystemPrefix(std::string_view name);

}  // namespace sqlengine::exec
