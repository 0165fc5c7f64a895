#pragma once
// sp_rename @objname, @newname [, @objtype]: renames a table or procedure
// ('OBJECT', the default), a column ('t.c', 'COLUMN') or an index ('t.ix',
// 'INDEX') of the current database, with everything the engine keeps under
// the old name (its bookkeeping rows, its triggers, permissions granted on
// it), all or nothing. Sends SQL Server's caution (15477). Needs the right
// to alter the object (15247); 15248 when the name does not fit the type,
// 15335 when the new name is taken, 15250 for another database's object.
// Views cannot be renamed here (15248).

#include <vector>

#include "engine/common/sink.h"
#include "engine/exec/procedures.h"

namespace sqlengine::exec {

class Session;

void Rename(Session& session, const std::vector<CallArgument>& arguments, ResultSink& sink);

}  // namespace sqlengine::exec
