#pragma once
// The SQLite SQL the engine runs for a T-SQL statement, with what the
// executor needs beside it: the batch lines of its offsets, the result's
// SQL Server types, the parameters it binds from the session.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "engine/common/types.h"
#include "engine/tsql/for_xml.h"
#include "engine/tsql/object_reach.h"

namespace sqlengine::tsql {

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
  // A change through a view WITH CHECK OPTION: every row it writes into
  // `table` ("schema"."name") must meet `condition` (SQL over NEW), else 550.
  struct RowGuard {
    std::string table;
    std::string condition;
  };
  std::optional<RowGuard> row_guard;
  // An INSERT or UPDATE: the table or view it writes, as "schema"."name"
  // (through a view, the table under it).
  std::string changed_table;
  // An UPDATE that assigns variables row by row (exec/per_row_variables.h):
  // the names it stores values under, in lower case: each variable ("@v",
  // no type: the variable's own), and each column's new value a variable
  // takes ("#column", with the column's type).
  struct RowValue {
    std::string name;
    std::optional<ColumnType> type;
  };
  std::vector<RowValue> row_values;
  // SELECT ... FOR XML: the rows are sent as XML (exec/for_xml_result.h).
  std::optional<ForXml> for_xml;
  // What the front end bound the statement to reach; empty for SQL the
  // engine made itself, whose objects are all checked as the caller's.
  std::vector<ObjectReach> reaches;
  // Literal values written as parameters (kLiteralPrefix + their index), so
  // that statements which differ only in them share one text: integers
  // and character strings, bound as SQLite would read them written out.
  std::vector<std::variant<std::int64_t, std::string>> literals;
  // The SQL Server type of each of them, a part of the key a compiled text
  // is kept under.
  std::string literal_types;
  // Beside literals: the batch offset of the token each is the value of
  // (bind::kNoOrigin when none is) with its type, and whether the statement
  // was written the same way whatever that token's value (its place in the
  // statement reads nothing but its type). A statement differing only in
  // such tokens, of the same types, binds to this text with their values.
  struct LiteralOrigin {
    std::size_t offset = static_cast<std::size_t>(-1);
    ColumnType type;
    bool value_free = false;
  };
  std::vector<LiteralOrigin> literal_origins;
  // The offsets of literal tokens written into `sql` as they are.
  std::vector<std::size_t> written_literals;
  // The batch line of the token at or before `offset`.
  int LineAt(std::size_t offset) const;
};

// Sets of a text the executor binds from its own state: a T-SQL @@NAME
// becomes the SQLite parameter kSystemVariablePrefix + lower-case NAME.
inline constexpr std::string_view kSystemVariablePrefix = ":sysvar_";
// SqliteText::literals' parameters: this prefix and the value's index.
inline constexpr std::string_view kLiteralPrefix = ":sqlengine_literal_";

}  // namespace sqlengine::tsql
