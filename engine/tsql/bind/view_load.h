#pragma once
// A load (bulk copy) into a view: the table it writes and how the view's
// columns map onto that table's, as INSERT through the view writes them.

#include <optional>
#include <string>
#include <vector>

#include "engine/tsql/bind/catalog.h"

namespace sqlengine::tsql::bind {

struct ViewLoadTarget {
  TableShape table;                  // the one table under the view
  std::vector<Column> view_columns;  // the view's columns with their types
  // Per view column, the table column it writes; nullopt for a derived or
  // constant one.
  std::vector<std::optional<std::string>> written;
  bool check_option = false;  // the view, or one under it, made WITH CHECK OPTION
};

// Resolves `view` (a view without an INSTEAD OF INSERT trigger) to its
// table through nested views too, noting each level written through with
// the catalog (Catalog::NoteWrittenThrough). Throws NotBound (binder.h) for
// a view INSERT cannot write through: more than one table, UNION, DISTINCT,
// TOP, GROUP BY, another database's table, or an INSTEAD OF INSERT trigger.
// Defined in binder.cpp.
ViewLoadTarget BindViewLoad(const TableShape& view, Catalog& catalog);

}  // namespace sqlengine::tsql::bind
