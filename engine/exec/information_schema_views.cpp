#include "engine/exec/information_schema_views.h"

#include <exception>

#include "engine/catalog/data_file.h"
#include "engine/catalog/sqlite_handle.h"
#include "engine/exec/procedures.h"
#include "engine/tsql/lexer.h"
#include "engine/tsql/procedure_definition.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/type_name.h"

namespace sqlengine::exec {

std::string InformationSchemaOwner(const CatalogTarget& t, std::string_view prefix,
                                   std::string_view object) {
  std::string p(prefix);
  return tsql::QuoteSqliteString(t.database) + " AS " + p + "_CATALOG, " +
         OwnerNameSql(t, object) + " AS " + p + "_SCHEMA, ";
}

std::string InformationSchemaVisible(const CatalogTarget& t, std::string_view object,
                                     std::string_view xtype, std::string_view column) {
  std::string o(object);
  std::string schema = tsql::QuoteSqliteString(t.schema);
  return "coalesce(sqlengine_permissions_in(" + schema + ", " + o + ", " + std::string(xtype) +
         ", (SELECT group_concat(x.name, char(1)) FROM pragma_table_xinfo(" + o + ", " + schema +
         ") x)" + (column.empty() ? std::string() : ", " + std::string(column)) + "), 0) <> 0";
}

std::string InformationSchemaViews(const CatalogTarget& t) {
  return "(SELECT " + InformationSchemaOwner(t, "TABLE", "v.name") +
         "v.name AS TABLE_NAME, CASE WHEN sqlengine_encrypted(sqlengine_view_text(v.sql)) "
         "THEN NULL ELSE substr(sqlengine_view_text(v.sql), 1, 4000) END AS VIEW_DEFINITION, "
         "CASE WHEN instr(v.sql, '/*sqlengine-tsql check-option ') > 0 THEN 'CASCADE' ELSE "
         "'NONE' END AS CHECK_OPTION, 'NO' AS IS_UPDATABLE FROM " +
         tsql::QuoteSqliteName(t.schema) +
         ".sqlite_master v WHERE v.type = 'view' AND v.name NOT LIKE 'sqlengine\\_%' ESCAPE '\\' "
         "AND " + InformationSchemaVisible(t, "v.name", "'V'") + ")";
}

std::string InformationSchemaRoutines(const CatalogTarget& t) {
  std::string schema = tsql::QuoteSqliteName(t.schema);
  std::string columns = "SELECT " + InformationSchemaOwner(t, "SPECIFIC", "o.name") +
                        "o.name AS SPECIFIC_NAME, " +
                        InformationSchemaOwner(t, "ROUTINE", "o.name") +
                        "o.name AS ROUTINE_NAME, 'PROCEDURE' AS ROUTINE_TYPE, "
                        "NULL AS DATA_TYPE, 'SQL' AS ROUTINE_BODY, ";
  std::string rest =
      " AS ROUTINE_DEFINITION, 'NO' AS IS_DETERMINISTIC, 'MODIFIES' AS SQL_DATA_ACCESS, "
      "o.crdate AS CREATED, o.crdate AS LAST_ALTERED";
  if (!t.has_procedures)
    return "(" + columns + "NULL" + rest + " FROM " + schema + "." + catalog::kObjectsTable +
           " o WHERE 0)";
  return "(" + columns +
         "CASE WHEN sqlengine_encrypted(p.definition) THEN NULL ELSE "
         "substr(p.definition, 1, 4000) END" +
         rest + " FROM " + schema + "." +
         catalog::kProceduresTable + " p JOIN " + schema + "." + catalog::kObjectsTable +
         " o ON o.name = p.name AND o.xtype = 'P' WHERE " +
         InformationSchemaVisible(t, "o.name", "'P'") + ")";
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
  return "(SELECT " + InformationSchemaOwner(t, "SPECIFIC", "p.procedure") +
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
    if (GroupMemberOf(name).second != 1) continue;  // a group lists its first's
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
