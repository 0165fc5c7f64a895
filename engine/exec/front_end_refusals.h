#pragma once
// What a SELECT, INSERT, UPDATE, DELETE or IF / WHILE condition the front
// end does not take reports instead of running: SQL Server's syntax error at
// the token the parser stopped at, or 8180 naming what this engine cannot
// prepare. Each refusal is also noted in the fallback log (see
// front_end_fallbacks.h) so a test run shows what users would meet.

#include <string_view>

#include "engine/tsql/bind/binder.h"
#include "engine/tsql/parse/query_parser.h"
#include "engine/tsql/token.h"

namespace sqlengine::exec {

// Throws SqlError 102 / 156 / 170 at `why.at()`, else at the statement's
// first token; the line is the statement's.
[[noreturn]] void RefuseUnparsed(std::string_view stage, const tsql::parse::NotParsed& why,
                                 const tsql::Tokens& tokens);

// Throws SqlError 8180 for a statement run where names reach another
// database than the session's (a trigger of a table there, a procedure there
// called inside a transaction) that would not reach that database's objects
// (names the front end does not resolve), at the statement's line.
[[noreturn]] void RefuseInOtherDatabase(const tsql::Tokens& tokens, int line);

// Throws SqlError 8180 with `why` in its text, at `line`.
[[noreturn]] void RefuseUnbound(std::string_view stage, const tsql::bind::NotBound& why,
                                const tsql::Tokens& tokens, int line);

// Throws SqlError 6819: a FOR XML clause where SQL Server 2000 sends no XML
// to the client (`statement`: a CURSOR, an ASSIGNMENT, ...), at `line`.
[[noreturn]] void RefuseForXml(std::string_view statement, int line);

}  // namespace sqlengine::exec
