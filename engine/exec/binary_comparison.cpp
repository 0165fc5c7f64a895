#include "engine/exec/binary_comparison.h"

#include <array>
#include <string>

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

// sqlengine_binary_concat(a, b, limit): a's bytes then b's, cut at `limit`
// bytes; NULL when either is NULL.
void BinaryConcat(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL || sqlite3_value_type(args[1]) == SQLITE_NULL)
    return sqlite3_result_null(context);
  std::string bytes;
  for (int k = 0; k < 2; ++k) {
    const auto* data = static_cast<const char*>(sqlite3_value_blob(args[k]));
    if (data != nullptr) bytes.append(data, static_cast<size_t>(sqlite3_value_bytes(args[k])));
  }
  sqlite3_int64 limit = sqlite3_value_int64(args[2]);
  if (limit >= 0 && static_cast<sqlite3_int64>(bytes.size()) > limit)
    bytes.resize(static_cast<size_t>(limit));
  sqlite3_result_blob64(context, bytes.data(), bytes.size(), SQLITE_TRANSIENT);
}

constexpr std::array kFunctions = {
    FunctionDefinition{"sqlengine_binary_key", 1, BinaryKey, true},
    FunctionDefinition{"sqlengine_binary_concat", 3, BinaryConcat, true},
};

}  // namespace

void RegisterBinaryComparison(sqlite3* db) { RegisterFunctionTable(db, kFunctions); }

}  // namespace sqlengine::exec
