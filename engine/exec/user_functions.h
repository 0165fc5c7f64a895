#pragma once
// User-defined functions of a database: kept as their CREATE text in the
// database's procedures table (so they travel with the file through detach,
// attach, backup and restore) with a sysobjects row of type FN, IF or TF.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/tsql/function_definition.h"
#include "engine/tsql/statement.h"

namespace sqlengine::exec {

class Session;

// CREATE / ALTER FUNCTION: stores the definition in the current database (or
// the one the name gives). Throws 2714 when CREATE finds the name taken, 208
// when ALTER finds no function of that name.
void DefineFunction(Session& session, const tsql::Statement& statement);

// DROP FUNCTION name [, ...]. Throws 3701 for a name that is no function.
void DropFunctions(Session& session, const tsql::Statement& statement);

// The function `name` (1 to 3 parts as written; the owner, when given, must
// be dbo), nullopt when none.
std::optional<tsql::FunctionDefinition> FindFunction(Session& session,
                                                     const std::vector<std::string>& name);

// Whether a stored definition is a function's rather than a procedure's.
bool IsFunctionText(std::string_view definition);

}  // namespace sqlengine::exec
