#pragma once
// Functions about the client, the server and its databases: APP_NAME,
// HOST_NAME, HOST_ID, SERVERPROPERTY, DATABASEPROPERTY, DATABASEPROPERTYEX,
// TYPE_ID and TYPE_NAME. SQL Server 2000's answers; NULL for a property
// it does not know.

#include <sqlite3.h>

#include <string>

#include "engine/exec/sql_functions.h"

namespace sqlengine::exec {

// The server's name as @@SERVERNAME and SERVERPROPERTY('ServerName') give it.
inline constexpr const char* kServerName = "SQLENGINE";
// The build @@VERSION and SERVERPROPERTY('ProductVersion') report.
inline constexpr const char* kProductVersion = "8.00.2039";

// `host` must outlive the connection. Throws std::runtime_error.
void RegisterServerFunctions(sqlite3* db, FunctionHost& host);

}  // namespace sqlengine::exec
