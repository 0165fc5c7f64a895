#pragma once
// sysindexes and sysindexkeys over a database's SQLite indexes, as SQL Server
// 2000 numbers them: the clustered index (indid 1: the primary key's unless
// it was declared NONCLUSTERED, or a UNIQUE constraint or index declared
// CLUSTERED), a table without one as its heap (indid 0), every other index
// and UNIQUE constraint from indid 2 on in the order they were made. Each is a parenthesised SELECT
// for CatalogViewSql.

#include <string>

#include "engine/exec/catalog_views.h"

namespace sqlengine::exec {

// "WITH tables (tbl, id, shown), keyed (tbl, id, indid, name, status, sqlite_name) "
// for a query to follow: every user table with its object id, and every
// index a table shows (sqlite_name NULL for a heap and for a primary key that
// is the table's rowid, its identity column).
std::string IndexCommonTables(const CatalogTarget& target);

// After IndexCommonTables: SELECT id, indid, colid, keyno, one row per key
// column of each index.
std::string IndexKeys(const CatalogTarget& target);

// SysIndexes counts each table's rows with sqlengine_table_rows when read.
std::string SysIndexes(const CatalogTarget& target);
std::string SysIndexKeys(const CatalogTarget& target);

}  // namespace sqlengine::exec
