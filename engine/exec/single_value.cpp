#include "engine/exec/single_value.h"

#include <stdexcept>
#include <string>

#include "engine/common/error.h"
#include "engine/exec/sqlite_errors.h"

namespace sqlengine::exec {
namespace {

// Lives in SQLite's aggregate context: zeroed on the first step, freed by SQLite.
struct Seen {
  sqlite3_value* first;
  bool more;
};

void Step(sqlite3_context* context, int, sqlite3_value** args) {
  auto* seen = static_cast<Seen*>(sqlite3_aggregate_context(context, sizeof(Seen)));
  if (seen == nullptr) return sqlite3_result_error_nomem(context);
  if (seen->first == nullptr && !seen->more) {
    seen->first = sqlite3_value_dup(args[0]);
    if (seen->first == nullptr) return sqlite3_result_error_nomem(context);
    return;
  }
  seen->more = true;
}

void Final(sqlite3_context* context) {
  auto* seen = static_cast<Seen*>(sqlite3_aggregate_context(context, 0));
  if (seen == nullptr) return sqlite3_result_null(context);
  if (seen->more) {
    std::string text = FunctionErrorText(MakeError(512));
    sqlite3_result_error(context, text.c_str(), -1);
  } else if (seen->first != nullptr) {
    sqlite3_result_value(context, seen->first);
  }
  sqlite3_value_free(seen->first);
  seen->first = nullptr;
}

}  // namespace

void RegisterSingleValue(sqlite3* db) {
  if (sqlite3_create_function_v2(db, "sqlengine_single_value", 1, SQLITE_UTF8, nullptr, nullptr,
                                 Step, Final, nullptr) != SQLITE_OK) {
    throw std::runtime_error("cannot register sqlengine_single_value");
  }
}

}  // namespace sqlengine::exec
