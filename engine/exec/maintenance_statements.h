#pragma once
// CHECKPOINT and UPDATE STATISTICS: upkeep statements that change no data
// and send nothing but their DONE. Failures throw SqlError.

#include "engine/common/sink.h"
#include "engine/tsql/statement.h"

namespace sqlengine::exec {

class Session;

// CHECKPOINT [duration]: writes what the current database's log holds into
// its data file as far as no reader needs it. For dbo, db_owner and
// db_backupoperator (262 otherwise).
void ExecuteCheckpoint(Session& session, const tsql::Statement& statement, ResultSink& sink);

// UPDATE STATISTICS t [index | (index, ...)] [WITH FULLSCAN | SAMPLE n
// {PERCENT | ROWS} | RESAMPLE] [[,] ALL | COLUMNS | INDEX] [[,] NORECOMPUTE]:
// SQLite's ANALYZE of the table or of the indexes named (every sample is a
// full scan). 208 for an unknown table, 2767 for an unknown index, 3704
// without the right to alter the table.
void ExecuteUpdateStatistics(Session& session, const tsql::Statement& statement, ResultSink& sink);

}  // namespace sqlengine::exec
