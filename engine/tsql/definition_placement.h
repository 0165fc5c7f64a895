#pragma once
// CREATE VIEW, PROCEDURE, FUNCTION, TRIGGER, DEFAULT and RULE (and ALTER of
// the first four) define an object whose text is the rest of the batch, so
// such a statement may only open a batch. A script that leaves out the GO
// before one is refused as a whole, before anything in it runs, rather than
// have its definition swallow or run what follows.

#include "engine/tsql/statement.h"

namespace sqlengine::tsql {

// Throws SqlError 111 for a definition that is not the batch's first
// statement (in a procedure's, function's or trigger's body, `in_body`, for
// any), and 156 for one inside IF, WHILE, BEGIN ... END or TRY ... CATCH.
void CheckDefinitionPlacement(const StatementList& statements, bool in_body);

}  // namespace sqlengine::tsql
