#pragma once
// SQL Server 2000's security catalog views over a database's users, roles,
// memberships and permissions: sysusers, sysmembers, sysprotects and
// syspermissions, and master's syslogins. Each is a parenthesised SELECT for CatalogViewSql.

#include <string>

#include "engine/exec/catalog_views.h"

namespace sqlengine::exec {

std::string SysUsers(const CatalogTarget& target);
std::string SysMembers(const CatalogTarget& target);
std::string SysProtects(const CatalogTarget& target);
std::string SysPermissions(const CatalogTarget& target);
// master's logins: every login sees every row, and no password.
std::string SysLogins(const CatalogTarget& target);

}  // namespace sqlengine::exec
