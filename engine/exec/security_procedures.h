#pragma once
// The system procedures of database security: users (sp_grantdbaccess,
// sp_adduser, sp_revokedbaccess, sp_dropuser), roles (sp_addrole,
// sp_droprole, sp_addrolemember, sp_droprolemember) and the reports
// sp_helpuser, sp_helprolemember, sp_helpsrvrolemember and sp_helprotect.

#include <string_view>
#include <vector>

#include "engine/common/sink.h"
#include "engine/exec/procedures.h"

namespace sqlengine::exec {

class Session;

// Runs `name` (lower case) on the current database; false when it is none of
// these. Throws SqlError (15247 without the right, 15007, 15008, 15014,
// 15023, 15063, 15144, 15405, 15410).
bool RunSecurityProcedure(Session& session, std::string_view name,
                          const std::vector<CallArgument>& arguments, ResultSink& sink);

}  // namespace sqlengine::exec
