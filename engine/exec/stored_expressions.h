#pragma once
// The CHECK conditions, DEFAULT values and computed columns of a table
// definition, bound by the
// front end over the table's columns with their SQL Server types (a string
// compared with a datetime column is a datetime, a column under a _CS or
// _BIN collation compares by its bytes, '+' of strings concatenates) and
// generated as the SQLite text the table's definition keeps.
//
// The definition keeps the T-SQL text as written beside each generated
// expression, in a comment SQLite skips and the catalog reads back:
//   CHECK (<generated>) /*sqlengine_tsql <written text>*/
//   DEFAULT (<generated>) /*sqlengine_tsql <written text>*/
//   "c" <type> GENERATED ALWAYS AS (<generated>) VIRTUAL /*sqlengine_tsql <written text>*/
// (a computed column is an SQLite generated column of the type the binder
// gives its expression).
// In the written text '%' is kept as "%25" and '*' as "%2A", so the comment
// holds no "*/" of its own and can itself sit inside a disabled constraint's
// comment. Definitions made before without the comment hold their T-SQL
// text in SQLite's own words, as they always have.

#include <sqlite3.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/common/types.h"
#include "engine/tsql/bind/catalog.h"
#include "engine/tsql/token.h"

namespace sqlengine::exec {

class StoredExpressions {
 public:
  // `tokens`: the elements of a table definition between [first, end) (the
  // column definitions and table constraints between CREATE TABLE's
  // parentheses, or what ALTER TABLE ADD adds). `known`: columns the table
  // has already (`known_computed` beside them: which are computed); a column
  // element of a known name takes that column's type.
  // An expression the front end does not parse or bind has no stored text.
  // Throws SqlError for one SQL Server refuses (207 for an unknown column,
  // 128 for a column in a DEFAULT). With `added_columns` (the columns ALTER
  // TABLE ADD adds, where SQLite takes a constant DEFAULT alone), an exact
  // column's DEFAULT that is a number is written as its stored value.
  StoredExpressions(const tsql::Tokens& tokens, std::size_t first, std::size_t end,
                    const std::string& table, const std::vector<Column>& known,
                    const std::vector<bool>& known_computed, tsql::bind::Catalog& catalog,
                    bool added_columns = false);

  // The stored text of the expression that starts at `tokens[begin]` (a
  // CHECK's opening parenthesis, a DEFAULT's value, a computed column's AS:
  // then its whole declaration); nullptr when none was bound there.
  const std::string* StoredAt(std::size_t begin) const;

 private:
  void Element(std::size_t begin, std::size_t end, const std::vector<Column>& columns);
  void Computed(std::size_t begin, std::size_t end, const std::vector<Column>& columns);
  // The DEFAULT of a column ALTER TABLE ADD adds to an exact column: SQLite
  // takes a constant alone there, so a written number becomes its stored
  // value (8115 when it does not fit the column).
  void AddedColumnDefault(std::size_t i, std::size_t end, const ColumnType& type);
  // The stored text of [begin, end) bound; empty when the front end cannot
  // bind it. `type` receives a value's type.
  // `generated` in parentheses, followed by the T-SQL of [begin, end) as
  // written, kept in a comment for the catalog and the upgrade.
  std::string WithWrittenText(const std::string& generated, std::size_t begin,
                              std::size_t end) const;
  std::string Bind(std::size_t begin, std::size_t end, bool predicate,
                   const std::optional<ColumnType>& stored_as, const std::vector<Column>& columns,
                   ColumnType* type = nullptr);

  const tsql::Tokens& source_;
  bool added_columns_;
  std::string table_;
  tsql::bind::Catalog& catalog_;
  // Replaced ranges of source_ (ascending) and the text each stands for.
  struct Replacement {
    std::size_t begin;
    std::size_t end;
    std::string stored;
  };
  std::vector<Replacement> replacements_;
  std::vector<std::string> computed_;  // the names of the table's computed columns
};

// A stored expression's generated SQLite text alone, without the written
// text that follows it.
std::string GeneratedSql(std::string_view stored);

// The written text of an expression kept in a definition: the decoded
// contents of a /*sqlengine_tsql ...*/ comment that starts at `at` (after
// spaces) in `sql`, and the offset past it; nullopt when none starts there.
struct WrittenExpression {
  std::string text;
  std::size_t end = 0;
};
std::optional<WrittenExpression> ReadWrittenExpression(std::string_view sql, std::size_t at);

// A computed column of a user table with its expression as written, in
// parentheses (what syscomments shows of it).
struct ComputedColumnText {
  std::string table;
  std::string column;
  int colid = 0;
  std::string text;
};
// The computed columns of SQLite schema `schema`'s user tables, in table
// then column order. Throws std::runtime_error when SQLite fails.
std::vector<ComputedColumnText> ReadComputedColumns(sqlite3* db, const std::string& schema);

}  // namespace sqlengine::exec
