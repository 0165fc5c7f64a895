#pragma once
// The collation the catalog views (syscolumns, INFORMATION_SCHEMA.COLUMNS)
// report for a stored column: read from the SQLite collation its table
// declares it with.

#include <sqlite3.h>

#include <string>

#include "engine/common/types.h"

namespace sqlengine::exec {

// The name of the collation the column `column` of `table` (a view when
// `view`) in SQLite schema `schema` orders by, `type` being its stored type
// (of a character type). SQLite reports no collation for a view's column:
// it reads as the database's.
std::string StoredColumnCollation(sqlite3* db, const std::string& schema, const std::string& table,
                                  const std::string& column, ColumnType type, bool view);

// The SQL function sqlengine_column_collation(schema, table, column,
// declared type, is view): the name of the collation (collation_names.h) the
// column of `table` in SQLite schema `schema` orders by; NULL for a column
// that is not of a character type.
void ColumnCollationFunction(sqlite3_context* context, int count, sqlite3_value** arguments);

}  // namespace sqlengine::exec
