#include "engine/exec/error_functions.h"

#include "engine/exec/function_registration.h"
#include "engine/exec/sqlite_value_text.h"

namespace sqlengine::exec {
namespace {

const ServerMessage* Handled(sqlite3_context* context) {
  return static_cast<FunctionHost*>(sqlite3_user_data(context))->HandledError();
}

template <int ServerMessage::*field>
void NumberOfError(sqlite3_context* context, int, sqlite3_value**) {
  const ServerMessage* error = Handled(context);
  if (error == nullptr) return sqlite3_result_null(context);
  sqlite3_result_int(context, error->*field);
}

void ErrorMessage(sqlite3_context* context, int, sqlite3_value**) {
  const ServerMessage* error = Handled(context);
  if (error == nullptr) return sqlite3_result_null(context);
  SqliteResultText(context, error->text);
}

// NULL for an error outside a procedure or trigger.
void ErrorProcedure(sqlite3_context* context, int, sqlite3_value**) {
  const ServerMessage* error = Handled(context);
  if (error == nullptr || error->procedure.empty()) return sqlite3_result_null(context);
  SqliteResultText(context, error->procedure);
}

void TransactionState(sqlite3_context* context, int, sqlite3_value**) {
  sqlite3_result_int(
      context, static_cast<FunctionHost*>(sqlite3_user_data(context))->InTransaction() ? 1 : 0);
}

void CursorStatusFunction(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL || sqlite3_value_type(args[1]) == SQLITE_NULL)
    return sqlite3_result_int(context, -3);
  sqlite3_result_int(context,
                     static_cast<FunctionHost*>(sqlite3_user_data(context))
                         ->CursorStatus(SqliteValueText(args[0]), SqliteValueText(args[1])));
}

constexpr FunctionDefinition kFunctions[] = {
    {"error_number", 0, NumberOfError<&ServerMessage::number>, false},
    {"error_message", 0, ErrorMessage, false},
    {"error_severity", 0, NumberOfError<&ServerMessage::severity>, false},
    {"error_state", 0, NumberOfError<&ServerMessage::state>, false},
    {"error_line", 0, NumberOfError<&ServerMessage::line>, false},
    {"error_procedure", 0, ErrorProcedure, false},
    {"xact_state", 0, TransactionState, false},
    {"cursor_status", 2, CursorStatusFunction, false},
};

}  // namespace

void RegisterErrorFunctions(sqlite3* db, FunctionHost& host) {
  RegisterFunctionTable(db, kFunctions, &host);
}

}  // namespace sqlengine::exec
