#pragma once
// SQLite takes `a JOIN b` without ON as a cross join; T-SQL refuses it. Every
// JOIN other than CROSS JOIN needs an ON among the tokens of its own
// parenthesis level (nested joins put their ONs after the inner join).

#include "engine/tsql/token.h"

namespace sqlengine::tsql {

// Throws the syntax error (156 or 170) SQL Server gives, near the token where
// a missing ON was due, when a query of `tokens` has more such JOINs than ONs.
void CheckJoinConditions(const Tokens& tokens);

}  // namespace sqlengine::tsql
