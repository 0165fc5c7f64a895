#pragma once
// master's catalog of the server: sysmessages (the message table's messages
// and those sp_addmessage added), syslanguages, sysservers, sysconfigures
// and syscurconfigs. Each a parenthesised SELECT for CatalogViewSql.

#include <string>

#include "engine/exec/catalog_views.h"

namespace sqlengine::exec {

std::string SysMessages(const CatalogTarget& target);
// us_english, the one language the engine speaks.
std::string SysLanguages(const CatalogTarget& target);
// The local server, srvid 0 under @@SERVERNAME; no linked or remote ones.
std::string SysServers(const CatalogTarget& target);
// sp_configure's options with their configured values, and in use.
std::string SysConfigures(const CatalogTarget& target);
std::string SysCurConfigs(const CatalogTarget& target);

}  // namespace sqlengine::exec
