#pragma once
// DBCC CHECKDB [( db | 'db' | dbid [, NOINDEX] )] [WITH NO_INFOMSGS, ...] and
// DBCC CHECKTABLE ( 't' | t [, NOINDEX] ) [WITH ...]: SQLite's checks of the
// data file (page structure, free pages, index entries against rows, NOT
// NULL) and the engine's own invariants (a catalog row per table, identity counters at or past the
// values in use, foreign keys that name existing tables, the triggers that
// keep column values in form), reported as SQL Server reports them:
// "DBCC results for ...", a row and page count per table, each finding as a
// severity 16 error, the CHECKDB / CHECKTABLE summary, the minimum repair
// level, then 2528. The check reads one snapshot and lets other sessions
// write meanwhile. Throws SqlError for an unknown database (2520) or table
// (2501) and without the rights (2571).

#include "engine/common/sink.h"
#include "engine/exec/file_statement_syntax.h"

namespace sqlengine::exec {

class Session;

// `cursor` stands after the command's name; `line` is the statement's.
void CheckDatabase(Session& session, TokenCursor& cursor, ResultSink& sink, int line);
void CheckTable(Session& session, TokenCursor& cursor, ResultSink& sink, int line);

}  // namespace sqlengine::exec
