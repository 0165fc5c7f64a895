#pragma once
// DROP TABLE / VIEW / INDEX / PROCEDURE / FUNCTION / TRIGGER naming several
// objects. SQL Server drops them one after another, each as if it had a DROP
// of its own: a missing or refused object raises its error and the others
// are still dropped.

#include <vector>

#include "engine/tsql/statement.h"

namespace sqlengine::tsql {

// One statement per object of `statement`'s list, each of the same kind and
// line with the list's first two words and that object's name. Empty when
// `statement` is no such DROP or names a single object. Throws SyntaxError
// for an empty place in the list (`DROP TABLE a,`, `DROP TABLE a,,b`).
std::vector<Statement> SplitDropList(const Statement& statement);

}  // namespace sqlengine::tsql
