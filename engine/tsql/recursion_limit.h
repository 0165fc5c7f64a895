#pragma once
// The recursion limit of WITH lists. A recursive common table expression
// stops with error 530 once a row would be more than `limit` levels below
// its anchor (100 unless OPTION (MAXRECURSION n) says otherwise; 0: no limit).
//
// Each recursive CTE `c (columns) AS (anchor UNION ALL recursive)` whose
// columns can be named becomes two CTEs: `sqlengine_level_c (columns,
// sqlengine_level)`, whose rows carry their level (0 for the anchor; the
// recursive member computes its rows' level through
// sqlengine_recursion(level, limit), which raises 530 beyond the limit), and
// `c (columns)` selecting the columns from it, so the statement sees `c` as
// written. A CTE whose columns cannot be named (a `*` in its anchor) keeps no
// count.

#include <optional>
#include <vector>

#include "engine/tsql/statement.h"

namespace sqlengine::tsql {

inline constexpr int kDefaultMaxRecursion = 100;

struct QueryHints {
  std::optional<int> max_recursion;
};

// Takes a trailing OPTION (hint, ...) clause off a SELECT, INSERT, UPDATE or
// DELETE. Only MAXRECURSION n has an effect; the other hints SQL Server knows
// are accepted and ignored. Throws SyntaxError for an unknown hint and
// SqlError 310 for a MAXRECURSION beyond 32767.
QueryHints TakeQueryHints(Tokens& tokens);

// The WITH list with every recursive CTE counting its levels up to `limit`.
std::vector<CommonTableExpression> LimitRecursion(const std::vector<CommonTableExpression>& with,
                                                  int limit);

}  // namespace sqlengine::tsql
