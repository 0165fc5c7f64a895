#pragma once
// A load (bulk copy) into a view: the table it writes and how the view's
// columns map onto that table's, as INSERT through the view writes them.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/tsql/bind/bound_tree.h"
#include "engine/tsql/bind/catalog.h"

namespace sqlengine::tsql::bind {

struct ViewLoadTarget {
  TableShape table;                  // the one table under the view
  std::vector<Column> view_columns;  // the view's columns with their types
  // Per view column, the table column it writes; nullopt for a derived or
  // constant one.
  std::vector<std::optional<std::string>> written;
  // What a view made WITH CHECK OPTION (or one over a view so made) asks of
  // each loaded row, over NEW; null when nothing is asked.
  std::unique_ptr<BoundExpr> check;
  // The rows go to the view's INSTEAD OF INSERT trigger: `table` is then
  // the view itself, its columns the view's (none an identity, none with
  // a default).
  bool instead = false;
};

// Resolves `view`, loaded in `columns` (empty: all of its columns), to its
// table through nested views too, noting each level written through with
// the catalog (Catalog::NoteWrittenThrough). With `fire_triggers` a view
// with an INSTEAD OF INSERT trigger takes the rows itself (`instead`);
// without, no trigger fires and the rows go through it as through any view.
// A view over a join loads the one table the loaded columns come from.
// Throws SqlError 4405 when they come from more than one, 4403 for an
// aggregating view; NotBound (binder.h) for a view this engine cannot load
// through: UNION, TOP, another database's table, an INSTEAD OF INSERT
// trigger of a view under the loaded one (with `fire_triggers`), a join
// under a CHECK OPTION (its own or an outer view's). Defined in binder.cpp.
ViewLoadTarget BindViewLoad(const TableShape& view, const std::vector<std::string>& columns,
                            bool fire_triggers, Catalog& catalog);

}  // namespace sqlengine::tsql::bind
