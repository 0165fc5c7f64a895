#pragma once
// INSERT, UPDATE and DELETE through the front end: parsed, bound against the
// session's catalog (every written value converted to its column's type),
// generated as SQLite SQL. The executor runs that text where it would run
// the rewriter's, with the same identity rules, SET ROWCOUNT, write lock and
// authorizer; a statement the front end does not cover yet is left to the
// token rewriter.

#include <optional>

#include "engine/common/error.h"
#include "engine/tsql/rewriter.h"
#include "engine/tsql/statement.h"

namespace sqlengine::exec {

class Session;

// Whether the front end's parser accepts the data change's syntax: a batch
// checks no further syntax of such a statement before it runs.
// A syntax error the parser found (156, 170 ...) goes to `syntax_error`
// when given: the error SQL Server reports, once the older path has
// confirmed the statement is no valid T-SQL it runs.
bool FrontEndParsesChange(const tsql::Statement& statement,
                          std::optional<SqlError>* syntax_error = nullptr);

// The SQL for an INSERT ... VALUES / INSERT ... SELECT, UPDATE or DELETE
// (with its WITH list and OPTION clause), or nullopt when the front end leaves it to the
// rewriter. Throws SqlError as the binder does (911 for an unknown database).
std::optional<tsql::SqliteText> FrontEndChange(const tsql::Statement& statement, Session& session);

}  // namespace sqlengine::exec
