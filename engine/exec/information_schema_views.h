#pragma once
// INFORMATION_SCHEMA's views of views, routines and constraints, and the
// dependency table sysdepends, over a database's SQLite schema and the
// engine's bookkeeping tables. Each is a parenthesised SELECT for
// CatalogViewSql. Constraint names are those the engine reports in its
// errors: PK_table, UQ_table_column, FK_table_referenced.

#include <sqlite3.h>

#include <string>
#include <vector>

#include "engine/exec/catalog_views.h"

namespace sqlengine::exec {

std::string InformationSchemaViews(const CatalogTarget& target);
std::string InformationSchemaRoutines(const CatalogTarget& target);
std::string InformationSchemaTableConstraints(const CatalogTarget& target);
std::string InformationSchemaKeyColumnUsage(const CatalogTarget& target);
std::string InformationSchemaReferentialConstraints(const CatalogTarget& target);
// Lists target.parameters.
std::string InformationSchemaParameters(const CatalogTarget& target);
// No dependencies are recorded: the table exists, with its columns, empty.
std::string SysDepends(const CatalogTarget& target);

// The parameters of the procedures stored in SQLite schema `schema`, read
// from their definitions; a definition that no longer parses lists none.
// Runs SQL: call it outside the user's rules.
std::vector<ProcedureParameter> ProcedureParameters(sqlite3* db, const std::string& schema);

}  // namespace sqlengine::exec
