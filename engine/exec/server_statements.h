#pragma once
// Statements about the server rather than one database's data: USE,
// CREATE / DROP DATABASE, CREATE / DROP LOGIN. Each sends its own messages
// and DONE; failures throw SqlError for the caller to report.

#include "engine/common/sink.h"
#include "engine/tsql/statement.h"

namespace sqlengine::exec {

class Session;

void ExecuteUse(Session& session, const tsql::Statement& statement, ResultSink& sink);
void ExecuteCreateDatabase(Session& session, const tsql::Statement& statement, ResultSink& sink);
void ExecuteDropDatabase(Session& session, const tsql::Statement& statement, ResultSink& sink);
void ExecuteCreateLogin(Session& session, const tsql::Statement& statement, ResultSink& sink);
void ExecuteDropLogin(Session& session, const tsql::Statement& statement, ResultSink& sink);

// Error 262 unless the login is a sysadmin or dbcreator, or its user in
// master holds CREATE DATABASE.
void RequireCreateDatabaseRight(Session& session);

// Error 15006 unless `name` can name a database and its files.
void RequireValidDatabaseName(std::string_view name);

}  // namespace sqlengine::exec
