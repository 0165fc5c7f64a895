#pragma once
// The parsed shape of a query: names as written, no types. Nodes own their
// children; a tree is built by the parser and only read afterwards (the
// binder builds its own bound tree beside it).

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/tsql/for_xml.h"
#include "engine/tsql/token.h"

namespace sqlengine::tsql::parse {

struct Query;

enum class ExprKind {
  kLiteral,
  kColumn,          // names: 1 to 4 parts as written (an omitted part is "")
  kVariable,        // @name
  kSystemVariable,  // @@name
  kUnary,           // op: "-", "+", "~"
  kBinary,          // op: "*", "/", "%", "+", "-", "&", "^", "|"
  kComparison,      // op: "=", "<>", "<", ">", "<=", ">=" ("!=", "!<", "!>" normalised)
  kAnd,
  kOr,
  kNot,
  kBetween,   // args: value, low, high
  kInList,    // args: value, items...
  kInQuery,   // args: value; query
  kLike,      // args: value, pattern[, escape]
  kIsNull,    // args: value
  kExists,    // query
  kCase,      // args: [operand,] (when, then)..., [else]
  kCast,      // CAST and CONVERT: args: value[, style]; type
  kCall,      // name (lower case); args; count_star for COUNT(*). A user
              // function (owner.f(...)): names hold its 2 or 3 parts as written
  kSubquery,  // query
  // value op ALL | ANY (query): args: value; op; value: "all" or "any"
  // (SOME is ANY).
  kQuantified,
  kCollate,  // value COLLATE name: args: value; value: the collation as written
};

// kMoney: $12.50 (value "12.50").
enum class LiteralKind {
  kInteger,
  kDecimal,
  kFloat,
  kMoney,
  kString,
  kNationalString,
  kBinary,
  kNull
};

// A type as written in CAST / CONVERT: "varchar", {"10"}.
struct WrittenType {
  std::string name;
  std::vector<std::string> arguments;
  Token origin;
};

struct Expr {
  ExprKind kind = ExprKind::kLiteral;
  Token origin;  // the first token, for error lines
  std::string op;
  std::vector<std::string> names;  // kColumn parts; kCall: {name}
  LiteralKind literal = LiteralKind::kNull;
  std::string value;      // literal text (unquoted), variable name with its '@'
  bool negated = false;   // NOT BETWEEN / NOT IN / NOT LIKE / IS NOT NULL
  bool distinct = false;  // aggregate DISTINCT
  bool count_star = false;
  bool has_operand = false;  // simple CASE
  bool has_else = false;
  std::vector<std::unique_ptr<Expr>> args;
  std::optional<WrittenType> type;
  std::unique_ptr<Query> query;
};

struct SelectItem {
  std::unique_ptr<Expr> expr;  // null for * and t.*
  std::string alias;           // empty when none was written
  bool star = false;
  std::vector<std::string> star_qualifier;  // t in t.*
  Token origin;
};

enum class JoinKind { kInner, kLeft, kRight, kFull, kCross };

struct TableSource {
  // kFunction: a table-valued function called with `arguments`.
  enum class Kind { kTable, kDerived, kJoin, kFunction } kind = Kind::kTable;
  std::vector<std::string> name;  // 1 to 3 parts; an omitted part ("db..t") is ""
  std::vector<std::unique_ptr<Expr>> arguments;
  std::string alias;
  std::unique_ptr<Query> derived;
  std::vector<std::string> columns;  // a derived table's column names: AS d (a, b)
  JoinKind join = JoinKind::kInner;
  std::unique_ptr<TableSource> left, right;
  std::unique_ptr<Expr> on;
  // Table hints (WITH (NOLOCK), (UPDLOCK, ROWLOCK) ...), lower case; they
  // change nothing here and are kept for the checks SQL Server makes.
  std::vector<std::string> hints;
  Token origin;
};

struct OrderItem {
  std::unique_ptr<Expr> expr;
  bool descending = false;
};

// One SELECT ... [FROM ...] [WHERE ...] [GROUP BY ...] [HAVING ...].
struct SelectBlock {
  std::unique_ptr<Expr> top;  // TOP n / TOP (expr)
  bool top_percent = false;   // TOP n PERCENT
  bool top_ties = false;      // TOP n [PERCENT] WITH TIES
  bool distinct = false;
  std::vector<SelectItem> items;
  std::vector<std::unique_ptr<TableSource>> from;  // comma-separated sources
  std::unique_ptr<Expr> where;
  std::vector<std::unique_ptr<Expr>> group_by;
  bool group_all = false;  // GROUP BY ALL: groups the WHERE clause drops still come
  enum class Grouping { kPlain, kRollup, kCube } grouping = Grouping::kPlain;  // WITH ROLLUP | CUBE
  std::unique_ptr<Expr> having;
  // SELECT ... INTO table: 1 to 3 parts as written. Only a statement's first
  // block holds one.
  std::vector<std::string> into;
  Token origin;
};

// One `name [(column, ...)] AS (query)` of a WITH list.
struct CommonTable {
  std::string name;
  std::vector<std::string> columns;  // empty: the query's own names
  std::unique_ptr<Query> query;
  Token origin;
};

// SELECT ... [UNION [ALL] SELECT ...]... [ORDER BY ...].
struct Query {
  std::vector<std::unique_ptr<SelectBlock>> terms;
  std::vector<bool> union_all;  // between terms[k] and terms[k + 1]
  std::vector<OrderItem> order_by;
  // FOR XML after it: only a statement's own query holds one.
  std::optional<ForXml> for_xml;
  Token for_xml_origin;  // FOR
};

// INSERT [INTO] table [(column, ...)] VALUES (...)[, (...)]... | query.
struct InsertStatement {
  std::vector<std::string> table;    // 1 to 3 parts; an omitted part ("db..t") is ""
  std::vector<std::string> hints;    // INSERT t WITH (TABLOCK): see TableSource
  std::vector<std::string> columns;  // empty: every column in table order
  // VALUES rows; a null value stands for DEFAULT.
  std::vector<std::vector<std::unique_ptr<Expr>>> rows;
  std::unique_ptr<Query> query;                          // set instead of rows
  bool default_values = false;  // DEFAULT VALUES: no rows, no query, no columns
  Token origin;
};

// An item of an UPDATE's SET list: column = value, @variable = value, or
// @variable = column = value (the variable takes the column's new value).
struct Assignment {
  std::vector<std::string> column;  // 1 or 2 parts: [table_or_alias.]column; empty for @v = value
  std::string variable;             // "@v" as written; empty for column = value
  std::unique_ptr<Expr> value;      // null for DEFAULT
  Token origin;
};

// UPDATE target SET ... [FROM ...] [WHERE ...] and DELETE [FROM] target
// [FROM ...] [WHERE ...]. The target is a table, or the alias of one of the
// FROM clause's tables.
struct UpdateStatement {
  std::vector<std::string> target;
  std::vector<std::string> hints;  // UPDATE t WITH (ROWLOCK): see TableSource
  std::vector<Assignment> assignments;
  std::vector<std::unique_ptr<TableSource>> from;
  std::unique_ptr<Expr> where;
  Token origin;
};

struct DeleteStatement {
  std::vector<std::string> target;
  std::vector<std::string> hints;
  std::vector<std::unique_ptr<TableSource>> from;
  std::unique_ptr<Expr> where;
  Token origin;
};

}  // namespace sqlengine::tsql::parse
