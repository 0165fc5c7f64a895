#pragma once
// The bound shape of a query: every name resolved to a source and column,
// every expression typed with its SQL Server type, every implicit conversion
// an explicit kConvert node. Built by the binder, read by the generator.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/common/types.h"

namespace sqlengine::tsql::bind {

struct BoundQuery;

inline constexpr std::size_t kNoOrigin = static_cast<std::size_t>(-1);

enum class BoundKind {
  kLiteral,     // sql: the SQLite literal
  kColumn,      // sql: "alias"."column"
  kParameter,   // sql: @name or the system variable's parameter
  kNegate,      // args: value; op "-" or "~"
  kArithmetic,  // op: + - * / % & ^ |
  kConcat,
  kComparison,  // op: = <> < > <= >=; text_comparison for character data
  kAnd,
  kOr,
  kNot,
  kBetween,
  kInList,
  kInQuery,
  kLike,  // args: value, pattern[, escape]
  kIsNull,
  kExists,
  kCase,
  kConvert,    // args: value[, style]; type: the target
  kCall,       // sql: the SQLite function; args
  kAggregate,  // sql: count / sum / avg / min / max; count_star; distinct
  kSubquery,
  // value op ALL | ANY (query): args: the comparison of the value with the
  // query's one column, read as "sqlengine_quantified"."sqlengine_value";
  // op: "all" or "any".
  kQuantified,
  // In a block WITH ROLLUP or CUBE: args: a GROUP BY expression; sql: its
  // position in the GROUP BY list. NULL in the rows that total over it.
  kGroupingColumn,
  // GROUPING(expression) of such a block; sql: the expression's position.
  // 1 in the rows that total over it, else 0.
  kGrouping,
};

struct BoundExpr {
  BoundKind kind = BoundKind::kLiteral;
  ColumnType type;
  std::string op;
  std::string sql;
  bool negated = false;
  bool distinct = false;
  bool count_star = false;
  bool has_operand = false;
  bool has_else = false;
  bool text_comparison = false;  // compare case-insensitively, trailing spaces ignored
  // With text_comparison or kLike: an operand's collation tells case apart.
  bool case_sensitive = false;
  // With text_comparison: the collation flags the comparison settles on
  // (ColumnType's case_sensitive, binary_order, accent_insensitive,
  // upper_first; tsql/collation_names.h).
  ColumnType collation;
  // A COLLATE clause gave this expression its type's collation, which then
  // wins over its operands' in a comparison.
  bool explicit_collation = false;
  bool binary_comparison = false;  // compare binary data, trailing 0x00 bytes ignored
  // Compare uniqueidentifiers in SQL Server's order: by byte groups, the
  // last group most significant (the sqlengine_guid collation).
  bool guid_comparison = false;
  bool outer_reference = false;  // kColumn of an enclosing query (a correlated subquery)
  bool null_literal = false;
  // kLiteral: the batch offset of the integer or character string token
  // whose own value and type the literal still is; kNoOrigin otherwise.
  std::size_t origin = kNoOrigin;
  std::vector<std::unique_ptr<BoundExpr>> args;
  std::unique_ptr<BoundQuery> query;
};

struct BoundSource {
  // kFunctionRows: a multi-statement table-valued function's rows, which
  // `rows_call` returns as JSON (see exec/table_function_rows.h), read as
  // `rows_columns`.
  enum class Kind { kTable, kDerived, kJoin, kFunctionRows } kind = Kind::kTable;
  std::string table_sql;  // "schema"."table"; a common table: "name"
  std::string schema;     // the SQLite schema of a table or view; "" for a common table
  // table_sql names a view or a common table: not a table a change writes.
  bool named_query = false;
  // A view whose INSTEAD OF trigger takes the statement's change: the change
  // is written to the view.
  bool changed_instead = false;
  std::string alias;      // the SQLite alias every column reference uses
  std::unique_ptr<BoundQuery> derived;
  std::string join;  // "JOIN", "LEFT JOIN" ...
  std::unique_ptr<BoundSource> left, right;
  std::unique_ptr<BoundExpr> on;
  std::unique_ptr<BoundExpr> rows_call;
  std::vector<Column> rows_columns;
};

struct BoundOrder {
  std::unique_ptr<BoundExpr> expr;  // null when ordinal is set
  int ordinal = 0;                  // 1-based select-list position
  bool descending = false;
};

struct BoundSelectBlock {
  std::unique_ptr<BoundExpr> top;
  bool top_percent = false;  // top is a percentage of the rows, rounded up
  bool top_ties = false;     // the rows tied with the last one by ORDER BY come too
  bool distinct = false;
  std::vector<std::unique_ptr<BoundExpr>> items;
  std::vector<std::unique_ptr<BoundSource>> from;
  std::unique_ptr<BoundExpr> where;
  std::vector<std::unique_ptr<BoundExpr>> group_by;
  // GROUP BY ALL: `where` filters the aggregates' rows, not the groups.
  bool group_all = false;
  enum class Grouping { kPlain, kRollup, kCube } grouping = Grouping::kPlain;
  std::unique_ptr<BoundExpr> having;
};

struct BoundCommonTable;

struct BoundQuery {
  // The statement's WITH list (only on the statement's own query).
  std::vector<BoundCommonTable> with;
  std::vector<BoundSelectBlock> terms;
  std::vector<bool> union_all;
  std::vector<BoundOrder> order_by;
  std::vector<Column> columns;  // the result: names ("" for an unnamed expression) and types
};

// A common table expression: SQLite reads it by its name.
struct BoundCommonTable {
  std::string name;
  std::vector<Column> columns;
  BoundQuery query;
};

// INSERT: every value converted as its column stores it.
struct BoundInsert {
  std::vector<BoundCommonTable> with;
  std::string table_sql;                 // "schema"."table"
  std::vector<std::string> columns;      // as the table spells them, in the order written
  std::vector<ColumnType> column_types;  // beside columns: their declared types
  std::vector<std::vector<std::unique_ptr<BoundExpr>>> rows;  // VALUES
  std::unique_ptr<BoundQuery> query;                          // set instead of rows
  // Written through a view WITH CHECK OPTION: what every new row must meet,
  // its columns read as NEW."column" of table_sql.
  std::unique_ptr<BoundExpr> check;
};

// An item of an UPDATE's SET list: a column's new value, a variable's
// (`@v = value`), or both (`@v = column = value`: the variable takes the
// column's new value, which the row holds under ColumnSlot(column)).
struct BoundAssignment {
  std::string column;  // as the table spells it; empty for `@v = value`
  std::unique_ptr<BoundExpr> value;
  ColumnType type;  // the column's declared type
  std::string variable;  // "@v" in lower case; empty for `column = value`
  std::unique_ptr<BoundExpr> variable_value;
  ColumnType variable_type;  // the variable's declared type
};

// An UPDATE that assigns variables evaluates them row by row through two
// SQLite functions the executor registers (exec/per_row_variables.h):
// kAssignFunction(name, value) stores the value converted to the variable's
// type and returns it; kReadFunction(name) reads what is stored now. A
// column's new value a variable takes is held for the row under ColumnSlot.
inline constexpr std::string_view kAssignFunction = "sqlengine_assign";
inline constexpr std::string_view kReadFunction = "sqlengine_variable";
inline std::string ColumnSlot(const std::string& column) { return "#" + column; }

// A table's CHECK, DEFAULT or computed column cannot hold a query or a
// parameter, so a catalog function or system variable there is
// kBuiltinFunction('name' | '@@name', arguments...): the session evaluates
// that T-SQL call (or variable) with the argument values at each use
// (exec/sql_functions.h). A computed column holds its sqlengine_row_ form.
inline constexpr std::string_view kBuiltinFunction = "sqlengine_builtin";

// UPDATE and DELETE of one table under its SQLite alias. `from` holds the
// FROM clause's other sources; the inner joins that held the target are
// conditions in `where`.
struct BoundChange {
  std::vector<BoundCommonTable> with;
  std::string table_sql;
  std::string alias;
  std::vector<BoundAssignment> assignments;  // UPDATE only
  std::vector<std::unique_ptr<BoundSource>> from;
  std::unique_ptr<BoundExpr> where;
  std::unique_ptr<BoundExpr> check;  // UPDATE through a view: as BoundInsert's
};

}  // namespace sqlengine::tsql::bind
