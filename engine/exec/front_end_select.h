#pragma once
// SELECT statements through the front end: parsed to a syntax tree, bound
// against the session's catalog, generated as SQLite SQL whose result
// columns carry the binder's SQL Server types. A statement the front end
// does not cover yet is left to the token rewriter.

#include <optional>

#include "engine/common/error.h"
#include "engine/tsql/rewriter.h"
#include "engine/tsql/statement.h"

namespace sqlengine::exec {

class Session;

// Whether the front end's parser accepts the statement's syntax: a batch
// checks no further syntax of such a statement before it runs.
// A syntax error the parser found (156, 170 ...) goes to `syntax_error`
// when given: the error SQL Server reports, once the older path has
// confirmed the statement is no valid T-SQL it runs.
bool FrontEndParses(const tsql::Statement& statement,
                    std::optional<SqlError>* syntax_error = nullptr);

// The SQL for a SELECT (not SELECT INTO, not assigning variables; with its
// WITH list and OPTION clause), or nullopt when the front end leaves it to the rewriter.
// Throws SqlError for a query SQL Server refuses that the rewriter would
// answer wrongly (8118 / 8120).
std::optional<tsql::SqliteText> FrontEndSelect(const tsql::Statement& statement, Session& session);

}  // namespace sqlengine::exec
