#pragma once
// master's catalog of the server's messages: sysmessages, the message table's
// messages and those sp_addmessage added. A parenthesised SELECT for
// CatalogViewSql.

#include <string>

#include "engine/exec/catalog_views.h"

namespace sqlengine::exec {

std::string SysMessages(const CatalogTarget& target);

}  // namespace sqlengine::exec
