#pragma once
// The DEFAULT and CHECK texts a table keeps for its decimal, numeric, money
// and smallmoney columns, brought into the exact stored form
// (values/exact_storage.h): SQLite applies a column's DEFAULT and evaluates
// its CHECK on the stored values themselves, so `DEFAULT 1.5` on a money
// column must read `DEFAULT 15000`, and `CHECK (price > 0.5)` must compare
// `price > 5000`.

#include <sqlite3.h>

#include <string>

namespace sqlengine::exec {

// Rewrites, in the text of `table` in SQLite schema `schema`, every DEFAULT
// of an exact column that is a written number (in parentheses, signed or
// not) as that number's stored value, and every comparison in a CHECK
// constraint between an exact column and a written number (either side,
// = <> != < > <= >=) with the number at the column's scale. Expressions the
// front end generated (followed by their written text) are left alone: they
// are generated in the file's form (exec/generated_expression_upgrade.h makes
// them again for the upgrade). The rewriting is not to be repeated on one
// text: a number it wrote would be scaled again. The rows, indexes and
// triggers stay as they are. Returns whether the text changed. Throws
// std::runtime_error, naming the column, for a DEFAULT of an exact column
// that is not a written number or NULL, and for a number past the column's
// range in either place; the caller rolls back.
bool StoreExactColumnTexts(sqlite3* db, const std::string& schema, const std::string& table);

}  // namespace sqlengine::exec
