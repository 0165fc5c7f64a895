#include "engine/exec/index_catalog_views.h"

#include "engine/catalog/data_file.h"
#include "engine/catalog/sqlite_handle.h"
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
         on + ") k WHERE k.seqno = 0) ELSE sqlite_name END, CASE WHEN origin = 'u' THEN " +
         std::to_string(kUnique | kUniqueConstraint) + " WHEN is_unique THEN " +
         std::to_string(kUnique) + " ELSE 0 END, sqlite_name FROM lists WHERE origin <> 'pk') ";
}

namespace {

// (tbl, n): each table's row count as the catalog target carries it.
std::string RowCounts(const CatalogTarget& t) {
  std::string counts;
  for (const auto& [table, rows] : t.table_rows) {
    counts += std::string(counts.empty() ? "" : " UNION ALL ") + "SELECT " +
              tsql::QuoteSqliteString(table) + ", " + std::to_string(rows);
  }
  if (counts.empty()) counts = "SELECT NULL, 0 WHERE 0";
  return counts;
}

}  // namespace

std::string SysIndexes(const CatalogTarget& t) {
  return "(" + IndexCommonTables(t) + ", counts (tbl, n) AS (" + RowCounts(t) +
         ") SELECT k.id AS id, k.status AS status, NULL AS first, k.indid AS indid, "
         "NULL AS root, 0 AS minlen, (SELECT count(*) FROM pragma_index_info(k.sqlite_name, " +
         tsql::QuoteSqliteString(t.schema) +
         ")) + (k.sqlite_name IS NULL AND k.indid = 1) AS keycnt, 1 AS groupid, 0 AS dpages, "
         "0 AS reserved, 0 AS used, coalesce(c.n, 0) AS rowcnt, 0 AS rowmodctr, 0 AS reserved3, "
         "0 AS reserved4, 0 AS xmaxlen, 0 AS maxirow, 0 AS OrigFillFactor, 0 AS StatVersion, "
         "0 AS reserved2, NULL AS FirstIAM, 0 AS impid, 0 AS lockflags, 0 AS pgmodctr, "
         "NULL AS keys, k.name AS name, NULL AS statblob, 0 AS maxlen, coalesce(c.n, 0) AS rows "
         "FROM keyed k LEFT JOIN counts c ON c.tbl = k.tbl)";
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

std::vector<std::pair<std::string, std::int64_t>> TableRowCounts(sqlite3* db,
                                                                 const std::string& schema) {
  std::vector<std::string> tables;
  {
    auto names = catalog::Prepare(
        db, "SELECT name FROM " + tsql::QuoteSqliteName(schema) +
                ".sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' "
                "AND name NOT LIKE 'sqlengine\\_%' ESCAPE '\\'");
    while (sqlite3_step(names.get()) == SQLITE_ROW)
      tables.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(names.get(), 0)));
  }
  std::vector<std::pair<std::string, std::int64_t>> counts;
  for (const std::string& table : tables) {
    auto count = catalog::Prepare(db, "SELECT count(*) FROM " + tsql::QuoteSqliteName(schema) +
                                          "." + tsql::QuoteSqliteName(table));
    if (sqlite3_step(count.get()) == SQLITE_ROW)
      counts.emplace_back(table, sqlite3_column_int64(count.get(), 0));
  }
  return counts;
}

}  // namespace sqlengine::exec
