#pragma once
// SELECT statements through the front end: parsed to a syntax tree, bound
// against the session's catalog, generated as SQLite SQL whose result
// columns carry the binder's SQL Server types. A statement the front end
// cannot take is refused with SQL Server's error; nothing else runs it.

#include <optional>
#include <string>
#include <vector>

#include "engine/common/error.h"
#include "engine/tsql/generate/sqlite_generator.h"
#include "engine/tsql/sqlite_text.h"
#include "engine/tsql/statement.h"

namespace sqlengine::exec {

class Session;

// Parses a SELECT as its run will, before the batch runs: throws the
// parser's syntax errors, and the refusal of a form the front end does not
// take (front_end_refusals.h).
void CheckSelectSyntax(const tsql::Statement& statement);

// The SQL for a SELECT (not SELECT INTO, not assigning variables; with its
// WITH list and OPTION clause); nullopt for a statement of another kind.
// Throws SqlError: the binder's errors, and the refusal of a statement the
// front end cannot take (front_end_refusals.h).
// `assigned`: the variables a SELECT @v = ... assigns row by row (lower
// case), which its expressions read as the previous row left them.
// `literals`: whether its WHERE clauses' literals may be parameters of the
// text (only for a text SqliteStatement runs, which binds them).
std::optional<tsql::SqliteText> FrontEndSelect(
    const tsql::Statement& statement, Session& session,
    const std::vector<std::string>& assigned = {},
    tsql::generate::Literals literals = tsql::generate::Literals::kWritten);

}  // namespace sqlengine::exec
