#include "engine/exec/information_schema_views.h"

#include <exception>

#include "engine/catalog/data_file.h"
#include "engine/catalog/sqlite_handle.h"
#include "engine/exec/index_catalog_views.h"
#include "engine/exec/procedures.h"
#include "engine/tsql/lexer.h"
#include "engine/tsql/procedure_definition.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/type_name.h"

namespace sqlengine::exec {
namespace {

// "'db' AS <prefix>_CATALOG, 'dbo' AS <prefix>_SCHEMA, "
std::string Owner(const CatalogTarget& t, std::string_view prefix) {
  std::string p(prefix);
  return tsql::QuoteSqliteString(t.database) + " AS " + p + "_CATALOG, 'dbo' AS " + p + "_SCHEMA, ";
}

// After IndexCommonTables: the foreign keys, one row per column:
// (tbl, name, referenced, position, column, referenced_column, on_update,
// on_delete).
std::string ForeignKeys(const CatalogTarget& t) {
  return ", foreign_keys AS (SELECT t.tbl AS tbl, 'FK_' || t.tbl || '_' || f.\"table\" AS name, "
         "f.\"table\" AS referenced, f.seq + 1 AS position, f.\"from\" AS col, "
         "f.\"to\" AS referenced_col, f.on_update AS on_update, f.on_delete AS on_delete "
         "FROM tables t JOIN pragma_foreign_key_list(t.tbl, " +
         tsql::QuoteSqliteString(t.schema) + ") f) ";
}

// After IndexCommonTables: the keys that are constraints (tbl, name, type, indid).
constexpr const char* kKeyConstraints =
    ", key_constraints AS (SELECT tbl, name, CASE WHEN indid = 1 THEN 'PRIMARY KEY' "
    "ELSE 'UNIQUE' END AS type, id, indid FROM keyed WHERE indid = 1 OR (status & 4096) <> 0) ";

// SQL Server's name of a referential action.
constexpr const char* kRule = "CASE {} WHEN 'CASCADE' THEN 'CASCADE' ELSE 'NO ACTION' END";

std::string Rule(std::string_view action) {
  std::string rule = kRule;
  rule.replace(rule.find("{}"), 2, action);
  return rule;
}

}  // namespace

std::string InformationSchemaViews(const CatalogTarget& t) {
  return "(SELECT " + Owner(t, "TABLE") +
         "name AS TABLE_NAME, substr(sql, 1, 4000) AS VIEW_DEFINITION, 'NONE' AS CHECK_OPTION, "
         "'NO' AS IS_UPDATABLE FROM " +
         tsql::QuoteSqliteName(t.schema) +
         ".sqlite_master WHERE type = 'view' AND name NOT LIKE 'sqlengine\\_%' ESCAPE '\\')";
}

std::string InformationSchemaRoutines(const CatalogTarget& t) {
  std::string schema = tsql::QuoteSqliteName(t.schema);
  std::string columns = "SELECT " + Owner(t, "SPECIFIC") + "o.name AS SPECIFIC_NAME, " +
                        Owner(t, "ROUTINE") +
                        "o.name AS ROUTINE_NAME, 'PROCEDURE' AS ROUTINE_TYPE, "
                        "NULL AS DATA_TYPE, 'SQL' AS ROUTINE_BODY, ";
  std::string rest =
      " AS ROUTINE_DEFINITION, 'NO' AS IS_DETERMINISTIC, 'MODIFIES' AS SQL_DATA_ACCESS, "
      "o.crdate AS CREATED, o.crdate AS LAST_ALTERED";
  if (!t.has_procedures)
    return "(" + columns + "NULL" + rest + " FROM " + schema + "." + catalog::kObjectsTable +
           " o WHERE 0)";
  return "(" + columns + "substr(p.definition, 1, 4000)" + rest + " FROM " + schema + "." +
         catalog::kProceduresTable + " p JOIN " + schema + "." + catalog::kObjectsTable +
         " o ON o.name = p.name AND o.xtype = 'P')";
}

std::string InformationSchemaTableConstraints(const CatalogTarget& t) {
  return "(" + IndexCommonTables(t) + ForeignKeys(t) + kKeyConstraints + "SELECT " +
         Owner(t, "CONSTRAINT") + "name AS CONSTRAINT_NAME, " + Owner(t, "TABLE") +
         "tbl AS TABLE_NAME, type AS CONSTRAINT_TYPE, 'NO' AS IS_DEFERRABLE, "
         "'NO' AS INITIALLY_DEFERRED FROM (SELECT tbl, name, type FROM key_constraints "
         "UNION SELECT tbl, name, 'FOREIGN KEY' FROM foreign_keys))";
}

std::string InformationSchemaKeyColumnUsage(const CatalogTarget& t) {
  std::string on = tsql::QuoteSqliteString(t.schema);
  return "(" + IndexCommonTables(t) + ForeignKeys(t) + kKeyConstraints + ", key_columns AS (" +
         IndexKeys(t) + ") SELECT " + Owner(t, "CONSTRAINT") + "name AS CONSTRAINT_NAME, " +
         Owner(t, "TABLE") +
         "tbl AS TABLE_NAME, col AS COLUMN_NAME, position AS ORDINAL_POSITION FROM "
         "(SELECT c.tbl AS tbl, c.name AS name, i.name AS col, k.keyno AS position "
         "FROM key_constraints c JOIN key_columns k ON k.id = c.id AND k.indid = c.indid "
         "JOIN pragma_table_info(c.tbl, " +
         on +
         ") i ON i.cid + 1 = k.colid UNION ALL SELECT tbl, name, col, position FROM "
         "foreign_keys))";
}

std::string InformationSchemaReferentialConstraints(const CatalogTarget& t) {
  return "(" + IndexCommonTables(t) + ForeignKeys(t) + "SELECT DISTINCT " + Owner(t, "CONSTRAINT") +
         "name AS CONSTRAINT_NAME, " + Owner(t, "UNIQUE_CONSTRAINT") +
         "'PK_' || referenced AS UNIQUE_CONSTRAINT_NAME, 'SIMPLE' AS MATCH_OPTION, " +
         Rule("on_update") + " AS UPDATE_RULE, " + Rule("on_delete") +
         " AS DELETE_RULE FROM foreign_keys)";
}

std::string InformationSchemaParameters(const CatalogTarget& t) {
  std::string rows;
  for (const ProcedureParameter& p : t.parameters) {
    rows += std::string(rows.empty() ? "" : " UNION ALL ") + "SELECT " +
            tsql::QuoteSqliteString(p.procedure) + " AS procedure, " + std::to_string(p.position) +
            " AS position, " + tsql::QuoteSqliteString(p.name) + " AS name, " +
            tsql::QuoteSqliteString(p.declaration) + " AS declaration, " + (p.output ? "1" : "0") +
            " AS output";
  }
  if (rows.empty()) {
    rows =
        "SELECT '' AS procedure, 0 AS position, '' AS name, 'int' AS declaration, "
        "0 AS output WHERE 0";
  }
  auto type = [](std::string_view property) {
    return "sqlengine_type_property(p.declaration, '" + std::string(property) + "')";
  };
  return "(SELECT " + Owner(t, "SPECIFIC") +
         "p.procedure AS SPECIFIC_NAME, p.position AS ORDINAL_POSITION, "
         "CASE WHEN p.output THEN 'INOUT' ELSE 'IN' END AS PARAMETER_MODE, 'NO' AS IS_RESULT, "
         "'NO' AS AS_LOCATOR, p.name AS PARAMETER_NAME, " +
         type("name") + " AS DATA_TYPE, " + type("chars") + " AS CHARACTER_MAXIMUM_LENGTH, " +
         type("length") + " AS CHARACTER_OCTET_LENGTH, " + type("precision") +
         " AS NUMERIC_PRECISION, CASE WHEN " + type("precision") +
         " IS NULL THEN NULL ELSE 10 END AS NUMERIC_PRECISION_RADIX, CASE WHEN " +
         type("precision") + " IS NULL THEN NULL ELSE " + type("scale") +
         " END AS NUMERIC_SCALE FROM (" + rows + ") p)";
}

std::vector<ProcedureParameter> ProcedureParameters(sqlite3* db, const std::string& schema) {
  std::vector<ProcedureParameter> parameters;
  if (!HasStoredProcedures(db, schema)) return parameters;
  auto procedures =
      catalog::Prepare(db, "SELECT name, definition FROM " + tsql::QuoteSqliteName(schema) + "." +
                               catalog::kProceduresTable + " ORDER BY name");
  while (sqlite3_step(procedures.get()) == SQLITE_ROW) {
    std::string name = catalog::ColumnText(procedures.get(), 0);
    std::string text = catalog::ColumnText(procedures.get(), 1);
    tsql::ProcedureDefinition definition;
    try {
      definition = tsql::ParseProcedureDefinition(tsql::LexClientText(text));
    } catch (const std::exception&) {
      continue;
    }
    int position = 0;
    for (const tsql::ParameterDeclaration& declared : definition.parameters) {
      parameters.push_back(ProcedureParameter{
          name, ++position, declared.name, tsql::TypeDeclaration(declared.type), declared.output});
    }
  }
  return parameters;
}

std::string SysDepends(const CatalogTarget&) {
  return "(SELECT 0 AS id, 0 AS depid, 0 AS number, 0 AS depnumber, 0 AS status, 0 AS deptype, "
         "0 AS depdbid, 0 AS depsiteid, 0 AS selall, 0 AS resultobj, 0 AS readobj WHERE 0)";
}

}  // namespace sqlengine::exec
