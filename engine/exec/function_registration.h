#pragma once
// Registering a table of engine functions on a connection.

#include <sqlite3.h>

#include <span>
#include <string_view>

namespace sqlengine::exec {

struct FunctionDefinition {
  const char* name;
  int arguments;
  void (*function)(sqlite3_context*, int, sqlite3_value**);
  bool deterministic;
};

// Registers every function with `data` as its user data, and each one that
// is not deterministic also as sqlengine_row_<name>, marked deterministic:
// the form a computed column holds, as SQLite takes no other into a
// generated column (the column is virtual, so the call still runs at every
// read). Throws std::runtime_error when SQLite refuses one.
void RegisterFunctionTable(sqlite3* db, std::span<const FunctionDefinition> functions,
                           void* data = nullptr);

// Whether RegisterFunctionTable gave engine function `name` (lower case) a
// sqlengine_row_ form.
bool HasPerRowForm(std::string_view name);

}  // namespace sqlengine::exec
