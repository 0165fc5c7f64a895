#pragma once
// The procedures that show how much room databases take: sp_spaceused, and
// the file result set of sp_helpdb @dbname.

#include <optional>
#include <string>
#include <vector>

#include "engine/catalog/master_catalog.h"
#include "engine/common/sink.h"
#include "engine/exec/procedures.h"

namespace sqlengine::exec {

class Session;

// sp_spaceused [@objname]: the current database's size and unallocated
// space, then reserved / data / index_size / unused; for a table its rows
// and the same figures. Throws 15009 for an unknown object. The caller sends
// return status and DONE.
void SpaceUsed(Session& session, const std::vector<CallArgument>& arguments, ResultSink& sink);

// sp_helpdb's second result set for one database, and sp_helpfile's: one
// row per file (only the file named `only` when given).
void SendDatabaseFiles(Session& session, const catalog::DatabaseEntry& entry, ResultSink& sink,
                       const std::optional<std::string>& only = std::nullopt);

}  // namespace sqlengine::exec
