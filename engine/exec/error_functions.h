#pragma once
// ERROR_NUMBER(), ERROR_MESSAGE(), ERROR_SEVERITY(), ERROR_STATE(),
// ERROR_LINE() and ERROR_PROCEDURE(): the error the innermost running CATCH
// block handles, NULL outside one; XACT_STATE(): 1 inside a transaction,
// 0 outside (no transaction here is ever uncommittable); CURSOR_STATUS(scope,
// name) as FunctionHost::CursorStatus answers it.

#include <sqlite3.h>

#include "engine/exec/sql_functions.h"

namespace sqlengine::exec {

// `host` must outlive the connection. Throws std::runtime_error when SQLite
// refuses the registration.
void RegisterErrorFunctions(sqlite3* db, FunctionHost& host);

}  // namespace sqlengine::exec
