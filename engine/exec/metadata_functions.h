#pragma once
// The metadata functions whose answers need no catalog view of their own:
// GETANSINULL, FILEGROUP_ID, FILEGROUP_NAME, FILEGROUPPROPERTY, STATS_DATE,
// FULLTEXTCATALOGPROPERTY and FULLTEXTSERVICEPROPERTY, and the pieces the
// binder builds FILEPROPERTY, TYPEPROPERTY and INDEXKEY_PROPERTY from
// (catalog_functions.h): sqlengine_file_property(property, fileid, size),
// sqlengine_typeproperty(property, xtype, prec, scale, allownulls),
// sqlengine_indexkey_property(property, colid, descending) and
// sqlengine_key_descending(table, index, keyno). NULL for a property,
// file, filegroup or type SQL Server does not know.

#include <sqlite3.h>

#include "engine/exec/sql_functions.h"

namespace sqlengine::exec {

// `host` must outlive the connection. Throws std::runtime_error.
void RegisterMetadataFunctions(sqlite3* db, FunctionHost& host);

}  // namespace sqlengine::exec
