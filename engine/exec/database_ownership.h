#pragma once
// sp_changedbowner and sp_defaultdb: who owns a database, and where a login
// starts. Each throws SqlError; the caller sends the return status.

#include <string>
#include <vector>

#include "engine/common/sink.h"
#include "engine/exec/procedures.h"

namespace sqlengine::exec {

class Session;

// sp_changedbowner @loginame [, @map]: the current database's owner becomes
// the login (its dbo). sysadmin only (15247); 15007 for an unknown login,
// 15109 for master, model and tempdb, 15110 when the login is already a
// user of the database.
void ChangeDbOwner(Session& session, const std::vector<CallArgument>& arguments);

// sp_defaultdb @loginame, @defdb: the database the login starts in. A login
// may change its own; another's needs sysadmin or securityadmin (15247).
// 15007 for an unknown login, 15010 for an unknown database.
void DefaultDb(Session& session, const std::vector<CallArgument>& arguments);

// sp_droplogin and DROP LOGIN, once the caller's right was checked: 15405 for
// sa, 15007 for an unknown login, 15174 while it owns a database and 15175
// while it is a user of one (its users would be left to whichever login later
// got its sid), 15434 while a session of it is logged in (one whose client
// has disconnected is waited for). A database whose file cannot be read is
// passed over.
void DropLoginWithoutDatabases(Session& session, const std::string& login);

}  // namespace sqlengine::exec
