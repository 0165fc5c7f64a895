#include "engine/exec/binary_comparison.h"

#include <array>

#include "engine/exec/function_registration.h"

namespace sqlengine::exec {
namespace {

void BinaryKey(sqlite3_context* context, int, sqlite3_value** args) {
  sqlite3_value* value = args[0];
  if (sqlite3_value_type(value) == SQLITE_NULL) return sqlite3_result_null(context);
  const auto* bytes = static_cast<const unsigned char*>(sqlite3_value_blob(value));
  int size = sqlite3_value_bytes(value);
  while (size > 0 && bytes[size - 1] == 0) --size;
  if (size == 0) return sqlite3_result_zeroblob(context, 0);
  sqlite3_result_blob(context, bytes, size, SQLITE_TRANSIENT);
}

constexpr std::array kFunctions = {
    FunctionDefinition{"sqlengine_binary_key", 1, BinaryKey, true},
};

}  // namespace

void RegisterBinaryComparison(sqlite3* db) { RegisterFunctionTable(db, kFunctions); }

}  // namespace sqlengine::exec
