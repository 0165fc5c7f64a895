#pragma once
// An UPDATE whose rows end with distinct keys, applied as one change.
//
// SQLite checks a row's PRIMARY KEY and UNIQUE keys as it changes that row,
// so a statement that shifts keys (id = id + 1) or swaps them meets a row it
// has not changed yet and fails; SQL Server checks the statement's result as
// a whole. When an UPDATE fails that way the executor computes the rows it
// changes and their new values first (FrontEndUpdateRows), then hands them
// here: inside a savepoint each row is taken out of the table and put back
// under its rowid with its new values, so a key is compared with the
// statement's end state only. A key that state repeats still fails, with the
// error SQLite's check gives (2627 or 2601), and the savepoint takes every
// step back.
//
// Taking a row out and putting it back is an INSERT to the table's SQLite
// triggers (the engine's own: stored forms, rules, identity, row versions,
// IGNORE_DUP_KEY) and a DELETE and INSERT to the session's pre-update hook,
// so a RowChangeCapture sees each row's old image deleted and its new one
// inserted, as an AFTER UPDATE trigger's deleted and inserted tables show
// them.

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/common/error.h"
#include "engine/exec/row_images.h"
#include "engine/exec/sqlite_errors.h"

namespace sqlengine::exec {

// Whether `schema`.`table` may be changed by ApplyChangedRows: no foreign key
// of its database references it (taking a referenced row out would act on
// the rows referencing it), and it is a table of its own rows. Engine SQL.
bool MayApplyAsOne(sqlite3* db, const std::string& schema, const std::string& table);

// Writes `rows` (each: the rowid, then the new values of `columns`, a
// column once; every other column keeps its value) to `schema`.`table` as
// one change, and returns their number. The caller runs it as engine SQL.
// Throws the SqlError ThrowSqliteError makes of SQLite's refusal under
// `context` (2627 / 2601 for a key the result repeats, 547 for a CHECK),
// `refused` when a row did not go back in (an IGNORE_DUP_KEY index left it
// out); the table is then as it was.
std::int64_t ApplyChangedRows(sqlite3* db, const std::string& schema, const std::string& table,
                              const std::vector<std::string>& columns, const RowImages& rows,
                              const FailedStatement& context, const SqlError& refused);

}  // namespace sqlengine::exec
