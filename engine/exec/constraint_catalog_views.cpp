#include "engine/exec/constraint_catalog_views.h"

#include "engine/catalog/data_file.h"
#include "engine/exec/information_schema_views.h"
#include "engine/exec/temporary_tables.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/token.h"

namespace sqlengine::exec {
namespace {

// sysconstraints.status: the kind, then these bits.
constexpr int kColumnLevel = 16;
constexpr int kTableLevel = 32;
constexpr int kClusteredKey = 512;
constexpr int kNonclusteredKey = 1024;
constexpr int kNotDeferrable = 2048;
constexpr int kDisabled = 16384;
constexpr int kSystemNamed = 131072;
// sysobjects.status of a FOREIGN KEY or CHECK constraint: switched off; the
// rows may break it (switched off, added WITH NOCHECK, or switched on again
// without a check).
constexpr int kObjectDisabled = 256;
constexpr int kObjectNotTrusted = 2048;

std::string Text(const std::string& value) { return tsql::QuoteSqliteString(value); }

int KindNumber(const std::string& xtype) {
  if (xtype == "PK") return 1;
  if (xtype == "UQ") return 2;
  if (xtype == "F") return 3;
  if (xtype == "C") return 4;
  return 5;
}

// The user tables: tbl, id, crdate.
std::string Tables(const CatalogTarget& t) {
  if (t.schema == "temp") {
    return "(SELECT x.name AS tbl, x.id AS id, x.crdate AS crdate FROM " +
           TempTablesSql(t.has_temp_objects) + " x)";
  }
  std::string schema = tsql::QuoteSqliteName(t.schema);
  return "(SELECT m.name AS tbl, coalesce(o.id, 1000 + m.rowid) AS id, "
         "coalesce(o.crdate, '1900-01-01 00:00:00.000') AS crdate FROM " +
         schema + ".sqlite_master m LEFT JOIN " + schema + "." + catalog::kObjectsTable +
         " o ON o.name = m.name AND o.xtype = 'U' WHERE m.type = 'table')";
}

// The colid of column `column` (an SQL expression) of table `table`; 0 for none.
std::string ColumnId(const CatalogTarget& t, const std::string& table, const std::string& column) {
  return "coalesce((SELECT p.cid + 1 FROM pragma_table_info(" + table + ", " + Text(t.schema) +
         ") p WHERE p.name = " + column + " COLLATE NOCASE), 0)";
}

// The constraints as rows: name, id, xtype, tbl, disabled, col, system_named,
// text, kind, status (sysconstraints').
std::string ConstraintValues(const CatalogTarget& t) {
  std::string values;
  for (const TableConstraint& c : t.constraints) {
    int status = KindNumber(c.xtype) + (c.column.empty() ? kTableLevel : kColumnLevel) +
                 kNotDeferrable + (c.disabled ? kDisabled : 0) +
                 (c.system_named ? kSystemNamed : 0);
    if (c.xtype == "PK" || c.xtype == "UQ") status += c.clustered ? kClusteredKey : kNonclusteredKey;
    values += std::string(values.empty() ? "VALUES " : ", ") + "(" + Text(c.name) + ", " +
              std::to_string(c.id) + ", " + Text(c.xtype) + ", " + Text(c.table) + ", " +
              (c.disabled ? "1" : "0") + ", " + Text(c.column) + ", " +
              (c.system_named ? "1" : "0") + ", " + Text(c.text) + ", " +
              std::to_string(KindNumber(c.xtype)) + ", " + std::to_string(status) + ", " +
              (c.not_trusted ? "1" : "0") + ")";
  }
  std::string columns =
      "column1 AS name, column2 AS id, column3 AS xtype, column4 AS tbl, column5 AS disabled, "
      "column6 AS col, column7 AS system_named, column8 AS text, column9 AS kind, "
      "column10 AS status, column11 AS not_trusted";
  if (values.empty()) {
    return "(SELECT '' AS name, 0 AS id, '' AS xtype, '' AS tbl, 0 AS disabled, '' AS col, "
           "0 AS system_named, '' AS text, 0 AS kind, 0 AS status, 0 AS not_trusted WHERE 0)";
  }
  return "(SELECT " + columns + " FROM (" + values + "))";
}

const TableConstraint* PrimaryKeyOf(const CatalogTarget& t, const std::string& table) {
  for (const TableConstraint& c : t.constraints) {
    if (c.xtype == "PK" && tsql::EqualsIgnoreCase(c.table, table)) return &c;
  }
  return nullptr;
}

// One row per foreign key column: constid, ftbl, fcol, rtbl, rcol, keyno.
std::string ForeignKeyColumns(const CatalogTarget& t) {
  std::string values;
  for (const TableConstraint& c : t.constraints) {
    if (c.xtype != "F") continue;
    std::vector<std::string> referenced = c.referenced_columns;
    if (referenced.empty()) {
      if (const TableConstraint* key = PrimaryKeyOf(t, c.referenced_table)) {
        referenced = key->columns;
      }
    }
    for (size_t k = 0; k < c.columns.size(); ++k) {
      values += std::string(values.empty() ? "VALUES " : ", ") + "(" + std::to_string(c.id) + ", " +
                Text(c.table) + ", " + Text(c.columns[k]) + ", " + Text(c.referenced_table) + ", " +
                Text(k < referenced.size() ? referenced[k] : c.columns[k]) + ", " +
                std::to_string(k + 1) + ")";
    }
  }
  if (values.empty()) {
    return "(SELECT 0 AS constid, '' AS ftbl, '' AS fcol, '' AS rtbl, '' AS rcol, 0 AS keyno "
           "WHERE 0)";
  }
  return "(SELECT column1 AS constid, column2 AS ftbl, column3 AS fcol, column4 AS rtbl, "
         "column5 AS rcol, column6 AS keyno FROM (" +
         values + "))";
}

// sysforeignkeys' rows with the tables' ids and the columns' ids.
std::string ForeignKeyRows(const CatalogTarget& t) {
  return "(SELECT k.constid AS constid, f.id AS fkeyid, r.id AS rkeyid, " +
         ColumnId(t, "k.ftbl", "k.fcol") + " AS fkey, " + ColumnId(t, "k.rtbl", "k.rcol") +
         " AS rkey, k.keyno AS keyno FROM " + ForeignKeyColumns(t) + " k JOIN " + Tables(t) +
         " f ON f.tbl = k.ftbl COLLATE NOCASE JOIN " + Tables(t) +
         " r ON r.tbl = k.rtbl COLLATE NOCASE)";
}

// INFORMATION_SCHEMA's name of table `table` (an SQL expression of SQLite's
// name): a #temp table's is the one tempdb's catalog gives it.
std::string ShownTable(const CatalogTarget& t, const std::string& table) {
  if (t.schema != "temp") return table;
  return "coalesce((SELECT x.catalog_name FROM " + TempTablesSql(t.has_temp_objects) +
         " x WHERE x.name = " + table + "), " + table + ")";
}

// Whether INFORMATION_SCHEMA lists the constraints of table `table`: the
// session's own #temp tables' always.
std::string Visible(const CatalogTarget& t, const std::string& table) {
  return t.schema == "temp" ? "1" : InformationSchemaVisible(t, table, "'U'");
}

}  // namespace

std::string ConstraintObjects(const CatalogTarget& t) {
  return "(SELECT c.name AS name, c.id AS id, substr(c.xtype || ' ', 1, 2) AS xtype, "
         "t.id AS parent_obj, "
         "t.crdate AS crdate, CASE WHEN c.not_trusted THEN " +
         std::to_string(kObjectNotTrusted) + " ELSE 0 END + CASE WHEN c.disabled THEN " +
         std::to_string(kObjectDisabled) + " ELSE 0 END AS status, " +
         ColumnId(t, "c.tbl", "c.col") + " AS colid, c.text AS text, c.tbl AS tbl FROM " +
         ConstraintValues(t) +
         " c JOIN " + Tables(t) + " t ON t.tbl = c.tbl)";
}

std::string SysConstraints(const CatalogTarget& t) {
  return "(SELECT c.id AS constid, t.id AS id, " + ColumnId(t, "c.tbl", "c.col") +
         " AS colid, 0 AS spare1, c.status AS status, 4096 AS actions, 0 AS error FROM " +
         ConstraintValues(t) + " c JOIN " + Tables(t) + " t ON t.tbl = c.tbl" +
         WithTempTables(t, SysConstraints) + ")";
}

std::string SysForeignKeys(const CatalogTarget& t) { return ForeignKeyRows(t); }

std::string SysReferences(const CatalogTarget& t) {
  std::string keys;
  for (int k = 1; k <= 16; ++k) {
    std::string n = std::to_string(k);
    keys += ", coalesce((SELECT x.fkey FROM keys x WHERE x.constid = c.constid AND x.keyno = " + n +
            "), 0) AS fkey" + n;
  }
  for (int k = 1; k <= 16; ++k) {
    std::string n = std::to_string(k);
    keys += ", coalesce((SELECT x.rkey FROM keys x WHERE x.constid = c.constid AND x.keyno = " + n +
            "), 0) AS rkey" + n;
  }
  return "(WITH keys AS " + ForeignKeyRows(t) +
         " SELECT c.constid AS constid, c.fkeyid AS fkeyid, c.rkeyid AS rkeyid, "
         "1 AS rkeyindid, count(*) AS keycnt, zeroblob(32) AS forkeys, zeroblob(32) AS refkeys, "
         "0 AS fkeydbid, 0 AS rkeydbid" +
         keys + " FROM keys c GROUP BY c.constid, c.fkeyid, c.rkeyid)";
}

std::string InformationSchemaTableConstraints(const CatalogTarget& t) {
  std::string values;
  for (const TableConstraint& c : t.constraints) {
    if (c.xtype == "D") continue;
    std::string type = c.xtype == "PK"   ? "PRIMARY KEY"
                       : c.xtype == "UQ" ? "UNIQUE"
                       : c.xtype == "F"  ? "FOREIGN KEY"
                                         : "CHECK";
    values += std::string(values.empty() ? "VALUES " : ", ") + "(" + Text(c.name) + ", " +
              Text(c.table) + ", " + Text(type) + ")";
  }
  if (values.empty()) values = "SELECT '' AS column1, '' AS column2, '' AS column3 WHERE 0";
  return "(SELECT " + InformationSchemaOwner(t, "CONSTRAINT", "column2") +
         "column1 AS CONSTRAINT_NAME, " + InformationSchemaOwner(t, "TABLE", "column2") +
         ShownTable(t, "column2") +
         " AS TABLE_NAME, column3 AS CONSTRAINT_TYPE, 'NO' AS IS_DEFERRABLE, "
         "'NO' AS INITIALLY_DEFERRED FROM (" +
         values + ") WHERE " + Visible(t, "column2") +
         WithTempTables(t, InformationSchemaTableConstraints) + ")";
}

std::string InformationSchemaKeyColumnUsage(const CatalogTarget& t) {
  std::string values;
  for (const TableConstraint& c : t.constraints) {
    if (c.xtype != "PK" && c.xtype != "UQ" && c.xtype != "F") continue;
    for (size_t k = 0; k < c.columns.size(); ++k) {
      values += std::string(values.empty() ? "VALUES " : ", ") + "(" + Text(c.name) + ", " +
                Text(c.table) + ", " + Text(c.columns[k]) + ", " + std::to_string(k + 1) + ")";
    }
  }
  if (values.empty()) {
    values = "SELECT '' AS column1, '' AS column2, '' AS column3, 0 AS column4 WHERE 0";
  }
  return "(SELECT " + InformationSchemaOwner(t, "CONSTRAINT", "column2") +
         "column1 AS CONSTRAINT_NAME, " + InformationSchemaOwner(t, "TABLE", "column2") +
         ShownTable(t, "column2") +
         " AS TABLE_NAME, column3 AS COLUMN_NAME, column4 AS ORDINAL_POSITION FROM (" + values +
         ") WHERE " + Visible(t, "column2") + WithTempTables(t, InformationSchemaKeyColumnUsage) +
         ")";
}

std::string InformationSchemaReferentialConstraints(const CatalogTarget& t) {
  std::string values;
  for (const TableConstraint& c : t.constraints) {
    if (c.xtype != "F") continue;
    std::string unique;
    for (const TableConstraint& key : t.constraints) {
      bool keyed = (key.xtype == "PK" || key.xtype == "UQ") &&
                   tsql::EqualsIgnoreCase(key.table, c.referenced_table);
      if (!keyed) continue;
      bool same = c.referenced_columns.empty() ? key.xtype == "PK"
                                               : key.columns.size() == c.referenced_columns.size();
      for (size_t k = 0; same && k < c.referenced_columns.size(); ++k) {
        same = tsql::EqualsIgnoreCase(key.columns[k], c.referenced_columns[k]);
      }
      if (same) unique = key.name;
    }
    auto rule = [](const std::string& action) {
      return Text(action == "CASCADE" ? "CASCADE" : "NO ACTION");
    };
    values += std::string(values.empty() ? "VALUES " : ", ") + "(" + Text(c.name) + ", " +
              (unique.empty() ? std::string("NULL") : Text(unique)) + ", " + rule(c.on_update) +
              ", " + rule(c.on_delete) + ", " + Text(c.table) + ", " + Text(c.referenced_table) +
              ")";
  }
  if (values.empty()) {
    values =
        "SELECT '' AS column1, '' AS column2, '' AS column3, '' AS column4, '' AS column5, "
        "'' AS column6 WHERE 0";
  }
  return "(SELECT " + InformationSchemaOwner(t, "CONSTRAINT", "column5") +
         "column1 AS CONSTRAINT_NAME, " + InformationSchemaOwner(t, "UNIQUE_CONSTRAINT", "column6") +
         "column2 AS UNIQUE_CONSTRAINT_NAME, 'SIMPLE' AS MATCH_OPTION, column3 AS UPDATE_RULE, "
         "column4 AS DELETE_RULE FROM (" +
         values + ") WHERE " + Visible(t, "column5") +
         WithTempTables(t, InformationSchemaReferentialConstraints) + ")";
}

std::string InformationSchemaCheckConstraints(const CatalogTarget& t) {
  return "(SELECT " + InformationSchemaOwner(t, "CONSTRAINT", "c.tbl") +
         "c.name AS CONSTRAINT_NAME, c.text AS CHECK_CLAUSE FROM " + ConstraintValues(t) +
         " c WHERE c.xtype = 'C' AND " + Visible(t, "c.tbl") +
         WithTempTables(t, InformationSchemaCheckConstraints) + ")";
}

std::string InformationSchemaConstraintColumnUsage(const CatalogTarget& t) {
  std::string values;
  for (const TableConstraint& c : t.constraints) {
    if (c.xtype == "D") continue;
    for (const std::string& column : c.columns) {
      values += std::string(values.empty() ? "VALUES " : ", ") + "(" + Text(c.table) + ", " +
                Text(column) + ", " + Text(c.name) + ")";
    }
  }
  if (values.empty()) values = "SELECT '' AS column1, '' AS column2, '' AS column3 WHERE 0";
  return "(SELECT " + InformationSchemaOwner(t, "TABLE", "column1") + ShownTable(t, "column1") +
         " AS TABLE_NAME, column2 AS COLUMN_NAME, " +
         InformationSchemaOwner(t, "CONSTRAINT", "column1") + "column3 AS CONSTRAINT_NAME FROM (" +
         values + ") WHERE " + Visible(t, "column1") +
         WithTempTables(t, InformationSchemaConstraintColumnUsage) + ")";
}

}  // namespace sqlengine::exec
