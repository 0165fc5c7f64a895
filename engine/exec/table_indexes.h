#pragma once
// A table's indexes as SQL Server names and describes them: the index of a
// PRIMARY KEY or UNIQUE constraint under the constraint's name, the others
// under the names they were created with; the engine's own left out.

#include <sqlite3.h>

#include <string>
#include <vector>

namespace sqlengine::exec {

struct IndexColumn {
  std::string name;
  bool descending = false;
};

struct TableIndex {
  std::string name;
  bool unique = false;
  std::string key_kind;  // "PK", "UQ" for a constraint's index, else empty
  bool clustered = false;
  std::vector<IndexColumn> columns;  // in key order
};

// `table`'s indexes in SQLite schema `schema` ("main", or "temp" for a
// #temp table), ordered by name (case ignored).
std::vector<TableIndex> IndexesOf(sqlite3* db, const std::string& table,
                                  const std::string& schema = "main");

}  // namespace sqlengine::exec
