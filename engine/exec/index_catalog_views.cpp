#include "engine/exec/index_catalog_views.h"

#include "engine/catalog/data_file.h"
#include "engine/exec/index_names.h"
#include "engine/tsql/sqlite_quoting.h"

namespace sqlengine::exec {
namespace {

// SQL Server's sysindexes.status bits.
constexpr int kUnique = 2;
constexpr int kClustered = 16;
constexpr int kPrimaryKey = 2048;
constexpr int kUniqueConstraint = 4096;

}  // namespace

std::string IndexCommonTables(const CatalogTarget& t) {
  std::string schema = tsql::QuoteSqliteName(t.schema);
  std::string on = tsql::QuoteSqliteString(t.schema);
  std::string primary = std::to_string(kUnique | kClustered | kPrimaryKey);
  return "WITH tables AS (SELECT m.name AS tbl, coalesce(o.id, 1000 + m.rowid) AS id FROM " +
         schema + ".sqlite_master m LEFT JOIN " + schema + "." + catalog::kObjectsTable +
         " o ON o.name = m.name AND o.xtype = 'U' WHERE m.type = 'table' "
         "AND m.name NOT LIKE 'sqlite\\_%' ESCAPE '\\' "
         "AND m.name NOT LIKE 'sqlengine\\_%' ESCAPE '\\'), "
         "lists AS (SELECT t.tbl AS tbl, t.id AS id, l.name AS sqlite_name, l.\"unique\" AS "
         "is_unique, l.origin AS origin FROM tables t JOIN pragma_index_list(t.tbl, " +
         on +
         ") l), "
         "keyed AS (SELECT tbl, id, 1 AS indid, 'PK_' || tbl AS name, " +
         primary +
         " AS status, sqlite_name FROM lists WHERE origin = 'pk' "
         "UNION ALL SELECT t.tbl, t.id, 1, 'PK_' || t.tbl, " +
         primary + ", NULL FROM tables t WHERE EXISTS (SELECT 1 FROM pragma_table_info(t.tbl, " +
         on +
         ") c WHERE c.pk = 1 AND c.type = 'INTEGER') "
         "UNION ALL SELECT t.tbl, t.id, 0, t.tbl, 0, NULL FROM tables t WHERE NOT EXISTS "
         "(SELECT 1 FROM pragma_table_info(t.tbl, " +
         on +
         ") c WHERE c.pk > 0) "
         "UNION ALL SELECT tbl, id, 1 + row_number() OVER (PARTITION BY tbl ORDER BY sqlite_name), "
         "CASE WHEN origin = 'u' THEN 'UQ_' || tbl || '_' || (SELECT k.name FROM "
         "pragma_index_info(sqlite_name, " +
         on + ") k WHERE k.seqno = 0) ELSE " + ShownIndexNameSql("sqlite_name", "tbl") +
         " END, CASE WHEN origin = 'u' THEN " + std::to_string(kUnique | kUniqueConstraint) +
         " WHEN is_unique THEN " + std::to_string(kUnique) +
         " ELSE 0 END, sqlite_name FROM lists WHERE origin <> 'pk') ";
}

std::string SysIndexes(const CatalogTarget& t) {
  std::string rows =
      "coalesce(sqlengine_table_rows(" + tsql::QuoteSqliteString(t.schema) + ", k.tbl), 0)";
  return "(" + IndexCommonTables(t) +
         "SELECT k.id AS id, k.status AS status, NULL AS first, k.indid AS indid, "
         "NULL AS root, 0 AS minlen, (SELECT count(*) FROM pragma_index_info(k.sqlite_name, " +
         tsql::QuoteSqliteString(t.schema) +
         ")) + (k.sqlite_name IS NULL AND k.indid = 1) AS keycnt, 1 AS groupid, 0 AS dpages, "
         "0 AS reserved, 0 AS used, " +
         rows +
         " AS rowcnt, 0 AS rowmodctr, 0 AS reserved3, "
         "0 AS reserved4, 0 AS xmaxlen, 0 AS maxirow, 0 AS OrigFillFactor, 0 AS StatVersion, "
         "0 AS reserved2, NULL AS FirstIAM, 0 AS impid, 0 AS lockflags, 0 AS pgmodctr, "
         "NULL AS keys, k.name AS name, NULL AS statblob, 0 AS maxlen, " +
         rows + " AS rows FROM keyed k)";
}

std::string IndexKeys(const CatalogTarget& t) {
  std::string on = tsql::QuoteSqliteString(t.schema);
  return "SELECT k.id AS id, k.indid AS indid, c.cid + 1 AS colid, i.seqno + 1 AS keyno "
         "FROM keyed k JOIN pragma_index_info(k.sqlite_name, " +
         on + ") i JOIN pragma_table_info(k.tbl, " + on +
         ") c ON c.name = i.name WHERE k.sqlite_name IS NOT NULL "
         "UNION ALL SELECT k.id, 1, c.cid + 1, 1 FROM keyed k JOIN pragma_table_info(k.tbl, " +
         on + ") c WHERE k.indid = 1 AND k.sqlite_name IS NULL AND c.pk = 1";
}

std::string SysIndexKeys(const CatalogTarget& t) {
  return "(" + IndexCommonTables(t) + IndexKeys(t) + ")";
}

}  // namespace sqlengine::exec
