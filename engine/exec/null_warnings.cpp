#include "engine/exec/null_warnings.h"

#include <stdexcept>

#include "engine/exec/function_registration.h"
#include "engine/exec/sql_functions.h"

namespace sqlengine::exec {
namespace {

// sqlengine_nulls_noted(value, skipped): the aggregate's value; a positive
// count of NULLs it skipped is noted for warning 8153.
void NullsNoted(sqlite3_context* context, int, sqlite3_value** args) {
  auto* host = static_cast<FunctionHost*>(sqlite3_user_data(context));
  if (host != nullptr && sqlite3_value_int64(args[1]) > 0) host->NoteNullEliminated();
  sqlite3_result_value(context, args[0]);
}

// sqlengine_null_count(x), an aggregate: how many of its rows' x are NULL.
void NullCountStep(sqlite3_context* context, int, sqlite3_value** args) {
  auto* nulls =
      static_cast<sqlite3_int64*>(sqlite3_aggregate_context(context, sizeof(sqlite3_int64)));
  if (nulls != nullptr && sqlite3_value_type(args[0]) == SQLITE_NULL) ++*nulls;
}

void NullCountFinal(sqlite3_context* context) {
  auto* nulls = static_cast<sqlite3_int64*>(sqlite3_aggregate_context(context, 0));
  sqlite3_result_int64(context, nulls == nullptr ? 0 : *nulls);
}

constexpr FunctionDefinition kFunctions[] = {
    {"sqlengine_nulls_noted", 2, NullsNoted, false},
};

}  // namespace

void RegisterNullWarnings(sqlite3* db, FunctionHost* host) {
  RegisterFunctionTable(db, kFunctions, host);
  if (sqlite3_create_function_v2(db, "sqlengine_null_count", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                 nullptr, nullptr, NullCountStep, NullCountFinal,
                                 nullptr) != SQLITE_OK) {
    throw std::runtime_error("cannot register sqlengine_null_count");
  }
}

}  // namespace sqlengine::exec
