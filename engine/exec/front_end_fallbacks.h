#pragma once
// A record of the statements and expressions the front end refuses or
// leaves to another path, and why: while the environment variable
// SQLENGINE_FALLBACK_LOG names a file, every such case appends one line to
// it ("stage<TAB>reason<TAB>statement").
// Meant for measuring what the front end still lacks over a test run; off
// (and free) otherwise. Thread-safe.

#include <string_view>

#include "engine/common/error.h"
#include "engine/tsql/token.h"

namespace sqlengine::exec {

// `stage`: "refused parse", "refused bind", "refused view parse" ... for a
// statement refused with SQL Server's error, "definition parse" / "definition
// bind" for a stored expression; `reason`: the NotParsed / NotBound text.
void NoteFallback(std::string_view stage, std::string_view reason, const tsql::Tokens& tokens);

}  // namespace sqlengine::exec

namespace sqlengine::exec {

// Whether an error the query parser threw is the statement's answer (a
// table hint SQL Server refuses, 321 / 1065) rather than a syntax error,
// which the caller words itself.
bool ParserErrorStands(const SqlError& error);

}  // namespace sqlengine::exec
