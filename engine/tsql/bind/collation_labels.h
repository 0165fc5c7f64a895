#pragma once
// Collation labels of bound character expressions, by SQL Server's
// precedence: a COLLATE clause's (explicit) over a column's (implicit) over
// any other value's (coercible: a literal, a variable, a number converted to
// text). String functions, concatenation and CASE combine their character
// operands' labels; two columns of different collations combine to text with
// no collation, which a comparison cannot use and a client cannot be sent;
// two different COLLATE clauses combine to an error.

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
// no collation (a concatenation or CASE of columns of different collations,
// a UNION ALL of them).
void RequireResultCollations(const BoundQuery& query);

// Gives each character column of a UNION, and its value in every term, the
// collation of the term with the strongest label (a COLLATE clause's, else a
// column's), which the rows are compared and sorted in. Columns whose terms
// conflict are left for CheckQueryCollations and RequireResultCollations.
void SettleUnionCollations(BoundQuery& query);

// What a query needs wherever its rows go: a collation for each character
// column a UNION compares rows by and for each text ORDER BY sorts by (451
// naming the SELECT or ORDER BY column), one collation among COLLATE
// clauses (449).
void CheckQueryCollations(const BoundQuery& query);

// Throws SqlError 449 when the text `e` puts together (a concatenation, a
// CASE) carries COLLATE clauses naming different collations; nothing for
// other values.
void RequireCollationLabel(const BoundExpr& e);

// Throws SqlError 449 when two COLLATE clauses name different collations.
void RequireSameExplicit(const ColumnType& first, const ColumnType& second);

}  // namespace sqlengine::tsql::bind
