#pragma once
// Registering a table of engine functions on a connection.

#include <sqlite3.h>

#include <span>

namespace sqlengine::exec {

struct FunctionDefinition {
  const char* name;
  int arguments;
  void (*function)(sqlite3_context*, int, sqlite3_value**);
  bool deterministic;
};

// Registers every function with `data` as its user data. Throws
// std::runtime_error when SQLite refuses one.
void RegisterFunctionTable(sqlite3* db, std::span<const FunctionDefinition> functions,
                           void* data = nullptr);

}  // namespace sqlengine::exec
