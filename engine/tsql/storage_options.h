#pragma once
// Placement and index-build clauses of table and index definitions:
// `ON [PRIMARY]`, `TEXTIMAGE_ON [PRIMARY]`, `WITH FILLFACTOR = 90`,
// `WITH PAD_INDEX` and `NOT FOR REPLICATION`. A database is one SQLite file,
// so none of them changes what a definition means here; they are taken out
// before the definition is read, wherever the tools that write such scripts
// put them. (CLUSTERED stays: the catalog records which index is clustered.)

#include "engine/tsql/token.h"

namespace sqlengine::tsql {

// Removes those clauses from a CREATE TABLE, CREATE [UNIQUE] [CLUSTERED |
// NONCLUSTERED] INDEX or ALTER TABLE statement's tokens; any other statement is left as it is. Index options it does not
// know stay, so the definition's reader refuses them. Returns whether the
// options of a CREATE INDEX said DROP_EXISTING (taken out too): the index of
// that name is to be replaced. IGNORE_DUP_KEY (but `IGNORE_DUP_KEY = OFF`)
// changes what the index does: it stays, as `WITH IGNORE_DUP_KEY` right
// after the column list, for the definition's reader.
bool DropStorageOptions(Tokens& statement);

}  // namespace sqlengine::tsql
