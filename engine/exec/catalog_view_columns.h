#pragma once
// The result columns of each catalog view as SQL Server 2000 declares them,
// in the order CatalogViewSql selects them: what the front end's binder types
// a read of a catalog view by.

#include <span>
#include <string_view>

namespace sqlengine::exec {

struct CatalogViewColumn {
  std::string_view name;
  std::string_view type;  // a T-SQL declaration: "sysname", "char(2)", "varbinary(85)"
  bool nullable;
};

// view: lower case, as IsCatalogView takes it. Empty for another name.
std::span<const CatalogViewColumn> CatalogViewColumns(std::string_view view);

}  // namespace sqlengine::exec
