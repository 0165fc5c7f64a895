#pragma once
// Splits a T-SQL batch into tokens. Comments (-- to end of line and nested
// /* */) and whitespace are dropped.

#include <string_view>

#include "engine/tsql/token.h"

namespace sqlengine::tsql {

// The returned list always ends with a kEnd token. Throws SqlError 105 for an
// unclosed string or quoted name and 113 for an unclosed comment.
Tokens Lex(std::string_view batch);

}  // namespace sqlengine::tsql
