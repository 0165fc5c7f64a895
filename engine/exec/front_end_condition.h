#pragma once
// The condition of IF and WHILE through the front end: parsed as a search
// condition, bound against the session's catalog and variables with SQL
// Server's comparison rules, generated as a one-row query that yields 1 when
// it holds. A condition the front end does not cover is left to the token
// rewriter.

#include <optional>

#include "engine/tsql/rewriter.h"

namespace sqlengine::exec {

class Session;

// nullopt when the condition takes the rewriter; throws SqlError as the
// binder does.
std::optional<tsql::SqliteText> FrontEndCondition(const tsql::Tokens& condition, int line,
                                                  Session& session);

}  // namespace sqlengine::exec
