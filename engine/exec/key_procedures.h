#pragma once
// The catalog procedures ODBC drivers call for SQLForeignKeys (sp_fkeys) and
// SQLStatistics (sp_statistics), answering from the current database as SQL
// Server 2000's do. Each sends its result set; the caller sends the status.

#include <vector>

#include "engine/common/sink.h"
#include "engine/exec/procedures.h"

namespace sqlengine::exec {

class Session;

void ForeignKeys(Session& session, const std::vector<CallArgument>& given, ResultSink& sink);
void Statistics(Session& session, const std::vector<CallArgument>& given, ResultSink& sink);

}  // namespace sqlengine::exec
