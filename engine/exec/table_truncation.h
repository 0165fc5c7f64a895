#pragma once
// TRUNCATE TABLE beside the DELETE that empties the table: SQL Server takes
// it only from those who may alter the table, refuses it for a table a
// FOREIGN KEY references, fires no DELETE trigger, and starts the table's
// identity over at its seed (see RestartIdentity).

#include <optional>

#include "engine/exec/maintained_tables.h"
#include "engine/tsql/statement.h"

namespace sqlengine::exec {

class Session;

// The table a TRUNCATE TABLE empties, once the login may (3704) and no
// FOREIGN KEY references it (4712); nullopt when no such table exists, which
// the DELETE then reports as for any other missing table.
std::optional<MaintainedTable> CheckTruncation(Session& session, const tsql::Statement& statement);

}  // namespace sqlengine::exec
