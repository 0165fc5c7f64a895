#pragma once
// The catalog views over the tables' constraints (table_constraints.h):
// their sysobjects rows, sysconstraints, sysforeignkeys, sysreferences,
// INFORMATION_SCHEMA.CHECK_CONSTRAINTS and .CONSTRAINT_COLUMN_USAGE. Each is
// a parenthesised SELECT over the constraints the target carries, read when
// the view is named.

#include <string>

#include "engine/exec/catalog_views.h"

namespace sqlengine::exec {

// One row per constraint: name, id, xtype, parent_obj, crdate (the table's),
// status (2048 when disabled), colid (0 at table level), text.
std::string ConstraintObjects(const CatalogTarget& t);

std::string SysConstraints(const CatalogTarget& t);
std::string SysForeignKeys(const CatalogTarget& t);
std::string SysReferences(const CatalogTarget& t);
std::string InformationSchemaTableConstraints(const CatalogTarget& t);
std::string InformationSchemaKeyColumnUsage(const CatalogTarget& t);
std::string InformationSchemaReferentialConstraints(const CatalogTarget& t);
std::string InformationSchemaCheckConstraints(const CatalogTarget& t);
std::string InformationSchemaConstraintColumnUsage(const CatalogTarget& t);

}  // namespace sqlengine::exec
