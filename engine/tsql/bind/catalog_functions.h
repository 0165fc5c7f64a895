#pragma once
// The catalog functions (OBJECT_ID, OBJECT_NAME, OBJECTPROPERTY,
// COLUMNPROPERTY, INDEXPROPERTY, COL_NAME, COL_LENGTH, DB_ID, DB_NAME,
// DATABASEPROPERTY[EX], SERVERPROPERTY, COLLATIONPROPERTY, TYPE_ID, TYPE_NAME, SUSER_SNAME(sid),
// SUSER_SID, SUSER_ID, SUSER_NAME, PERMISSIONS(objectid [, column]),
// FORMATMESSAGE, USER_ID, FILE_ID, FILE_NAME, FILEPROPERTY, TYPEPROPERTY,
// INDEXKEY_PROPERTY, GETANSINULL, FILEGROUP_ID, FILEGROUP_NAME,
// FILEGROUPPROPERTY, STATS_DATE, FULLTEXTCATALOGPROPERTY,
// FULLTEXTSERVICEPROPERTY) typed as SQL
// Server 2000 gives them. The ones that look an object up read the catalog
// views the binder's Catalog describes, as scalar subqueries; the others call
// the engine's SQLite function of their name.

#include <memory>
#include <string_view>
#include <vector>

#include "engine/tsql/bind/bound_tree.h"
#include "engine/tsql/bind/catalog.h"

namespace sqlengine::tsql::bind {

// Whether `name` (lower case) with `count` arguments is one of them.
bool IsCatalogFunction(std::string_view name, size_t count);

// The call of `name` on its bound arguments. Throws NotBound for arguments
// of a type it does not take (the older path reports them) and what
// Catalog::FindTable throws.
std::unique_ptr<BoundExpr> BindCatalogFunction(std::string_view name,
                                               std::vector<std::unique_ptr<BoundExpr>> args,
                                               Catalog& catalog);

}  // namespace sqlengine::tsql::bind
