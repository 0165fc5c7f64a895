#pragma once
// A record of the statements the front end leaves to the token rewriter, and
// why: while the environment variable SQLENGINE_FALLBACK_LOG names a file,
// every fallback appends one line to it ("stage<TAB>reason<TAB>statement").
// Meant for measuring what the front end still lacks over a test run; off
// (and free) otherwise. Thread-safe.

#include <string_view>

#include "engine/common/error.h"
#include "engine/tsql/token.h"

namespace sqlengine::exec {

// `stage`: "parse", "bind", "shape" (a statement form the front end does not
// take at all) or "condition"; `reason`: the NotParsed / NotBound text.
void NoteFallback(std::string_view stage, std::string_view reason, const tsql::Tokens& tokens);

}  // namespace sqlengine::exec

namespace sqlengine::exec {

// Whether an error the query parser threw is the statement's answer (a
// table hint SQL Server refuses, 321 / 1065) rather than a syntax error the
// token rewriter reports as it always has.
bool ParserErrorStands(const SqlError& error);

}  // namespace sqlengine::exec
