#include "engine/exec/index_catalog_views.h"

#include "engine/catalog/data_file.h"
#include "engine/exec/index_names.h"
#include "engine/exec/table_constraints.h"
#include "engine/exec/temporary_tables.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/token.h"

namespace sqlengine::exec {
namespace {

// SQL Server's sysindexes.status bits.
constexpr int kUnique = 2;
constexpr int kClustered = 16;
constexpr int kPrimaryKey = 2048;
constexpr int kUniqueConstraint = 4096;

// The tables' PRIMARY KEY and UNIQUE constraints: (tbl, cols, name, xtype,
// stored, clustered), cols their lower-case column names joined by commas, stored the
// index's name in SQLite for a key ALTER TABLE added as an index (else NULL).
std::string KeyConstraints(const CatalogTarget& t) {
  std::string rows;
  for (const TableConstraint& c : t.constraints) {
    if (c.xtype != "PK" && c.xtype != "UQ") continue;
    std::string columns;
    for (const std::string& column : c.columns)
      columns += (columns.empty() ? "" : ",") + tsql::ToLower(column);
    rows += std::string(rows.empty() ? "" : " UNION ALL ") + "SELECT " +
            tsql::QuoteSqliteString(c.table) + ", " + tsql::QuoteSqliteString(columns) + ", " +
            tsql::QuoteSqliteString(c.name) + ", '" + c.xtype + "', " +
            (c.from_index ? tsql::QuoteSqliteString(c.name) : std::string("NULL")) + ", " +
            (c.clustered ? "1" : "0");
  }
  if (rows.empty()) rows = "SELECT NULL, NULL, NULL, NULL, NULL, NULL WHERE 0";
  return "key_constraints (tbl, cols, name, xtype, stored, clustered) AS (" + rows + ")";
}

}  // namespace

// sysindexes' rows, as SQL Server keeps them: the index of a PRIMARY KEY or
// UNIQUE constraint under the constraint's name, the others under the names
// they were created with; the clustered one (a key's or a CREATE CLUSTERED
// INDEX's) is indid 1, the rest follow from 2 in the order they were made; a
// table without a clustered index has its row of indid 0, named as the
// table. A table's identity column is its rowid, which is no index.
std::string IndexCommonTables(const CatalogTarget& t) {
  std::string schema = tsql::QuoteSqliteName(t.schema);
  std::string on = tsql::QuoteSqliteString(t.schema);
  std::string shown = ShownIndexNameSql("l.sqlite_name", "l.tbl");
  // The session's #temp tables under the names and ids tempdb shows.
  std::string tables =
      t.schema == "temp"
          ? "SELECT x.name AS tbl, x.id AS id, x.catalog_name AS shown FROM " +
                TempTablesSql(t.has_temp_objects) + " x"
          : "SELECT m.name AS tbl, coalesce(o.id, 1000 + m.rowid) AS id, m.name AS shown FROM " +
                schema + ".sqlite_master m LEFT JOIN " + schema + "." + catalog::kObjectsTable +
                " o ON o.name = m.name AND o.xtype = 'U' WHERE m.type = 'table' "
                "AND m.name NOT LIKE 'sqlite\\_%' ESCAPE '\\' "
                "AND m.name NOT LIKE 'sqlengine\\_%' ESCAPE '\\'";
  return "WITH tables AS (" + tables + "), " +
         KeyConstraints(t) +
         ", lists AS (SELECT t.tbl AS tbl, t.id AS id, l.name AS sqlite_name, l.\"unique\" AS "
         "is_unique, l.origin AS origin, (SELECT m.rowid FROM " +
         schema + ".sqlite_master m WHERE m.type = 'index' AND m.name = l.name) AS made, "
         "(SELECT instr(m.sql, " + tsql::QuoteSqliteString(std::string(kClusteredMarker)) + ") > 0 FROM " +
         schema + ".sqlite_master m WHERE m.type = 'index' AND m.name = l.name) AS marked, "
         "(SELECT group_concat(lower(i.name), ',') FROM (SELECT name FROM pragma_index_info(l.name, " +
         on + ") ORDER BY seqno) i) AS cols FROM tables t JOIN pragma_index_list(t.tbl, " + on +
         ") l), "
         // A key of the table's definition is found by its columns, one ALTER
         // TABLE added by its index.
         "kinds AS (SELECT l.*, (SELECT k.xtype FROM key_constraints k WHERE k.tbl = l.tbl COLLATE "
         "NOCASE AND ((l.origin <> 'c' AND k.stored IS NULL AND k.cols = l.cols) OR k.stored = "
         "l.sqlite_name)) AS kind, (SELECT k.name FROM key_constraints k WHERE k.tbl = l.tbl "
         "COLLATE NOCASE AND l.origin <> 'c' AND k.stored IS NULL AND k.cols = l.cols) AS "
         "key_name, coalesce((SELECT k.clustered FROM key_constraints k WHERE k.tbl = l.tbl "
         "COLLATE NOCASE AND ((l.origin <> 'c' AND k.stored IS NULL AND k.cols = l.cols) OR "
         "k.stored = l.sqlite_name)), l.marked, 0) AS clustered FROM lists l), "
         "keyed AS (SELECT l.tbl AS tbl, l.id AS id, CASE WHEN l.clustered THEN 1 ELSE 1 + "
         "row_number() OVER (PARTITION BY l.tbl, l.clustered ORDER BY l.made) END AS indid, "
         "coalesce(l.key_name, " +
         shown + ") AS name, CASE WHEN l.clustered THEN " + std::to_string(kClustered) +
         " ELSE 0 END + CASE l.kind WHEN 'PK' THEN " + std::to_string(kUnique | kPrimaryKey) +
         " WHEN 'UQ' THEN " + std::to_string(kUnique | kUniqueConstraint) +
         " ELSE CASE WHEN l.is_unique THEN " + std::to_string(kUnique) +
         " ELSE 0 END END AS status, l.sqlite_name AS sqlite_name FROM kinds l "
         "UNION ALL SELECT t.tbl, t.id, 0, t.shown, 0, NULL FROM tables t WHERE NOT EXISTS "
         "(SELECT 1 FROM kinds p WHERE p.tbl = t.tbl AND p.clustered)) ";
}

std::string SysIndexes(const CatalogTarget& t) {
  std::string rows =
      "coalesce(sqlengine_table_rows(" + tsql::QuoteSqliteString(t.schema) + ", k.tbl), 0)";
  return "(SELECT * FROM (" + IndexCommonTables(t) +
         "SELECT k.id AS id, k.status AS status, NULL AS first, k.indid AS indid, "
         "NULL AS root, 0 AS minlen, (SELECT count(*) FROM pragma_index_info(k.sqlite_name, " +
         tsql::QuoteSqliteString(t.schema) +
         ")) AS keycnt, 1 AS groupid, 0 AS dpages, "
         "0 AS reserved, 0 AS used, " +
         rows +
         " AS rowcnt, 0 AS rowmodctr, 0 AS reserved3, "
         "0 AS reserved4, 0 AS xmaxlen, 0 AS maxirow, 0 AS OrigFillFactor, 0 AS StatVersion, "
         "0 AS reserved2, NULL AS FirstIAM, 0 AS impid, 0 AS lockflags, 0 AS pgmodctr, "
         "NULL AS keys, k.name AS name, NULL AS statblob, 0 AS maxlen, " +
         rows + " AS rows FROM keyed k)" + WithTempTables(t, SysIndexes) + ")";
}

std::string IndexKeys(const CatalogTarget& t) {
  std::string on = tsql::QuoteSqliteString(t.schema);
  return "SELECT k.id AS id, k.indid AS indid, c.cid + 1 AS colid, i.seqno + 1 AS keyno "
         "FROM keyed k JOIN pragma_index_info(k.sqlite_name, " +
         on + ") i JOIN pragma_table_info(k.tbl, " + on +
         ") c ON c.name = i.name WHERE k.sqlite_name IS NOT NULL";
}

std::string SysIndexKeys(const CatalogTarget& t) {
  return "(SELECT * FROM (" + IndexCommonTables(t) + IndexKeys(t) + ")" +
         WithTempTables(t, SysIndexKeys) + ")";
}

}  // namespace sqlengine::exec
