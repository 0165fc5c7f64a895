#pragma once
// master's catalog of the server: sysmessages (the message table's messages
// and those sp_addmessage added), syslanguages, sysservers, sysconfigures
// syscurconfigs, syscharsets and sysdevices. Each a parenthesised SELECT for CatalogViewSql.

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
// The character set and sort order of the server collation
// (SQL_Latin1_General_CP1_CI_AS): iso_1 and nocase_iso.
std::string SysCharSets(const CatalogTarget& target);
// The files of master, tempdb and model, as the devices made at setup; the
// engine makes no backup devices.
std::string SysDevices(const CatalogTarget& target);

}  // namespace sqlengine::exec
