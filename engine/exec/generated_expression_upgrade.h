#pragma once
// Makes the expressions the front end generated into a table's definition (a
// CHECK's condition, a DEFAULT's value, a computed column's value, each kept
// with its T-SQL text as written; exec/stored_expressions.h) again from that
// text, in a given form of exact numbers. The data-file upgrade to the exact
// stored form needs it: an expression generated over SQLite numbers compares,
// adds and yields the stored integers of decimal and money columns as if they
// were the numbers themselves.

#include <sqlite3.h>

#include <string>

#include "engine/tsql/generate/sqlite_generator.h"

namespace sqlengine::exec {

// Generates every front-end expression of `table` in SQLite schema `schema`
// again from its written text, in `form`, and stores the definition when it
// changed; the rows, indexes and triggers stay as they are. Runs inside the
// caller's transaction. Throws std::runtime_error, naming the table, when a
// written text no longer parses or binds over the table's columns.
void RegenerateTableExpressions(sqlite3* db, const std::string& schema, const std::string& table,
                                tsql::generate::ExactForm form);

}  // namespace sqlengine::exec
