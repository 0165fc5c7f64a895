#pragma once
// DBCC: CHECKDB and CHECKTABLE (see integrity_checks.h), SHRINKDATABASE and
// SHRINKFILE. Both report the files they shrank
// (DbId, FileId, CurrentSize, MinimumSize, UsedPages, EstimatedPages, in
// 8 KB pages; no result set when none did), then 2528, then 5201 for a data
// file with nothing to give. They never change data and let other sessions
// read meanwhile. Failures throw SqlError.

#include <string>

#include "engine/catalog/master_catalog.h"
#include "engine/common/sink.h"
#include "engine/tsql/statement.h"

namespace sqlengine::exec {

class EngineImpl;
class Session;

// The database a DBCC names: by name, or by dbid when `numeric` (0: the
// session's current one). Throws SqlError 2520 when there is none.
catalog::DatabaseEntry FindByNameOrId(EngineImpl& engine, Session& session,
                                      const std::string& written, bool numeric);

void ExecuteDbcc(Session& session, const tsql::Statement& statement, ResultSink& sink);

}  // namespace sqlengine::exec
