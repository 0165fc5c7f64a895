#pragma once
// Turns the tokens of a query the front end leaves (views, conditions) into
// SQLite SQL: quoting, N'' literals, dbo. prefixes, database names, catalog
// views, TOP, T-SQL types. Schema statements: exec/schema_statement_sql.h.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "engine/common/types.h"
#include "engine/tsql/object_reach.h"
#include "engine/tsql/statement.h"

namespace sqlengine::tsql {

// Answers the questions about names that only the executing session can.
class NameResolver {
 public:
  virtual ~NameResolver() = default;
  // The SQLite schema name under which `database` is reachable in this
  // session ("main" for the current database), attaching it if needed.
  // Throws SqlError 911 for an unknown database.
  virtual std::string SchemaFor(std::string_view database) = 0;
  // A parenthesised SELECT standing for the catalog view `view` (lower case:
  // "sysobjects", "information_schema.tables" ...) of `database` (empty: the
  // current one); nullopt when no such catalog view exists.
  virtual std::optional<std::string> CatalogView(std::string_view database,
                                                 std::string_view view) = 0;
};

// SQLite SQL with a map from its offsets back to the batch's lines.
struct SqliteText {
  std::string sql;
  std::vector<std::pair<std::size_t, int>> lines;  // (offset in sql, batch line), ascending
  // For a SELECT, the T-SQL type of each select-list item that says its type
  // itself (CAST, CONVERT, GETDATE(), LEN() ...); empty when the list has a *.
  std::vector<std::optional<ColumnType>> column_types;
  // Beside column_types: the variable ("@v") an item is alone, else empty.
  std::vector<std::string> column_variables;
  // Beside column_types: the name an item is given ("AS name", "name =",
  // a trailing name), else empty.
  std::vector<std::string> column_aliases;
  // When set, the result's columns are exactly result_columns (names and
  // SQL Server types from the binder); nothing is read from the rows.
  bool typed_result = false;
  std::vector<Column> result_columns;
  // Generated for the exact stored form (values/exact_storage.h): the
  // result's decimal, numeric, money and smallmoney columns carry it, and
  // variables of those types are bound in it.
  bool exact_stored_form = false;
  // Where the statement itself starts, after the WITH list written in front of it.
  std::size_t statement_offset = 0;
  // Made by the token rewriter, which knows no types (see exec/exact_column_guard.h).
  bool from_rewriter = false;
  // A change through a view WITH CHECK OPTION: every row it writes into
  // `table` ("schema"."name") must meet `condition` (SQL over NEW), else 550.
  struct RowGuard {
    std::string table;
    std::string condition;
  };
  std::optional<RowGuard> row_guard;
  // An UPDATE that assigns variables row by row (exec/per_row_variables.h):
  // the names it stores values under, in lower case: each variable ("@v",
  // no type: the variable's own), and each column's new value a variable
  // takes ("#column", with the column's type).
  struct RowValue {
    std::string name;
    std::optional<ColumnType> type;
  };
  std::vector<RowValue> row_values;
  // What the front end bound the statement to reach; empty for the token
  // rewriter's, whose objects are all checked as the caller's.
  std::vector<ObjectReach> reaches;
  // Literal values written as parameters (kLiteralPrefix + their index), so
  // that statements which differ only in them share one text: integers
  // and character strings, bound as SQLite would read them written out.
  std::vector<std::variant<std::int64_t, std::string>> literals;
  // The SQL Server type of each of them, a part of the key a compiled text
  // is kept under.
  std::string literal_types;
  // The batch line of the token at or before `offset`.
  int LineAt(std::size_t offset) const;
};

// Sets of a text the executor binds from its own state: a T-SQL @@NAME
// becomes the SQLite parameter kSystemVariablePrefix + lower-case NAME.
inline constexpr std::string_view kSystemVariablePrefix = ":sysvar_";
// SqliteText::literals' parameters: this prefix and the value's index.
inline constexpr std::string_view kLiteralPrefix = ":sqlengine_literal_";

// Throws SqlError (170/156 with the line, 2715 for an unknown type) for what
// cannot be expressed.
SqliteText RewriteStatement(const Statement& statement, NameResolver& resolver);

// An expression of a control-flow condition, as `SELECT CASE WHEN (cond) THEN 1 ELSE 0 END`
// that yields 1 when the condition is true.
SqliteText RewriteCondition(const Tokens& condition, NameResolver& resolver);

// The table a CREATE / DROP / ALTER TABLE statement names: its database (empty when
// not given) and its name ("#t" for a temporary table).
struct TableReference {
  std::string database;
  std::string name;
};
TableReference TableOf(const Statement& statement);

}  // namespace sqlengine::tsql
