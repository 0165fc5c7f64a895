#pragma once
// A global temporary table (##name) is a table of tempdb that every session
// reaches by its name, from whichever database it is in. The parser writes
// tempdb's name in front of a ##name standing alone, so the rest of the
// engine reaches it as it reaches any table of another database.

#include "engine/tsql/token.h"

namespace sqlengine::tsql {

// Puts `tempdb . .` in front of each ##name (word or bracketed) that ends a
// name, in place of any owner or database written before it (`dbo.##g`,
// `db..##g`); a column's qualifier (`##g.a`) is left as written.
void QualifyGlobalTempNames(Tokens& tokens);

}  // namespace sqlengine::tsql
