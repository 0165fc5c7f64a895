#include "engine/exec/function_registration.h"

#include <mutex>
#include <set>
#include <stdexcept>
#include <string>

namespace sqlengine::exec {

namespace {

std::mutex per_row_mutex;
std::set<std::string, std::less<>>& PerRowNames() {
  static std::set<std::string, std::less<>> names;
  return names;
}

}  // namespace

void RegisterFunctionTable(sqlite3* db, std::span<const FunctionDefinition> functions, void* data) {
  for (const FunctionDefinition& definition : functions) {
    int flags = SQLITE_UTF8 | (definition.deterministic ? SQLITE_DETERMINISTIC : 0);
    if (sqlite3_create_function_v2(db, definition.name, definition.arguments, flags, data,
                                   definition.function, nullptr, nullptr, nullptr) != SQLITE_OK) {
      throw std::runtime_error(std::string("cannot register ") + definition.name);
    }
    std::string_view name = definition.name;
    if (definition.deterministic || name.starts_with("sqlengine_")) continue;
    std::string row_name = "sqlengine_row_" + std::string(name);
    if (sqlite3_create_function_v2(db, row_name.c_str(), definition.arguments,
                                   SQLITE_UTF8 | SQLITE_DETERMINISTIC, data, definition.function,
                                   nullptr, nullptr, nullptr) != SQLITE_OK) {
      throw std::runtime_error("cannot register " + row_name);
    }
    std::lock_guard lock(per_row_mutex);
    PerRowNames().emplace(name);
  }
}

bool HasPerRowForm(std::string_view name) {
  std::lock_guard lock(per_row_mutex);
  return PerRowNames().count(name) > 0;
}

}  // namespace sqlengine::exec
