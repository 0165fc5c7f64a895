#pragma once
// The rows an UPDATE changes and the values it writes to them, as a query,
// for an executor that applies the change itself (exec/key_changes.h).

#include "engine/tsql/bind/bound_tree.h"
#include "engine/tsql/generate/sqlite_generator.h"
#include "engine/tsql/sqlite_text.h"

namespace sqlengine::tsql::generate {

// SELECT target.rowid, <each SET item's value as the UPDATE writes it> with
// the UPDATE's sources and WHERE condition: a row matched by several rows of
// the sources comes as often. Literals are written out. For an UPDATE that
// assigns variables the values are those of the items that write a column,
// and reading the rows assigns the variables as running the UPDATE does
// (the executor's per-row variable scope must be open).
SqliteText GenerateUpdateRows(const bind::BoundChange& update, int line,
                              ExactForm form = ExactForm::kNumbers);

}  // namespace sqlengine::tsql::generate
