#pragma once
// DBCC: SHRINKDATABASE and SHRINKFILE. Both report the files they shrank
// (DbId, FileId, CurrentSize, MinimumSize, UsedPages, EstimatedPages, in
// 8 KB pages; no result set when none did), then 2528, then 5201 for a data
// file with nothing to give. They never change data and let other sessions
// read meanwhile. Failures throw SqlError.

#include "engine/common/sink.h"
#include "engine/tsql/statement.h"

namespace sqlengine::exec {

class Session;

void ExecuteDbcc(Session& session, const tsql::Statement& statement, ResultSink& sink);

}  // namespace sqlengine::exec
