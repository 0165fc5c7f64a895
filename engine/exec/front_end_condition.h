#pragma once
// The condition of IF and WHILE through the front end: parsed as a search
// condition, bound against the session's catalog and variables with SQL
// Server's comparison rules, generated as a one-row query that yields 1 when
// it holds. A condition the front end does not cover is refused with SQL
// Server's syntax error or 8180.

#include <optional>

#include "engine/tsql/sqlite_text.h"
#include "engine/tsql/token.h"

namespace sqlengine::exec {

class Session;

// Throws SqlError as the binder does, and the refusals above.
std::optional<tsql::SqliteText> FrontEndCondition(const tsql::Tokens& condition, int line,
                                                  Session& session);

}  // namespace sqlengine::exec
