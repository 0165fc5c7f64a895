#pragma once
// The syntax errors of SQL Server 2000: 156 when the offending token is a
// reserved keyword, else 170 with the line in its text.

#include "engine/common/error.h"
#include "engine/tsql/token.h"

namespace sqlengine::tsql {

// `at` is the first token that does not fit; at the end of the batch the
// previous token is named instead, as SQL Server does.
SqlError SyntaxError(const Token& at, const Token* previous = nullptr);

bool IsReservedKeyword(std::string_view word);

// tokens[at], or an end token past the last.
const Token& TokenAt(const Tokens& tokens, size_t at);
// Throws SyntaxError at tokens[at] (the end, past the last).
[[noreturn]] void SyntaxErrorAt(const Tokens& tokens, size_t at);

}  // namespace sqlengine::tsql
