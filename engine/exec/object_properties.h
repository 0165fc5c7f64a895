#pragma once
// sqlengine_object_property(xtype, property): OBJECTPROPERTY's answer for an
// object of sysobjects type `xtype`, 1 or 0; NULL for a property it does not
// know, as SQL Server answers an invalid property name; and
// sqlengine_column_property(property, isnullable, prec, scale, colid, colstat)
// for COLUMNPROPERTY and sqlengine_index_property(property, status, indid)
// for INDEXPROPERTY the same way.

#include <sqlite3.h>

namespace sqlengine::exec {

class FunctionHost;

// Also sqlengine_temp_object_id(written name) for OBJECT_ID of a #table and
// sqlengine_table_rows(schema, table) for sysindexes.
// `host` must outlive the connection. Throws std::runtime_error when SQLite
// refuses the registration.
void RegisterObjectProperties(sqlite3* db, FunctionHost& host);

}  // namespace sqlengine::exec
