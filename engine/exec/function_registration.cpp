#include "engine/exec/function_registration.h"

#include <stdexcept>
#include <string>

namespace sqlengine::exec {

void RegisterFunctionTable(sqlite3* db, std::span<const FunctionDefinition> functions, void* data) {
  for (const FunctionDefinition& definition : functions) {
    int flags = SQLITE_UTF8 | (definition.deterministic ? SQLITE_DETERMINISTIC : 0);
    if (sqlite3_create_function_v2(db, definition.name, definition.arguments, flags, data,
                                   definition.function, nullptr, nullptr, nullptr) != SQLITE_OK) {
      throw std::runtime_error(std::string("cannot register ") + definition.name);
    }
  }
}

}  // namespace sqlengine::exec
