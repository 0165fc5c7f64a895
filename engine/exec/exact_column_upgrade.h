#pragma once
// The data-file upgrade to format 2: decimal, numeric, money and smallmoney
// columns move from SQLite numbers to their stored form
// (values/exact_storage.h), and their triggers from rounding a written value
// to checking that it is in that form.

#include <sqlite3.h>

namespace sqlengine::exec {

// Converts every such column of every user table of `db`'s main database in
// place, with the DEFAULT and CHECK texts that name it (exec/exact_column_texts.h),
// inside the caller's transaction. A legacy value just past money's
// or smallmoney's range (the nearest double of the edge, which format 1
// stored for the edge itself) becomes the edge. Throws std::runtime_error or
// SqlError when a value cannot be converted; the caller rolls back.
void StoreExactColumnsInStoredForm(sqlite3* db);

}  // namespace sqlengine::exec
