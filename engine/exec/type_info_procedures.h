#pragma once
// What a client asks about the server's types and capabilities:
// sp_datatype_info (also _90 and _100, as ODBC drivers call it for
// SQLGetTypeInfo) and sp_server_info. Each sends one result set; the caller
// sends the return status.

#include <string_view>
#include <vector>

#include "engine/common/sink.h"
#include "engine/exec/procedures.h"

namespace sqlengine::exec {

// False when `name` (lower case) is not one of them. Throws SqlError (8144,
// 8145 for arguments that do not fit, 8114 for a type number that is none).
bool RunTypeInfoProcedure(std::string_view name, const std::vector<CallArgument>& arguments,
                          ResultSink& sink);

}  // namespace sqlengine::exec
