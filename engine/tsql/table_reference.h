#pragma once
// The table a table statement names, read from its tokens.

#include <string>

#include "engine/tsql/statement.h"

namespace sqlengine::tsql {

// The table a CREATE / DROP / ALTER TABLE statement names: its database (empty when
// not given) and its name ("#t" for a temporary table).
struct TableReference {
  std::string database;
  std::string name;
};
TableReference TableOf(const Statement& statement);

}  // namespace sqlengine::tsql
