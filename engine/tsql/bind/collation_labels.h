#pragma once
// Collation labels of bound character expressions, by SQL Server's
// precedence: a COLLATE clause's (explicit) over a column's (implicit) over
// any other value's (coercible: a literal, a variable, a number converted to
// text). String functions, concatenation and CASE combine their character
// operands' labels; two columns of different collations combine to text with
// no collation, which a comparison cannot use and a client cannot be sent.

#include "engine/common/types.h"
#include "engine/tsql/bind/bound_tree.h"

namespace sqlengine::tsql::bind {

struct CollationLabel {
  int strength = 1;  // 1 coercible, 2 implicit, 3 explicit
  // Put together from columns of different collations (no collation),
  // unless a COLLATE clause gave one.
  bool conflict = false;
  // The type whose collation flags the label holds; never null.
  const ColumnType* collation = nullptr;
};

// The label of `e`, which must have a character type. Points into `e`.
CollationLabel LabelOf(const BoundExpr& e);

// Throws SqlError 451 for the first column of `query`'s result whose text has
// no collation (a concatenation or CASE of columns of different collations).
void RequireResultCollations(const BoundQuery& query);

}  // namespace sqlengine::tsql::bind
