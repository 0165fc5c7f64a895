#pragma once
// The DBCC commands on one table: CHECKIDENT and DBREINDEX. Both need the
// right to alter the table (2571 otherwise) and name an existing table
// (2501); each ends with 2528 unless WITH NO_INFOMSGS. Failures throw SqlError.

#include "engine/common/sink.h"
#include "engine/exec/file_statement_syntax.h"

namespace sqlengine::exec {

class Session;

// CHECKIDENT (t [, NORESEED | RESEED [, n]]): reports the current identity
// value and the column's highest value (7998); RESEED n sets the current
// value (the next row takes n + increment, or n itself in a table that never
// had a row); without NORESEED a current value below the column's highest
// is moved up to it. 7997 for a table without an identity column. SQLite
// never hands out a value at or below the highest rowid, so a reseed below
// the column's values only takes effect once those rows are gone.
void CheckIdent(Session& session, TokenCursor& cursor, ResultSink& sink);

// DBREINDEX (t [, index | '' [, fillfactor]]): rebuilds the table's indexes
// or the one named (7999 when it has none of that name).
void DbReindex(Session& session, TokenCursor& cursor, ResultSink& sink);

}  // namespace sqlengine::exec
