#pragma once
// How a bound statement reaches the objects it reads or changes, for the
// permission checks: the objects its own text names, and for each view or
// inlined function it reaches, the objects the view's query or the
// function's body names. SQLite's authorizer reports a read of a table
// under a view without always saying which view it came through; these
// records say it.

#include <string>
#include <utility>
#include <vector>

namespace sqlengine::tsql {

struct ObjectReach {
  // kTruncatedTable: the table a TRUNCATE TABLE empties. Its DELETE takes
  // the right to alter the table, not DELETE.
  enum class Kind { kTable, kView, kScalarFunction, kTableFunction, kTruncatedTable };
  std::string schema;  // the SQLite schema holding it
  std::string name;    // as the catalog spells it
  Kind kind = Kind::kTable;
  // The view or function whose body names it; empty when the statement
  // itself does.
  std::string inside_schema;
  std::string inside_name;
  // A change written through the view `inside`: each column of this object
  // paired with the view's column it stands for.
  std::vector<std::pair<std::string, std::string>> columns;
};

}  // namespace sqlengine::tsql
