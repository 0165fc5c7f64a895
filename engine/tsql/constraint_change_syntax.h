#pragma once
// The syntax of ALTER TABLE statements that change constraints:
//   ALTER TABLE t [WITH CHECK | NOCHECK] ADD [CONSTRAINT c] <constraint> [, ...]
//   ALTER TABLE t DROP CONSTRAINT c [, [CONSTRAINT] c2 ...]
//   ALTER TABLE t [WITH CHECK | NOCHECK] {CHECK | NOCHECK} CONSTRAINT {ALL | c [, ...]}
// where <constraint> is PRIMARY KEY | UNIQUE [CLUSTERED | NONCLUSTERED] (columns),
// CHECK (condition), FOREIGN KEY (columns) REFERENCES t2 [(columns)] [...] or
// DEFAULT expression FOR column [WITH VALUES].

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "engine/tsql/token.h"

namespace sqlengine::tsql {

// One constraint an ADD names; positions index the statement's tokens.
struct AddedConstraint {
  std::string name;                  // "" when the statement names none
  std::string kind;                  // "primary", "unique", "check", "foreign" or "default"
  std::size_t begin = 0;             // CONSTRAINT, or the kind's word
  std::size_t end = 0;               // one past the element
  std::vector<std::string> columns;  // a key's columns; a default's one column
  std::size_t expression_end = 0;    // a default: the FOR that ends its expression
  std::optional<bool> clustered;     // a key's CLUSTERED / NONCLUSTERED
};

struct ConstraintChange {
  std::string database;  // "" when not named
  std::string table;
  bool check_existing = true;
  std::vector<AddedConstraint> added;
  std::vector<std::string> dropped;
  // CHECK / NOCHECK CONSTRAINT: whether the named FOREIGN KEY and CHECK
  // constraints (all of them when `all`) are switched on or off; unset
  // for ADD and DROP. Switching on checks the rows only WITH CHECK.
  std::optional<bool> enable;
  bool all = false;
  std::vector<std::string> switched;
};

// nullopt when `alter` (an ALTER TABLE statement's tokens) changes no
// constraint; throws SyntaxError for a malformed one that does.
std::optional<ConstraintChange> ReadConstraintChange(const Tokens& alter);

}  // namespace sqlengine::tsql
