#include "engine/exec/catalog_views.h"

#include <stdexcept>

#include "engine/catalog/data_file.h"
#include "engine/catalog/log_name_vfs.h"
#include "engine/catalog/master_catalog.h"
#include "engine/catalog/server_configuration.h"
#include "engine/catalog/sqlite_handle.h"
#include "engine/exec/catalog_view_columns.h"
#include "engine/exec/constraint_catalog_views.h"
#include "engine/exec/database_security.h"
#include "engine/exec/index_catalog_views.h"
#include "engine/exec/information_schema_views.h"
#include "engine/exec/procedures.h"
#include "engine/exec/rules_defaults.h"
#include "engine/exec/security_catalog_views.h"
#include "engine/exec/temporary_tables.h"
#include "engine/exec/server_catalog_views.h"
#include "engine/exec/triggers.h"
#include "engine/exec/user_types.h"
#include "engine/tsql/collation_names.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/token.h"

namespace sqlengine::exec {
namespace {

// The xtype of a row of UserObjects.
constexpr std::string_view kUserObjectKind = "CASE u.type WHEN 'view' THEN 'V' ELSE 'U' END";

bool IsTempTarget(const CatalogTarget& t) { return t.schema == "temp"; }

// User tables and views of a schema, hiding SQLite's and the engine's own;
// of the temporary schema the session's #temp tables, with the name (shown)
// and id tempdb's catalog gives them.
std::string UserObjects(const CatalogTarget& t) {
  if (IsTempTarget(t)) {
    return "SELECT x.name AS name, 'table' AS type, x.sql AS sql, x.catalog_name AS shown, "
           "x.id AS id FROM " + TempTablesSql(t.has_temp_objects) + " x";
  }
  return "SELECT name, type, sql FROM " + tsql::QuoteSqliteName(t.schema) +
         ".sqlite_master WHERE type IN ('table', 'view') AND name NOT LIKE 'sqlite\\_%' ESCAPE "
         "'\\' "
         "AND name NOT LIKE 'sqlengine\\_%' ESCAPE '\\'";
}

std::string SysDatabases(const CatalogTarget& t) {
  return "(SELECT name AS name, dbid AS dbid, owner_sid AS sid, 0 AS mode, "
         "CASE WHEN dbid <= 4 THEN 24 ELSE 16 END AS status, 1090519040 AS status2, "
         "crdate AS crdate, '1900-01-01 00:00:00.000' AS reserved, 0 AS category, "
         "cmptlevel AS cmptlevel, "
         "CASE WHEN substr(file_name, 1, 1) = '/' THEN file_name ELSE " +
         tsql::QuoteSqliteString(t.data_folder) +
         " || file_name END AS filename, 539 AS version FROM " +
         tsql::QuoteSqliteName(t.master_schema) + "." + catalog::kDatabasesTable + ")";
}

// The columns of a kind of sysobjects row that vary, as SQL expressions.
struct ObjectRowSql {
  std::string name, id, xtype, crdate;
  std::string parent = "0", status = "0", owner = "1";
  std::string deltrig = "0", instrig = "0", updtrig = "0";
};

std::string SysObjectsColumns(const ObjectRowSql& r) {
  return r.name + " AS name, " + r.id + " AS id, " + r.xtype + " AS xtype, " + r.owner +
         " AS uid, 0 AS info, " + r.status + " AS status, " +
         "0 AS base_schema_ver, 0 AS replinfo, " + r.parent + " AS parent_obj, " + r.crdate +
         " AS crdate, 0 AS ftcatid, 0 AS schema_ver, 0 AS stats_schema_ver, " + r.xtype +
         " AS type, 0 AS userstat, 1 AS sysstat, 0 AS indexdel, " + r.crdate +
         " AS refdate, 0 AS version, " + r.deltrig + " AS deltrig, " + r.instrig +
         " AS instrig, " + r.updtrig + " AS updtrig, 0 AS seltrig, 0 AS category, 0 AS cache";
}

// The id of the first trigger (the earliest made) of the table or view the
// SQL expression `table` names that fires for `event` ('I', 'U', 'D'); 0
// for none.
std::string FirstTrigger(const CatalogTarget& t, std::string_view table, char event) {
  if (!t.has_triggers) return "0";
  std::string schema = tsql::QuoteSqliteName(t.schema);
  return "coalesce((SELECT min(f.id) FROM " + schema + "." + catalog::kObjectsTable + " f JOIN " +
         schema + "." + kTriggersTable +
         " e ON e.name = f.name AND f.xtype = 'TR' WHERE e.table_name = " + std::string(table) +
         " AND instr(e.events, '" + std::string(1, event) + "') > 0), 0)";
}

// SystemTablesOf(t.database) as a VALUES list (column1 name, column2 id).
std::string SystemTableValues(const CatalogTarget& t) {
  std::string values;
  for (const SystemTable& table : SystemTablesOf(t.database)) {
    values += std::string(values.empty() ? "VALUES " : ", ") + "(" +
              tsql::QuoteSqliteString(std::string(table.name)) + ", " + std::to_string(table.id) +
              ")";
  }
  return values;
}

// The triggers' rows of sysobjects (each under its table), ending in
// "UNION ALL SELECT "; empty for a database without triggers.
std::string TriggerObjects(const CatalogTarget& t) {
  if (!t.has_triggers) return "";
  std::string schema = tsql::QuoteSqliteName(t.schema);
  std::string objects = schema + "." + catalog::kObjectsTable;
  ObjectRowSql row{"o.name", "o.id", "o.xtype", "o.crdate"};
  row.parent = "coalesce((SELECT coalesce(p.id, 1000 + m.rowid) FROM " + schema +
               ".sqlite_master m LEFT JOIN " + objects +
               " p ON p.name = m.name AND p.xtype IN ('U', 'V') WHERE g.table_name = m.name AND "
               "m.type IN ('table', 'view')), 0)";
  // What fires the trigger, in the engine's own bits of the internal column.
  row.status = "(CASE WHEN instr(g.events, 'I') > 0 THEN " + std::to_string(kTriggerOnInsert) +
               " ELSE 0 END + CASE WHEN instr(g.events, 'U') > 0 THEN " +
               std::to_string(kTriggerOnUpdate) +
               " ELSE 0 END + CASE WHEN instr(g.events, 'D') > 0 THEN " +
               std::to_string(kTriggerOnDelete) + " ELSE 0 END + CASE WHEN g.instead_of THEN " +
               std::to_string(kTriggerInsteadOf) + " ELSE 0 END)";
  // A trigger belongs to its table's owner; its deltrig names the table.
  row.owner = OwnerUidSql(t, "g.table_name");
  row.deltrig = row.parent;
  return SysObjectsColumns(row) + " FROM " + objects + " o JOIN " + schema + "." + kTriggersTable +
         " g ON g.name = o.name WHERE o.xtype = 'TR' UNION ALL SELECT ";
}

// The sysobjects columns of the user tables and views of TableRows.
ObjectRowSql TableRow(const CatalogTarget& t) {
  ObjectRowSql row{"u.name", "coalesce(o.id, 1000 + m.rowid)",
                   "coalesce(o.xtype, CASE u.type WHEN 'view' THEN 'V' ELSE 'U' END)",
                   "coalesce(o.crdate, '1900-01-01 00:00:00.000')"};
  row.owner = OwnerUidSql(t, "u.name");
  row.deltrig = FirstTrigger(t, "u.name", 'D');
  row.instrig = FirstTrigger(t, "u.name", 'I');
  row.updtrig = FirstTrigger(t, "u.name", 'U');
  return row;
}

// The sources TableRow's columns read.
std::string TableRows(const CatalogTarget& t) {
  std::string schema = tsql::QuoteSqliteName(t.schema);
  return "(" + UserObjects(t) + ") u JOIN " + schema + ".sqlite_master m ON m.name = u.name " +
         "LEFT JOIN " + schema + "." + catalog::kObjectsTable +
         " o ON o.name = u.name AND o.xtype IN ('U', 'V')";
}

// The session's #temp tables and their constraints, of the #temp tables'
// target: tempdb's objects all, whoever made them, are dbo's.
std::string TempSysObjects(const CatalogTarget& t) {
  ObjectRowSql constraint{"k.name", "k.id", "k.xtype", "k.crdate", "k.parent_obj", "k.status"};
  return "(SELECT " + SysObjectsColumns({"x.catalog_name", "x.id", "'U'", "x.crdate"}) +
         " FROM " + TempTablesSql(t.has_temp_objects) + " x UNION ALL SELECT " +
         SysObjectsColumns(constraint) + " FROM " + ConstraintObjects(t) + " k)";
}

// tempdb's rows of the #temp tables, the session's own and other sessions'
// (which it may see, but not read), beginning "UNION ALL"; empty elsewhere.
std::string TempObjectRows(const CatalogTarget& t) {
  if (!t.lists_temp_tables) return "";
  return " UNION ALL SELECT * FROM " + TempSysObjects(TempTablesTarget(t)) +
         RowsElsewhere(t, "sysobjects");
}

std::string SysObjects(const CatalogTarget& t) {
  if (IsTempTarget(t)) return TempSysObjects(t);
  std::string objects = tsql::QuoteSqliteName(t.schema) + "." + catalog::kObjectsTable;
  ObjectRowSql routine{"o.name", "o.id", "o.xtype", "o.crdate"};
  routine.owner = OwnerUidSql(t, "o.name");
  ObjectRowSql constraint{"k.name", "k.id", "k.xtype", "k.crdate", "k.parent_obj", "k.status"};
  constraint.owner = OwnerUidSql(t, "k.tbl");
  return "(SELECT " + SysObjectsColumns(TableRow(t)) + " FROM " + TableRows(t) +
         " UNION ALL SELECT " + SysObjectsColumns(routine) + " FROM " + objects +
         " o WHERE o.xtype IN ('P', 'FN', 'IF', 'TF', 'R', 'D') UNION ALL SELECT " +
         SysObjectsColumns(constraint) + " FROM " + ConstraintObjects(t) +
         " k UNION ALL SELECT " + TriggerObjects(t) +
         SysObjectsColumns({"s.column1", "s.column2", "'S'", "'1900-01-01 00:00:00.000'"}) +
         " FROM (" + SystemTableValues(t) + ") s" + TempObjectRows(t) + ")";
}

// syscomments: one row per procedure, function, trigger and view holding its
// whole CREATE text as written (SQL Server cuts it into rows of 4000
// characters); the text of one made WITH ENCRYPTION is NULL, for every reader.
std::string SysComments(const CatalogTarget& t) {
  std::string schema = tsql::QuoteSqliteName(t.schema);
  std::string objects = schema + "." + catalog::kObjectsTable;
  auto columns = [](std::string_view number, std::string_view encrypted,
                    std::string_view definition = "c.definition") {
    std::string e(encrypted);
    std::string d(definition);
    return "o.id AS id, " + std::string(number) + " AS number, 1 AS colid, CASE WHEN " + e +
           " THEN 3 ELSE 2 END AS status, "
           "CASE WHEN " +
           e + " THEN NULL ELSE CAST(" + d +
           " AS blob) END AS ctext, "
           "2 AS texttype, 0 AS language, " +
           e +
           " AS encrypted, 0 AS compressed, "
           "CASE WHEN " +
           e + " THEN NULL ELSE " + d + " END AS text";
  };
  std::string rows;
  if (t.has_procedures) {
    // A group's procedures are rows of its one object, by their numbers.
    rows += "SELECT " +
            columns(GroupNumberSql("c.name"), "sqlengine_encrypted(c.definition)") +
            " FROM " + schema + "." + catalog::kProceduresTable + " c JOIN " + objects +
            " o ON o.name = " + GroupNameSql("c.name") + " AND o.xtype IN ('P', 'FN', 'IF', 'TF')";
  }
  if (t.has_triggers) {
    rows += std::string(rows.empty() ? "" : " UNION ALL ") + "SELECT " +
            columns("0", "c.encrypted") + " FROM " + schema + "." + kTriggersTable + " c JOIN " +
            objects + " o ON o.name = c.name AND o.xtype = 'TR'";
  }
  // Views, numbered as sysobjects numbers them.
  rows += std::string(rows.empty() ? "" : " UNION ALL ") + "SELECT " +
          columns("0", "sqlengine_encrypted(o.definition)", "o.definition") +
          " FROM (SELECT coalesce(v.id, 1000 + m.rowid) AS id, " +
          "sqlengine_view_text(m.sql) AS definition FROM " + schema + ".sqlite_master m LEFT JOIN " +
          objects + " v ON v.name = m.name AND v.xtype = 'V' WHERE m.type = 'view' AND m.name " +
          "NOT LIKE 'sqlengine\\_%' ESCAPE '\\') o";
  if (t.has_rules) {
    rows += std::string(rows.empty() ? "" : " UNION ALL ") + "SELECT " + columns("0", "0") +
            " FROM " + schema + "." + kRulesTable + " c JOIN " + objects +
            " o ON o.name = c.name AND o.xtype = c.kind";
  }
  // CHECK and DEFAULT constraints and computed columns (numbered by their
  // column) hold their expressions as written.
  std::string texts;
  for (const TableConstraint& c : t.constraints) {
    if (c.xtype != "C" && c.xtype != "D") continue;
    texts += std::string(texts.empty() ? "" : " UNION ALL ") + "SELECT " + std::to_string(c.id) +
             " AS id, 0 AS number, " + tsql::QuoteSqliteString(c.text) + " AS definition";
  }
  for (const ComputedColumnText& c : t.computed_columns) {
    if (c.text.empty()) continue;
    texts += std::string(texts.empty() ? "" : " UNION ALL ") + "SELECT (SELECT id FROM " + objects +
             " WHERE name = " + tsql::QuoteSqliteString(c.table) + ") AS id, " +
             std::to_string(c.colid) + " AS number, " + tsql::QuoteSqliteString(c.text) +
             " AS definition";
  }
  if (!texts.empty()) {
    rows += std::string(rows.empty() ? "" : " UNION ALL ") + "SELECT " +
            columns("o.number", "0", "o.definition") + " FROM (" + texts + ") o";
  }
  if (rows.empty()) {
    rows = "SELECT " + columns("0", "0") + " FROM (SELECT 0 AS id, NULL AS definition) o, " +
           "(SELECT NULL AS definition) c WHERE 0";
  }
  return "(" + rows + ")";
}

// One row per built-in type: name, xtype, length, xprec, xscale, variable
// length, with SQL Server 2000's values; sysname is nvarchar(128) under its
// own xusertype.
std::string SysTypes(const CatalogTarget& t) {
  std::string user_types;
  if (t.has_user_types) {
    // sp_addtype's types, numbered from 257 as SQL Server numbers them.
    auto type = [](std::string_view property) {
      return "sqlengine_type_property(u.base, '" + std::string(property) + "')";
    };
    user_types = " UNION ALL SELECT u.name, " + type("xtype") + ", 0, 256 + u.rowid, " +
                 type("length") + ", coalesce(" + type("precision") + ", 0), coalesce(" +
                 type("scale") + ", 0), 0, 0, 1, 0, " + type("xtype") +
                 " IN (165, 167, 231), u.nullable, coalesce(" + type("precision") + ", " +
                 type("length") + " / CASE WHEN " + type("xtype") + " IN (231, 239) THEN 2 ELSE 1 END), " + type("scale") + ", CASE WHEN " + type("xtype") +
                 " IN (35, 99, 167, 175, 231, 239) THEN 'SQL_Latin1_General_CP1_CI_AS' END FROM " +
                 tsql::QuoteSqliteName(t.schema) + "." + kUserTypesTable + " u";
  }
  return "(SELECT column1 AS name, column2 AS xtype, 0 AS status, "
         "coalesce(column7, column2) AS xusertype, column3 AS length, column4 AS xprec, "
         "column5 AS xscale, 0 AS tdefault, 0 AS domain, 1 AS uid, 0 AS reserved, "
         "column6 AS variable, 1 AS allownulls, "
         // A Unicode type's precision counts characters, two bytes each.
         "CASE WHEN column4 > 0 THEN column4 WHEN column2 IN (231, 239) THEN column3 / 2 "
         "ELSE column3 END AS prec, "
         "CASE WHEN column4 > 0 THEN column5 END AS scale, "
         "CASE WHEN column2 IN (35, 99, 167, 175, 231, 239) "
         "THEN 'SQL_Latin1_General_CP1_CI_AS' END AS collation FROM (VALUES "
         "('bigint', 127, 8, 19, 0, 0, NULL), ('binary', 173, 8000, 0, 0, 0, NULL), "
         "('bit', 104, 1, 1, 0, 0, NULL), ('char', 175, 8000, 0, 0, 0, NULL), "
         "('datetime', 61, 8, 23, 3, 0, NULL), ('decimal', 106, 17, 38, 38, 0, NULL), "
         "('float', 62, 8, 53, 0, 0, NULL), ('image', 34, 16, 0, 0, 1, NULL), "
         "('int', 56, 4, 10, 0, 0, NULL), ('money', 60, 8, 19, 4, 0, NULL), "
         "('nchar', 239, 8000, 0, 0, 0, NULL), ('ntext', 99, 16, 0, 0, 1, NULL), "
         "('numeric', 108, 17, 38, 38, 0, NULL), ('nvarchar', 231, 8000, 0, 0, 1, NULL), "
         "('real', 59, 4, 24, 0, 0, NULL), ('smalldatetime', 58, 4, 16, 0, 0, NULL), "
         "('smallint', 52, 2, 5, 0, 0, NULL), ('smallmoney', 122, 4, 10, 4, 0, NULL), "
         "('sql_variant', 98, 8016, 0, 0, 1, NULL), ('sysname', 231, 256, 0, 0, 1, 256), "
         "('text', 35, 16, 0, 0, 1, NULL), ('timestamp', 189, 8, 0, 0, 0, NULL), "
         "('tinyint', 48, 1, 3, 0, 0, NULL), ('uniqueidentifier', 36, 16, 0, 0, 0, NULL), "
         "('varbinary', 165, 8000, 0, 0, 1, NULL), ('varchar', 167, 8000, 0, 0, 1, NULL))" +
         user_types + ")";
}

// The type of the column `c` of Columns' table `u`: an identity's declared
// type, a view's column's as the view recorded or binds it.
std::string ColumnTypeSql(const CatalogTarget& t) {
  return "sqlengine_column_type(c.type, c.pk, u.sql, c.cid, " + tsql::QuoteSqliteString(t.schema) +
         ")";
}

// A property (sqlengine_type_property's) of ColumnTypeSql.
std::string ColumnTypeProperty(const CatalogTarget& t, std::string_view property) {
  return "sqlengine_type_property(" + ColumnTypeSql(t) + ", '" + std::string(property) + "')";
}

// Whether the column `c` of Columns' table `u` takes no NULL (a view's as
// its query says).
std::string ColumnNotNull(const CatalogTarget& t) {
  return "(c.\"notnull\" OR c.pk OR c.type = 'timestamp' OR (u.type = 'view' AND "
         "sqlengine_view_column_null(u.sql, c.cid, " + tsql::QuoteSqliteString(t.schema) +
         ") = 0))";
}

// The collation of the column `c` of Columns' table `u` (NULL for one not of
// a character type).
std::string ColumnCollation(const CatalogTarget& t) {
  return "sqlengine_column_collation(" + tsql::QuoteSqliteString(t.schema) +
         ", u.name, c.name, " + ColumnTypeSql(t) + ", u.type = 'view')";
}

std::string Columns(const CatalogTarget& t, std::string_view select_list) {
  return "SELECT " + std::string(select_list) + " FROM (" + UserObjects(t) +
         ") u JOIN pragma_table_xinfo(u.name, " + tsql::QuoteSqliteString(t.schema) + ") c";
}

// The object id of Columns' table `u`.
std::string ColumnsTableId(const CatalogTarget& t) {
  if (IsTempTarget(t)) return "u.id";
  std::string objects = tsql::QuoteSqliteName(t.schema) + "." + catalog::kObjectsTable;
  return "coalesce((SELECT id FROM " + objects +
         " o WHERE o.name = u.name), 1000 + (SELECT rowid FROM " +
         tsql::QuoteSqliteName(t.schema) + ".sqlite_master m WHERE m.name = u.name))";
}

// The name the catalog shows for Columns' (or UserObjects') table `u`.
std::string ShownName(const CatalogTarget& t) { return IsTempTarget(t) ? "u.shown" : "u.name"; }

// The columns of the system tables sysobjects lists, as SQL Server declares
// them, beginning "UNION ALL"; empty for the #temp tables' target.
std::string SystemTableColumns(const CatalogTarget& t) {
  if (IsTempTarget(t)) return "";
  std::string values;
  for (const SystemTable& table : SystemTablesOf(t.database)) {
    int colid = 0;
    for (const CatalogViewColumn& column : CatalogViewColumns(table.name)) {
      bool sysname = tsql::EqualsIgnoreCase(column.type, "sysname");
      values += std::string(values.empty() ? "VALUES " : ", ") + "(" +
                tsql::QuoteSqliteString(std::string(column.name)) + ", " +
                std::to_string(table.id) + ", " +
                tsql::QuoteSqliteString(sysname ? "nvarchar(128)" : std::string(column.type)) +
                ", " + (sysname ? "256" : "NULL") + ", " + std::to_string(++colid) + ", " +
                (column.nullable ? "1" : "0") + ")";
    }
  }
  auto type = [](std::string_view property) {
    return "sqlengine_type_property(s.column3, '" + std::string(property) + "')";
  };
  return " UNION ALL SELECT s.column1, s.column2, " + type("xtype") + ", 0, coalesce(s.column4, " +
         type("xtype") + "), " + type("length") + ", coalesce(" + type("precision") +
         ", 0), coalesce(" + type("scale") + ", 0), s.column5, 0, 0, 0, 0, 0, 0, 0, s.column5, "
         "NULL, 0, s.column6, " + type("precision") + ", " + type("scale") + ", 0, 0, CASE WHEN " +
         type("xtype") +
         " IN (35, 99, 167, 175, 231, 239) THEN 'SQL_Latin1_General_CP1_CI_AS' END FROM (" +
         values + ") s";
}

std::string SysColumns(const CatalogTarget& t) {
  return "(" +
         Columns(
             t,
             "c.name AS name, " + ColumnsTableId(t) + " AS id, "
                 + ColumnTypeProperty(t, "xtype") + " AS xtype, 0 AS typestat, "
                 + ColumnTypeProperty(t, "xtype") + " AS xusertype, "
                 + ColumnTypeProperty(t, "length") + " AS length, "
                 "coalesce(" + ColumnTypeProperty(t, "precision") + ", 0) AS xprec, "
                 "coalesce(" + ColumnTypeProperty(t, "scale") + ", 0) AS xscale, "
                 "c.cid + 1 AS colid, 0 AS xoffset, 0 AS bitpos, 0 AS reserved, "
                 // An identity column is the table's INTEGER PRIMARY KEY.
                 "CASE WHEN c.pk = 1 AND c.type = 'INTEGER' THEN 1 ELSE 0 END AS colstat, "
                 "0 AS cdefault, "
                 "0 AS domain, 0 AS number, c.cid + 1 AS colorder, NULL AS autoval, 0 AS offset, "
                 "CASE WHEN " + ColumnNotNull(t) + " THEN 0 ELSE 1 END AS isnullable, "
                 + ColumnTypeProperty(t, "precision") + " AS prec, "
                 + ColumnTypeProperty(t, "scale") + " AS scale, "
                 // A computed column is a generated column (hidden 2).
                 "CASE WHEN c.hidden >= 2 THEN 1 ELSE 0 END AS iscomputed, "
                 "0 AS isoutparam, " + ColumnCollation(t) + " AS collation") +
         SystemTableColumns(t) + WithTempTables(t, SysColumns) + RowsElsewhere(t, "syscolumns") +
         ")";
}

// Whether INFORMATION_SCHEMA lists the table or view `u` (the session's own
// #temp tables always).
std::string Listed(const CatalogTarget& t, std::string_view column = {}) {
  if (IsTempTarget(t)) return "1";
  return InformationSchemaVisible(t, "u.name", kUserObjectKind, column);
}

std::string InformationSchemaTables(const CatalogTarget& t) {
  return "(SELECT " + tsql::QuoteSqliteString(t.database) +
         " AS TABLE_CATALOG, " + OwnerNameSql(t, "u.name") + " AS TABLE_SCHEMA, " + ShownName(t) +
         " AS TABLE_NAME, "
         "CASE u.type WHEN 'view' THEN 'VIEW' ELSE 'BASE TABLE' END AS TABLE_TYPE FROM (" +
         UserObjects(t) + ") u WHERE " + Listed(t) + WithTempTables(t, InformationSchemaTables) +
         ")";
}

// A column's default as the catalog shows it: the text of its DEFAULT
// constraint, as written; the stored expression where there is none.
std::string ColumnDefault(const CatalogTarget& t) {
  std::string cases;
  for (const TableConstraint& c : t.constraints) {
    if (c.xtype != "D" || c.columns.empty()) continue;
    cases += " WHEN u.name = " + tsql::QuoteSqliteString(c.table) +
             " COLLATE NOCASE AND c.name = " + tsql::QuoteSqliteString(c.columns.front()) +
             " COLLATE NOCASE THEN " + tsql::QuoteSqliteString(c.text);
  }
  return cases.empty() ? "c.dflt_value" : "CASE" + cases + " ELSE c.dflt_value END";
}

std::string InformationSchemaColumns(const CatalogTarget& t) {
  std::string collation = ColumnCollation(t);
  return "(" +
         Columns(t, tsql::QuoteSqliteString(t.database) +
                        " AS TABLE_CATALOG, " + OwnerNameSql(t, "u.name") +
                        " AS TABLE_SCHEMA, " + ShownName(t) + " AS TABLE_NAME, "
                        "c.name AS COLUMN_NAME, c.cid + 1 AS ORDINAL_POSITION, " +
                        ColumnDefault(t) +
                        " AS COLUMN_DEFAULT, "
                        "CASE WHEN " + ColumnNotNull(t) + " THEN 'NO' ELSE 'YES' END "
                        "AS IS_NULLABLE, "
                        + ColumnTypeProperty(t, "name") + " AS DATA_TYPE, "
                        + ColumnTypeProperty(t, "chars") + " AS CHARACTER_MAXIMUM_LENGTH, "
                        + ColumnTypeProperty(t, "length") + " AS CHARACTER_OCTET_LENGTH, "
                        + ColumnTypeProperty(t, "precision") + " AS NUMERIC_PRECISION, "
                        "CASE WHEN " + ColumnTypeProperty(t, "precision") + " IS NULL THEN NULL "
                        "ELSE 10 END AS NUMERIC_PRECISION_RADIX, "
                        "CASE WHEN " + ColumnTypeProperty(t, "precision") + " IS NULL THEN NULL "
                        "ELSE " + ColumnTypeProperty(t, "scale") + " END AS NUMERIC_SCALE, "
                        // ODBC's datetime subtype code (SQL_CODE_TIMESTAMP).
                        "CASE WHEN " + ColumnTypeProperty(t, "xtype") + " IN (58, 61) THEN 3 END "
                        "AS DATETIME_PRECISION, "
                        // Character data's set and collation are master's, owned by dbo.
                        "CASE WHEN " + collation + " IS NOT NULL THEN 'master' END "
                        "AS CHARACTER_SET_CATALOG, "
                        "CASE WHEN " + collation + " IS NOT NULL THEN 'dbo' END "
                        "AS CHARACTER_SET_SCHEMA, "
                        "CASE WHEN " + ColumnTypeProperty(t, "xtype") + " IN (99, 231, 239) THEN "
                        "'UNICODE' WHEN " + collation + " IS NOT NULL THEN 'iso_1' END "
                        "AS CHARACTER_SET_NAME, "
                        "CASE WHEN " + collation + " IS NOT NULL THEN 'master' END "
                        "AS COLLATION_CATALOG, "
                        "CASE WHEN " + collation + " IS NOT NULL THEN 'dbo' END "
                        "AS COLLATION_SCHEMA, " + collation + " AS COLLATION_NAME, "
                        "NULL AS DOMAIN_CATALOG, NULL AS DOMAIN_SCHEMA, NULL AS DOMAIN_NAME") +
         " WHERE " + Listed(t, "c.name") + WithTempTables(t, InformationSchemaColumns) + ")";
}

std::string SysFiles(const CatalogTarget& t) {
  std::string log_file = catalog::LogFileFor(t.data_file).string();
  return "(SELECT 1 AS fileid, 1 AS groupid, (SELECT page_count FROM pragma_page_count(" +
         tsql::QuoteSqliteString(t.schema) +
         ")) AS size, -1 AS maxsize, 10 AS growth, 1048578 AS status, 0 AS perf, " +
         tsql::QuoteSqliteString(t.database) + " AS name, " + tsql::QuoteSqliteString(t.data_file) +
         " AS filename UNION ALL SELECT 2, 0, sqlengine_file_pages(" +
         tsql::QuoteSqliteString(log_file) + "), -1, 10, 1048642, 0, " +
         tsql::QuoteSqliteString(t.database + "_log") + ", " + tsql::QuoteSqliteString(log_file) +
         ")";
}

// Every database's two files, from master: the data file as sysdatabases
// names it and its log beside it (catalog::LogFileFor's rule).
std::string SysAltFiles(const CatalogTarget& t) {
  std::string log = DatabaseLogPathSql();
  std::string databases = DatabaseFilesSql(t, "1");
  return "(SELECT 1 AS fileid, 1 AS groupid, sqlengine_file_pages(d.path) AS size, -1 AS maxsize, "
         "10 AS growth, 1048578 AS status, 0 AS perf, d.dbid AS dbid, d.name AS name, "
         "d.path AS filename FROM " +
         databases + " UNION ALL SELECT 2, 0, sqlengine_file_pages(" + log +
         "), -1, 10, 1048642, 0, d.dbid, d.name || '_log', " + log + " FROM " + databases + ")";
}

// master's lookup table of the system procedures. Its type 'P' rows are the
// numbers 0 to 2047 that scripts read as a table of numbers; each names a
// bit of a column bitmap: its byte (low, from 1) and its value there (high).
std::string SptValues(const CatalogTarget&) {
  std::string eight = "(VALUES (0), (1), (2), (3), (4), (5), (6), (7))";
  return "(SELECT NULL AS name, n AS number, 'P' AS type, n / 8 + 1 AS low, 1 << (n % 8) AS "
         "high, 0 AS status FROM (SELECT a.column1 + 8 * b.column1 + 64 * c.column1 + 512 * "
         "d.column1 AS n FROM (VALUES (0), (1), (2), (3)) AS d, " +
         eight + " AS c, " + eight + " AS b, " + eight + " AS a) ORDER BY n)";
}

// ::fn_helpcollations(): SQL Server 2000's collations with its descriptions
// (see collation_names.h).
std::string HelpCollations(const CatalogTarget&) {
  std::string rows;
  for (const tsql::CollationName& c : tsql::KnownCollations()) {
    rows += std::string(rows.empty() ? "VALUES " : ", ") + "(" + tsql::QuoteSqliteString(c.name) +
            ", " + tsql::QuoteSqliteString(c.description) + ")";
  }
  return "(SELECT column1 AS name, column2 AS description FROM (" + rows + "))";
}

// master..sysprocesses: one row per session, as sp_who reports them
// (sqlengine_processes(), see process_procedures.h). The engine keeps no
// per-session CPU, I/O or wait counters: those read 0.
std::string SysProcesses(const CatalogTarget& t) {
  auto item = [](int k) { return "json_extract(p.value, '$[" + std::to_string(k) + "]')"; };
  return "(SELECT " + item(0) + " AS spid, 0 AS kpid, " + item(1) +
         " AS blocked, x'0000' AS waittype, 0 AS waittime, "
         "'MISCELLANEOUS' AS lastwaittype, '' AS waitresource, " +
         item(2) + " AS dbid, 0 AS uid, 0 AS cpu, 0 AS physical_io, 0 AS memusage, " + item(3) +
         " AS login_time, " + item(4) + " AS last_batch, 0 AS ecid, 0 AS open_tran, " + item(5) +
         " AS status, coalesce((SELECT l.sid FROM " + tsql::QuoteSqliteName(t.master_schema) + "." +
         catalog::kLoginsTable + " l WHERE l.name = " + item(9) +
         "), x'') AS sid, " + item(6) + " AS hostname, " + item(7) +
         " AS program_name, '' AS hostprocess, " + item(8) +
         " AS cmd, '' AS nt_domain, '' AS nt_username, '' AS net_address, 'TCP/IP' AS "
         "net_library, " +
         item(9) +
         " AS loginame, x'' AS context_info, zeroblob(20) AS sql_handle, 0 AS stmt_start, "
         "0 AS stmt_end FROM json_each(sqlengine_processes()) p)";
}

struct View {
  std::string_view name;
  std::string (*sql)(const CatalogTarget&);
};

constexpr View kViews[] = {
    {"sysdatabases", SysDatabases},
    {"sysobjects", SysObjects},
    {"syscolumns", SysColumns},
    {"syscomments", SysComments},
    {"systypes", SysTypes},
    {"sysfiles", SysFiles},
    {"sysusers", SysUsers},
    {"sysmembers", SysMembers},
    {"sysprotects", SysProtects},
    {"syspermissions", SysPermissions},
    {"syslogins", SysLogins},
    {"sysindexes", SysIndexes},
    {"sysindexkeys", SysIndexKeys},
    {"information_schema.tables", InformationSchemaTables},
    {"information_schema.columns", InformationSchemaColumns},
    {"information_schema.views", InformationSchemaViews},
    {"information_schema.routines", InformationSchemaRoutines},
    {"information_schema.table_constraints", InformationSchemaTableConstraints},
    {"information_schema.key_column_usage", InformationSchemaKeyColumnUsage},
    {"information_schema.referential_constraints", InformationSchemaReferentialConstraints},
    {"information_schema.parameters", InformationSchemaParameters},
    {"sysdepends", SysDepends},
    {"sysaltfiles", SysAltFiles},
    {"sysprocesses", SysProcesses},
    {"spt_values", SptValues},
    {"sysmessages", SysMessages},
    {"syslanguages", SysLanguages},
    {"sysservers", SysServers},
    {"sysconfigures", SysConfigures},
    {"syscurconfigs", SysCurConfigs},
    {"syscharsets", SysCharSets},
    {"sysdevices", SysDevices},
    {"::fn_helpcollations", HelpCollations},
    {"sysconstraints", SysConstraints},
    {"sysforeignkeys", SysForeignKeys},
    {"sysreferences", SysReferences},
    {"information_schema.check_constraints", InformationSchemaCheckConstraints},
    {"information_schema.constraint_column_usage", InformationSchemaConstraintColumnUsage},
};

}  // namespace

std::string DatabaseFilesSql(const CatalogTarget& t, std::string_view condition) {
  std::string data = "CASE WHEN substr(file_name, 1, 1) = '/' THEN file_name ELSE " +
                     tsql::QuoteSqliteString(t.data_folder) + " || file_name END";
  return "(SELECT dbid, name, " + data + " AS path FROM " +
         tsql::QuoteSqliteName(t.master_schema) + "." + catalog::kDatabasesTable + " WHERE " +
         std::string(condition) + ") d";
}

std::string DatabaseLogPathSql() {
  return "CASE WHEN d.path LIKE '%.mdf' THEN substr(d.path, 1, length(d.path) - 4) "
         "ELSE d.path END || '_log.ldf'";
}

std::string OwnerUidSql(const CatalogTarget& t, std::string_view object) {
  if (!t.has_object_owners) return "1";
  return "coalesce((SELECT w.owner_uid FROM " + tsql::QuoteSqliteName(t.schema) + "." +
         kObjectOwnersTable + " w WHERE w.object = " + std::string(object) + "), 1)";
}

std::string OwnerNameSql(const CatalogTarget& t, std::string_view object) {
  if (!t.has_object_owners) return "'dbo'";
  std::string schema = tsql::QuoteSqliteName(t.schema);
  // Users and roles of the database's own, then the fixed roles.
  std::string names = "SELECT column1 AS uid, column2 AS name FROM (VALUES ";
  bool first = true;
  for (const Principal& role : FixedDatabaseRoles()) {
    names += std::string(first ? "" : ", ") + "(" + std::to_string(role.uid) + ", " +
             tsql::QuoteSqliteString(role.name) + ")";
    first = false;
  }
  names += ")";
  if (t.has_security_tables)
    names += " UNION ALL SELECT uid, name FROM " + schema + "." + kPrincipalsTable;
  return "coalesce((SELECT n.name FROM " + schema + "." + kObjectOwnersTable + " w JOIN (" +
         names + ") n ON n.uid = w.owner_uid WHERE w.object = " + std::string(object) +
         "), 'dbo')";
}

std::string WithTempTables(const CatalogTarget& t, std::string (*view)(const CatalogTarget&)) {
  if (!t.lists_temp_tables) return "";
  return " UNION ALL SELECT * FROM " + view(TempTablesTarget(t));
}

std::string PublishedRowsSql(std::string_view view, const std::string& view_sql) {
  std::string items;
  for (const CatalogViewColumn& column : CatalogViewColumns(view))
    items += std::string(items.empty() ? "" : ", ") + "v." + tsql::QuoteSqliteName(std::string(column.name));
  return "SELECT coalesce(json_group_array(json_array(" + items + ")), '[]') FROM " + view_sql +
         " v";
}

std::string RowsElsewhere(const CatalogTarget& t, std::string_view view) {
  if (!t.lists_temp_tables) return "";
  std::string items;
  int k = 0;
  for (const CatalogViewColumn& column : CatalogViewColumns(view)) {
    items += std::string(items.empty() ? "" : ", ") + "json_extract(e.value, '$[" +
             std::to_string(k++) + "]') AS " + tsql::QuoteSqliteName(std::string(column.name));
  }
  return " UNION ALL SELECT " + items +
         " FROM json_each(sqlengine_temp_tables_elsewhere(), " +
         tsql::QuoteSqliteString("$." + std::string(view)) + ") e";
}

std::string TempCatalogRows(sqlite3* db, std::string_view view) {
  CatalogTarget target;
  target.database = "tempdb";
  target.schema = "temp";
  target.has_temp_objects = HasTempObjects(db);
  if (NeedsConstraints(view)) {
    for (TableConstraint& c : ReadTableConstraints(db, "temp")) {
      if (c.table.starts_with("#")) target.constraints.push_back(std::move(c));
    }
  }
  std::optional<std::string> view_sql = CatalogViewSql(view, target);
  if (!view_sql) return "[]";
  catalog::PreparedStatement read = catalog::Prepare(db, PublishedRowsSql(view, *view_sql));
  if (sqlite3_step(read.get()) != SQLITE_ROW) throw std::runtime_error(sqlite3_errmsg(db));
  return catalog::ColumnText(read.get(), 0);
}

CatalogTarget TempTablesTarget(const CatalogTarget& t) {
  CatalogTarget temp;
  temp.database = t.database;
  temp.schema = "temp";
  temp.data_file = t.data_file;
  temp.data_folder = t.data_folder;
  temp.has_temp_objects = t.has_temp_objects;
  temp.constraints = t.temp_constraints;
  return temp;
}

std::vector<SystemTable> SystemTablesOf(std::string_view database) {
  std::vector<SystemTable> tables(std::begin(kSystemTables), std::end(kSystemTables));
  if (tsql::EqualsIgnoreCase(database, "master"))
    tables.insert(tables.end(), std::begin(kMasterSystemTables), std::end(kMasterSystemTables));
  return tables;
}

bool IsCatalogView(std::string_view view) {
  for (const View& v : kViews) {
    if (v.name == view) return true;
  }
  return false;
}

bool NeedsMaster(std::string_view view) {
  return view == "sysdatabases" || view == "syslogins" || view == "sysaltfiles" ||
         view == "sysprocesses" || view == "sysmessages" || view == "sysconfigures" ||
         view == "sysdevices";
}

bool NeedsParameters(std::string_view view) { return view == "information_schema.parameters"; }

bool NeedsConstraints(std::string_view view) {
  return view == "sysobjects" || view == "sysconstraints" || view == "sysforeignkeys" ||
         view == "information_schema.table_constraints" ||
         view == "information_schema.key_column_usage" ||
         view == "information_schema.referential_constraints" || view == "sysreferences" ||
         view == "information_schema.check_constraints" ||
         view == "information_schema.constraint_column_usage" ||
         view == "information_schema.columns" || view == "syscomments" ||
         view == "sysindexes" || view == "sysindexkeys";
}

bool IsCatalogViewSource(std::string_view table) {
  for (std::string_view source :
       {std::string_view("sqlite_master"), std::string_view(catalog::kObjectsTable),
        std::string_view(catalog::kDatabasesTable), std::string_view(kPrincipalsTable),
        std::string_view(kRoleMembersTable), std::string_view(kPermissionsTable),
        std::string_view(kColumnPermissionsTable), std::string_view(catalog::kProceduresTable),
        std::string_view(kTriggersTable), std::string_view(kUserTypesTable),
        std::string_view(kRulesTable), std::string_view(catalog::kLoginsTable),
        std::string_view(kObjectOwnersTable), std::string_view(catalog::kConfigurationsTable),
        std::string_view(catalog::kRoleMembersTable), std::string_view(kTempObjectsTable)}) {
    if (tsql::EqualsIgnoreCase(table, source)) return true;
  }
  return false;
}

std::optional<std::string> CatalogViewSql(std::string_view view, const CatalogTarget& target) {
  for (const View& v : kViews) {
    if (v.name == view) return v.sql(target);
  }
  return std::nullopt;
}

}  // namespace sqlengine::exec
