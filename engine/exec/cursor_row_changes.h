#pragma once
// The T-SQL that a change through a cursor (an API server cursor or a T-SQL
// cursor's WHERE CURRENT OF) runs: an UPDATE or DELETE of one base-table row
// found by the values the cursor read from it, or an INSERT. Names are bracket-quoted here; values
// travel as parameters, so nothing a client sends becomes statement text.

#include <string>
#include <string_view>
#include <vector>

#include "engine/common/engine_api.h"

namespace sqlengine::exec {

// A base-table column and a value for it.
struct ColumnAssignment {
  std::string column;
  ColumnType type;  // the table column's type; the value is converted to it
  Value value;
};

struct ParameterisedStatement {
  std::string text;          // refers to @c0, @c1, ... (the prefix given, else @c)
  std::string declarations;  // "@c0 int, @c1 nvarchar(10)"
  std::vector<RpcParam> values;
};

// [name], with ] doubled.
std::string BracketQuoted(std::string_view name);

// Whether a column can find its row by equality (text, ntext and image cannot).
bool IdentifiesRows(const ColumnType& type);

// The column of `columns` named `name` (ignoring case); nullptr when none.
const Column* FindColumn(const std::vector<Column>& columns, std::string_view name);

// What finds the base-table row a cursor row `row` (in the cursor's
// `columns`) was read from: the value of every cursor column that is a
// column of the table (`table_columns`) and can be compared.
std::vector<ColumnAssignment> RowIdentity(const std::vector<Column>& columns, const Row& row,
                                          const std::vector<Column>& table_columns);

// " WHERE ..." matching `identity`, its parameters named `prefix`0, 1, ...
ParameterisedStatement RowCondition(const std::vector<ColumnAssignment>& identity,
                                    std::string_view prefix);

// `table` is written as T-SQL already (parts bracket-quoted). `identity`
// holds the row's values as the cursor read them; a NULL matches by IS NULL
// and columns that cannot be compared are left out.
ParameterisedStatement UpdateRowStatement(std::string_view table,
                                          const std::vector<ColumnAssignment>& set,
                                          const std::vector<ColumnAssignment>& identity);
ParameterisedStatement DeleteRowStatement(std::string_view table,
                                          const std::vector<ColumnAssignment>& identity);
ParameterisedStatement InsertRowStatement(std::string_view table,
                                          const std::vector<ColumnAssignment>& values);

}  // namespace sqlengine::exec
