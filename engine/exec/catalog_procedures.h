#pragma once
// The catalog procedures ODBC drivers and tools call: sp_sproc_columns,
// sp_stored_procedures, sp_tables, sp_columns, sp_pkeys, sp_fkeys,
// sp_statistics, sp_special_columns, sp_databases, sp_helpdb.
// Each sends its result set; the caller sends the return status.

#include <string>
#include <string_view>
#include <vector>

#include "engine/common/sink.h"
#include "engine/exec/procedures.h"

namespace sqlengine::exec {

class Session;

// The current database's tables (or views) as their creators named them,
// the engine's own left out, ordered by name.
std::vector<std::string> UserTableNames(Session& session, bool views);

// False when `name` (lower case) is not one of them. Throws SqlError.
bool RunCatalogProcedure(Session& session, std::string_view name,
                         const std::vector<CallArgument>& arguments, ResultSink& sink);

}  // namespace sqlengine::exec
