#pragma once
// INFORMATION_SCHEMA's views of views, routines and parameters, and the
// dependency table sysdepends, over a database's SQLite schema and the
// engine's bookkeeping tables. Each is a parenthesised SELECT for
// CatalogViewSql. The constraint views are in constraint_catalog_views.h.

#include <sqlite3.h>

#include <string>
#include <string_view>
#include <vector>

#include "engine/exec/catalog_views.h"

namespace sqlengine::exec {

// "'db' AS <prefix>_CATALOG, <owner> AS <prefix>_SCHEMA, ": the owner
// columns of an INFORMATION_SCHEMA view, for the object (a child object: its
// table) the SQL expression `object` names.
std::string InformationSchemaOwner(const CatalogTarget& target, std::string_view prefix,
                                   std::string_view object);

// An SQL condition: whether the current user holds some permission on the
// object the SQL expressions `object` (its name) and `xtype` name, or with
// `column` on that column of it, as SQL Server's INFORMATION_SCHEMA views
// ask (PERMISSIONS(id [, column]) <> 0; dbo and db_owner hold them all).
// The rights are the login's in the database the view describes.
std::string InformationSchemaVisible(const CatalogTarget& target, std::string_view object,
                                     std::string_view xtype, std::string_view column = {});

std::string InformationSchemaViews(const CatalogTarget& target);
std::string InformationSchemaRoutines(const CatalogTarget& target);
// Lists target.parameters.
std::string InformationSchemaParameters(const CatalogTarget& target);
// No dependencies are recorded: the table exists, with its columns, empty.
std::string SysDepends(const CatalogTarget& target);

// The parameters of the procedures stored in SQLite schema `schema`, read
// from their definitions; a definition that no longer parses lists none.
// Runs SQL: call it outside the user's rules.
std::vector<ProcedureParameter> ProcedureParameters(sqlite3* db, const std::string& schema);

}  // namespace sqlengine::exec
