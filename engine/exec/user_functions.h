#pragma once
// User-defined functions of a database: kept as their CREATE text in the
// database's procedures table (so they travel with the file through detach,
// attach, backup and restore) with a sysobjects row of type FN, IF or TF.

#include <sqlite3.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/common/types.h"
#include "engine/exec/sql_functions.h"
#include "engine/tsql/function_definition.h"
#include "engine/tsql/statement.h"

namespace sqlengine::exec {

class Session;

// CREATE / ALTER FUNCTION: stores the definition in the current database (or
// the one the name gives). Throws 2714 when CREATE finds the name taken, 208
// when ALTER finds no function of that name. `written` is the text it keeps.
void DefineFunction(Session& session, const tsql::Statement& statement,
                    const std::string& written);

// DROP FUNCTION name [, ...]. Throws 3701 for a name that is no function.
void DropFunctions(Session& session, const tsql::Statement& statement);

// The function `name` (1 to 3 parts as written; the owner, when given, must
// be dbo), nullopt when none.
std::optional<tsql::FunctionDefinition> FindFunction(Session& session,
                                                     const std::vector<std::string>& name);

// Refuses statements a function's body may not hold: changes to anything
// but its own table variable, EXECUTE, PRINT and RAISERROR (443), and a
// SELECT that would send rows to the client (444); each with its line.
void CheckFunctionBody(const tsql::StatementList& body);

// Refuses a body of any kind that names a #temp table: 4508, at the line
// of the name.
void RefuseTempTables(const tsql::Tokens& body);

// Whether a stored definition is a function's rather than a procedure's.
bool IsFunctionText(std::string_view definition);

// Runs scalar function `name` of the current database with `arguments`
// through the session's executor (nothing reaches the client) and returns
// its result. Throws SqlError: 4121 for no such function, else the first
// error inside it.
Value RunScalarFunction(Session& session, const std::vector<std::string>& name,
                        const std::vector<Value>& arguments);

// Runs multi-statement table-valued function `name` of the current database
// as RunScalarFunction does and returns its rows (table_function_rows.h).
std::string RunTableFunction(Session& session, const std::vector<std::string>& name,
                             const std::vector<Value>& arguments);

// The value of built-in `name` (a function's name or @@variable, nothing
// else) with `arguments`, evaluated as the expression name(constants...) in
// the session with its rights (FunctionHost::EvaluateBuiltin). Throws
// SqlError: 195 for a name that is not one, else the evaluation's.
Value RunBuiltin(Session& session, std::string_view name, const std::vector<Value>& arguments);

// sqlengine_user_function('name', arguments...): a scalar function with
// more statements than one RETURN, called from generated SQL; it runs
// through `host` on the connection whose statement calls it.
// sqlengine_user_function_in('database', 'name', arguments...) calls one of
// another database than names without one reach.
void RegisterUserFunctionCalls(sqlite3* db, FunctionHost& host);

// The body of an SQLite function `what`('name', arguments...) that calls a
// user function through the FunctionHost it was registered with (when
// `what` ends in _in: `what`('database', 'name', arguments...)): `call`
// runs it with the name as written (1 or 3 parts) and sets the SQLite
// result; a missing name and whatever `call` throws become the SQLite
// function's error.
void CallNamedFunction(
    sqlite3_context* context, int count, sqlite3_value** args, const char* what,
    const std::function<void(FunctionHost& host, const std::vector<std::string>& name,
                             const std::vector<Value>& arguments)>& call);

}  // namespace sqlengine::exec
