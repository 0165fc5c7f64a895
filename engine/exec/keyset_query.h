#pragma once
// What lets a KEYSET or DYNAMIC cursor see changes made after it opened: its
// query over one table with a unique key, read again with the key's values.
// A query over several tables, a view, a grouping or a table without a
// unique key gives none, and the cursor keeps the rows it read at OPEN, as
// SQL Server turns such a cursor into a static one.

#include <sqlite3.h>

#include <optional>
#include <string>
#include <vector>

#include "engine/tsql/statement.h"

namespace sqlengine::exec {

struct KeysetQuery {
  // The cursor's query with the key columns appended to its select list (as
  // sqlengine_key0, 1, ...): its rows give the members, in order, and their keys.
  tsql::Statement keyed;
  std::vector<std::string> key_columns;  // the table's names of the key columns
  // SELECT <the cursor's select list> FROM <its table>: one row once a
  // WHERE clause on the key is appended.
  tsql::Statement row;
  // The query has an ORDER BY: a DYNAMIC cursor over it keeps its members
  // as a KEYSET one does, as SQL Server converts it.
  bool ordered = false;
};

// The keyset form of `select` (a cursor's SELECT) over the current
// database's tables on `db`; nullopt when it has none. Reads the catalog
// with the engine's own SQL; throws nothing for a query it cannot use.
std::optional<KeysetQuery> KeysetQueryOf(sqlite3* db, const tsql::Statement& select);

}  // namespace sqlengine::exec
