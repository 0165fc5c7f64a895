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
// A table a foreign key references changes its rows in place instead
// (ApplyChangedRowsInOrder), so that the references follow them; either way
// the references are checked once every row has its new values.
//
// Taking a row out and putting it back is an INSERT to the table's SQLite
// triggers (the engine's own: stored forms, rules, identity, row versions,
// IGNORE_DUP_KEY) and a DELETE and INSERT to the session's pre-update hook,
// so a RowChangeCapture sees each row's old image deleted and its new one
// inserted, as an AFTER UPDATE trigger's deleted and inserted tables show
// them.

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/common/error.h"
#include "engine/exec/row_images.h"
#include "engine/exec/sqlite_errors.h"

namespace sqlengine::exec {

// Whether `schema`.`table` may have `columns` changed by ApplyChangedRows:
// it is a table of its own rows, no foreign key referencing it acts when a
// row is taken out (ON DELETE CASCADE), and none whose rows follow their
// key's changes (ON UPDATE CASCADE) references one of `columns`. Engine SQL.
bool MayApplyAsOne(sqlite3* db, const std::string& schema, const std::string& table,
                   const std::vector<std::string>& columns);

// Whether a foreign key (of another table or of its own) references
// `schema`.`table`. Engine SQL.
bool IsReferenced(sqlite3* db, const std::string& schema, const std::string& table);

// Writes `rows` (each: the rowid, then the new values of `columns`, a
// column once; every other column keeps its value) to `schema`.`table` as
// one change, and returns their number. The caller runs it as engine SQL.
// Throws the SqlError ThrowSqliteError makes of SQLite's refusal under
// `context` (2627 / 2601 for a key the result repeats, 547 for a CHECK),
// 547 when a row still refers to a key the statement took away (references
// are checked when every row is back), `refused` when a row did not go back
// in (an IGNORE_DUP_KEY index left it out); the table is then as it was.
std::int64_t ApplyChangedRows(sqlite3* db, const std::string& schema, const std::string& table,
                              const std::vector<std::string>& columns, const RowImages& rows,
                              const FailedStatement& context, const SqlError& refused);

// Writes `rows` as ApplyChangedRows takes them, by updating them one at a
// time in an order where no row takes a key another of them still holds, so
// the references to the table follow their rows as SQLite's ON UPDATE
// actions take them (cascaded, set to NULL or to their default); a
// reference is checked at the end, as the keys are. Returns the number of
// rows, or nullopt, having changed nothing, when the keys go round (a swap)
// and no such order exists. Throws the SqlError of SQLite's refusal under
// `context` (2627 / 2601 for a key the result repeats), 547 when a row still
// refers to a key the statement took away; the table is then as it was.
std::optional<std::int64_t> ApplyChangedRowsInOrder(sqlite3* db, const std::string& schema,
                                                    const std::string& table,
                                                    const std::vector<std::string>& columns,
                                                    const RowImages& rows,
                                                    const FailedStatement& context);

}  // namespace sqlengine::exec
