#pragma once
// T-SQL's binary '+' adds numbers and concatenates character or binary data,
// decided by the operands' types. SQLite's '+' only adds, so each binary '+'
// becomes a call of the engine's SQLite function kAdditionFunction, which
// decides per value (the stored values follow their columns' declared types,
// variables are bound with theirs). Division and modulo keep SQLite's
// operators, with the divisor checked.

#include <string_view>

#include "engine/tsql/token.h"

namespace sqlengine::tsql {

inline constexpr std::string_view kAdditionFunction = "sqlengine_add";
// kDivisorFunction(x) is x, or error 8134 when x is zero.
inline constexpr std::string_view kDivisorFunction = "sqlengine_divisor";

// `a + b * c - d + e` becomes `sqlengine_add(sqlengine_add(a, b * c) - d, e)`,
// keeping T-SQL's precedence and left associativity. A '+' that is a sign
// stays as it is. Never throws for malformed input: what it cannot group is
// left to the rewriter and SQLite to reject.
Tokens AdditionsAsCalls(const Tokens& tokens);

// `a / b % -c` becomes `a / sqlengine_divisor(b) % sqlengine_divisor(-c)`:
// SQLite gives NULL for a division by zero where T-SQL gives error 8134.
Tokens DivisorsChecked(const Tokens& tokens);

}  // namespace sqlengine::tsql
