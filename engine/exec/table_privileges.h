#pragma once
// sp_table_privileges and sp_column_privileges, which ODBC's
// SQLTablePrivileges and SQLColumnPrivileges call.

#include <string_view>
#include <vector>

#include "engine/common/sink.h"
#include "engine/exec/procedures.h"

namespace sqlengine::exec {

class Session;

// Runs one of them; false for another name. Throws SqlError 201 for a
// missing table name of sp_column_privileges.
bool RunPrivilegeProcedure(Session& session, std::string_view name,
                           const std::vector<CallArgument>& arguments, ResultSink& sink);

}  // namespace sqlengine::exec
