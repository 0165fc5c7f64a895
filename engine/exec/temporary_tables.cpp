#include "engine/exec/temporary_tables.h"

#include <sqlite3.h>

#include <cstdio>
#include <stdexcept>

#include "engine/catalog/master_catalog.h"
#include "engine/catalog/sqlite_handle.h"
#include "engine/common/error.h"
#include "engine/exec/table_constraints.h"
#include "engine/tsql/dotted_name.h"
#include "engine/tsql/token.h"

namespace sqlengine::exec {

std::string TempCatalogName(std::string_view name, std::uint64_t number, bool table_variable) {
  if (table_variable) return std::string(name);
  constexpr size_t kLength = 128, kDigits = 12;
  char suffix[kDigits + 1];
  std::snprintf(suffix, sizeof suffix, "%012llX",
                static_cast<unsigned long long>(number & 0xFFFFFFFFFFFFull));
  std::string catalog(name);
  if (catalog.size() + kDigits < kLength) catalog.append(kLength - kDigits - catalog.size(), '_');
  return catalog + suffix;
}

void RecordTempTable(sqlite3* db, const std::string& name, std::uint64_t number,
                     bool table_variable) {
  std::string table = std::string("temp.") + kTempObjectsTable;
  catalog::Exec(db, "CREATE TABLE IF NOT EXISTS " + table +
                        " (name PRIMARY KEY COLLATE NOCASE, catalog_name, id, crdate)");
  // Rows of tables dropped since (a table variable's at the end of its batch)
  // go, so the table holds no more rows than there are tables.
  catalog::Exec(db, "DELETE FROM " + table +
                        " WHERE name NOT IN (SELECT name FROM temp.sqlite_master WHERE type = "
                        "'table')");
  catalog::PreparedStatement insert =
      catalog::Prepare(db, "INSERT OR REPLACE INTO " + table + " VALUES (?1, ?2, ?3, ?4)");
  std::string catalog_name = TempCatalogName(name, number, table_variable);
  std::string now = catalog::CurrentTimestamp();
  sqlite3_bind_text(insert.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(insert.get(), 2, catalog_name.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_int64(insert.get(), 3,
                     kTempObjectIdBase + static_cast<std::int64_t>(number % kTempObjectIdBase));
  sqlite3_bind_text(insert.get(), 4, now.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(insert.get()) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
}

void RefuseTakenTempConstraintNames(sqlite3* db, const std::string& table) {
  std::vector<TableConstraint> all = ReadTableConstraints(db, "temp");
  for (const TableConstraint& named : all) {
    if (named.system_named || !tsql::EqualsIgnoreCase(named.table, table)) continue;
    for (const TableConstraint& other : all) {
      if (!tsql::EqualsIgnoreCase(other.table, table) && other.table.starts_with("#") &&
          tsql::EqualsIgnoreCase(other.name, named.name))
        throw MakeError(2714, {named.name});
    }
    if (ConstraintNamedElsewhere(db, named.name)) throw MakeError(2714, {named.name});
  }
}

bool ConstraintNamedElsewhere(sqlite3* db, const std::string& name) {
  catalog::PreparedStatement elsewhere = catalog::Prepare(
      db,
      "SELECT 1 FROM json_each(sqlengine_temp_tables_elsewhere(), '$.sysobjects') e "
      "WHERE json_extract(e.value, '$[0]') = ?1 COLLATE NOCASE "
      "AND rtrim(json_extract(e.value, '$[2]')) IN ('PK', 'UQ', 'F', 'C', 'D')");
  sqlite3_bind_text(elsewhere.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
  return sqlite3_step(elsewhere.get()) == SQLITE_ROW;
}

bool HasTempObjects(sqlite3* db) {
  catalog::PreparedStatement find = catalog::Prepare(
      db, "SELECT 1 FROM temp.sqlite_master WHERE type = 'table' AND name = ?");
  sqlite3_bind_text(find.get(), 1, kTempObjectsTable, -1, SQLITE_STATIC);
  return sqlite3_step(find.get()) == SQLITE_ROW;
}

std::string TempCatalogNameOf(sqlite3* db, const std::string& name) {
  if (!HasTempObjects(db)) return {};
  catalog::PreparedStatement find = catalog::Prepare(
      db, std::string("SELECT catalog_name FROM temp.") + kTempObjectsTable + " WHERE name = ?1");
  sqlite3_bind_text(find.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(find.get()) != SQLITE_ROW) return {};
  return catalog::ColumnText(find.get(), 0);
}

std::string ConstraintTableName(sqlite3* db, const std::string& schema, const std::string& table) {
  if (schema != "temp" || !table.starts_with("#")) return table;
  std::string catalog_name = TempCatalogNameOf(db, table);
  return catalog_name.empty() ? table : catalog_name;
}

std::string TempTablesSql(bool recorded) {
  std::string rows = recorded ? std::string("temp.") + kTempObjectsTable
                              : "(SELECT NULL AS name, NULL AS catalog_name, NULL AS id, "
                                "NULL AS crdate WHERE 0)";
  return "(SELECT m.name AS name, coalesce(r.catalog_name, m.name) AS catalog_name, "
         "coalesce(r.id, 1000 + m.rowid) AS id, coalesce(r.crdate, '1900-01-01 00:00:00.000') "
         "AS crdate, m.sql AS sql FROM temp.sqlite_master m LEFT JOIN " +
         rows +
         " r ON r.name = m.name WHERE m.type = 'table' AND m.name LIKE '#%')";
}

std::optional<NamedTempTable> FindTempTable(sqlite3* db, std::string_view written) {
  tsql::DottedName name = tsql::ReadWrittenName(written);
  if (name.parts.empty() || name.parts.size() > 3 || !tsql::IsLocalTempName(name.Last()) ||
      (!name.Database().empty() && !tsql::EqualsIgnoreCase(name.Database(), "tempdb")))
    return std::nullopt;
  catalog::PreparedStatement find = catalog::Prepare(
      db, "SELECT name, catalog_name, id, crdate FROM " + TempTablesSql(HasTempObjects(db)) +
              " t WHERE t.name = ?1 COLLATE NOCASE OR t.catalog_name = ?1 COLLATE NOCASE");
  sqlite3_bind_text(find.get(), 1, name.Last().c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(find.get()) != SQLITE_ROW) return std::nullopt;
  return NamedTempTable{catalog::ColumnText(find.get(), 0),
                        {catalog::ColumnText(find.get(), 1), sqlite3_column_int64(find.get(), 2),
                         catalog::ColumnText(find.get(), 3)}};
}

}  // namespace sqlengine::exec
