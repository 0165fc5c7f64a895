#pragma once
// Binds a parsed SELECT, INSERT, UPDATE or DELETE: resolves tables and columns against the catalog
// (aliases, derived tables, #temp tables), expands *, and types every
// expression by SQL Server's precedence and conversion rules, making each
// implicit conversion an explicit node.

#include <cstdint>
#include <optional>
#include <stdexcept>

#include "engine/tsql/bind/bound_tree.h"
#include "engine/tsql/bind/catalog.h"
#include "engine/tsql/parse/syntax_tree.h"

namespace sqlengine::tsql::bind {

// Thrown for a query this binder does not type (an unknown name or function,
// a conversion it has no rule for): the caller refuses the statement with
// 8180, naming the reason.
class NotBound : public std::runtime_error {
 public:
  explicit NotBound(const std::string& what) : std::runtime_error(what) {}
};

// Throws NotBound, or SqlError for a query SQL Server refuses that the older
// path would run with a wrong answer (8118 / 8120: a column neither grouped
// nor aggregated).
// `with`: the WITH list written in front of the statement; its tables are
// visible throughout the statement and hide catalog tables of their names.
// `live_variables` (lower case, with their @): variables the statement
// assigns row by row (SELECT @v = ...), read through kReadFunction as each
// row leaves them rather than as the statement began.
// ORDER BY in a view's query or one inside another (derived table,
// subquery, CTE) only with TOP: throws SqlError 1033 otherwise.
void RequireTopForOrderBy(const parse::Query& query);

BoundQuery Bind(const parse::Query& query, Catalog& catalog,
                const std::vector<parse::CommonTable>& with = {},
                const std::vector<std::string>& live_variables = {});

// The IDENTITY(type, seed, increment) column of a SELECT INTO's select list:
// its position and numbers (1, 1 when only the type was written).
struct IdentityFunction {
  size_t column = 0;
  std::int64_t seed = 1;
  std::int64_t increment = 1;
};
std::optional<IdentityFunction> IdentityFunctionOf(const BoundQuery& query);

// INSERT, UPDATE and DELETE: the same names and types as a query's, each
// written value converted to its column's type by SQL Server's rules for
// assignment. Throws NotBound as Bind does (also for a value count that does
// not match the column list, which the older path reports).
BoundInsert BindInsert(const parse::InsertStatement& insert, Catalog& catalog,
                       const std::vector<parse::CommonTable>& with = {});
BoundChange BindUpdate(const parse::UpdateStatement& update, Catalog& catalog,
                       const std::vector<parse::CommonTable>& with = {});
BoundChange BindDelete(const parse::DeleteStatement& statement, Catalog& catalog,
                       const std::vector<parse::CommonTable>& with = {});

// A search condition standing alone (IF / WHILE): variables, subqueries,
// EXISTS; no columns outside its subqueries. Throws as Bind does, and
// NotBound when the expression is a value rather than a condition.
std::unique_ptr<BoundExpr> BindCondition(const parse::Expr& condition, Catalog& catalog);

// An expression stored in a table's definition (a CHECK constraint's
// condition when `predicate`, else a DEFAULT's or a computed column's value)
// over `columns` of the table `table`, which it names bare; a value is
// converted as storing it in a column of type `stored_as` converts it. Throws
// as Bind does; a DEFAULT passes no columns.
std::unique_ptr<BoundExpr> BindTableExpression(const parse::Expr& expr, const std::string& table,
                                               const std::vector<Column>& columns, bool predicate,
                                               const std::optional<ColumnType>& stored_as,
                                               Catalog& catalog);

}  // namespace sqlengine::tsql::bind
