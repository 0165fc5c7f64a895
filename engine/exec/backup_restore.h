#pragma once
// BACKUP DATABASE and RESTORE DATABASE / HEADERONLY / FILELISTONLY /
// VERIFYONLY to and from disk backup files. A backup is a consistent
// snapshot taken while other sessions keep working; a restore builds the
// new data file beside its target and renames it into place, so a failure
// leaves neither a half-restored database nor a damaged existing one. Each
// sends its messages and DONE; failures throw SqlError (3013 last).

#include "engine/common/sink.h"
#include "engine/tsql/statement.h"

namespace sqlengine::exec {

class Session;

void ExecuteBackup(Session& session, const tsql::Statement& statement, ResultSink& sink);
void ExecuteRestore(Session& session, const tsql::Statement& statement, ResultSink& sink);

}  // namespace sqlengine::exec
