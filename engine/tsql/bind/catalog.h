#pragma once
// What the binder asks of the session: tables and their declared columns,
// and the declared types of variables.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/common/types.h"
#include "engine/tsql/function_definition.h"
#include "engine/tsql/object_reach.h"
#include "engine/tsql/parse/syntax_tree.h"

namespace sqlengine::tsql::bind {

struct TableShape {
  std::string sql;     // the table as SQLite names it: "schema"."name"
  std::string name;    // as the catalog spells it
  std::string schema;  // the SQLite schema holding it: main, temp or an attached database's
  std::vector<Column> columns;
  // Beside columns: each one's default as the SQLite expression the table
  // declares, "" for none.
  std::vector<std::string> column_defaults;
  // Beside columns: whether each one is computed (read only). Empty when
  // none is.
  std::vector<bool> computed_columns;
  // A view the front end created: its query as written (the binder binds
  // it for the columns' types; `columns` then holds only the view's column
  // names). Null for a table.
  std::shared_ptr<const parse::Query> view_query;
  // The WITH list written in front of view_query; null when none.
  std::shared_ptr<const std::vector<parse::CommonTable>> view_with;
  // Of a view: which changes an INSTEAD OF trigger takes. Such a change is
  // written to the view itself, in the view's columns; the executor hands
  // the rows to the trigger.
  bool instead_of_insert = false;
  bool instead_of_update = false;
  bool instead_of_delete = false;
  // Of a view: made WITH CHECK OPTION.
  bool check_option = false;
  // Of a view an older engine stored as its statement, or one reading
  // another database's tables (SQLite keeps a stand-in for it): SQLite's
  // copy of it is not the front end's SQL, so a reader reads the query
  // bound here instead, and no change is handed to its INSTEAD OF triggers.
  bool read_bound_query = false;
  // A catalog view: `sql` is a parenthesised query, read but never written.
  bool system_catalog = false;
};

// A user function as the binder inlines it.
struct FunctionShape {
  std::string name;    // as the catalog spells it
  std::string schema;  // the SQLite schema holding it
  // The database holding it when that is not the one names without a
  // database reach; the engine's call then names it.
  std::string database;
  FunctionKind kind = FunctionKind::kScalar;
  std::vector<ParameterDeclaration> parameters;
  ColumnType returns;  // kScalar
  // A scalar function whose body is one RETURN: that expression, in which
  // the parameters stand for the call's arguments.
  std::shared_ptr<const parse::Expr> expression;
  // An inline table-valued function: its query.
  std::shared_ptr<const parse::Query> query;
  // A multi-statement table-valued function: the columns it returns.
  std::vector<Column> table_columns;
};

class Catalog {
 public:
  virtual ~Catalog() = default;
  // `name`: 1 to 3 parts as written (database, owner, table; an omitted part
  // is ""). nullopt when no table of that name is visible, or when it is not
  // a table the binder can describe (views the front end did not create);
  // the statement then takes the older path. A catalog view comes back as a
  // table with system_catalog set.
  virtual std::optional<TableShape> FindTable(const std::vector<std::string>& name) = 0;
  // Whether `name` reaches anything a statement may read (a table, a view,
  // a catalog view ...): when it does not, the binder reports SQL Server's
  // 208 itself.
  virtual bool ObjectExists(const std::vector<std::string>& name) = 0;
  // The declared type of @name; nullopt when it is not declared.
  virtual std::optional<ColumnType> VariableType(std::string_view name) = 0;
  // The user function `name` (1 to 3 parts as written), nullopt when none.
  virtual std::optional<FunctionShape> FindFunction(const std::vector<std::string>& /*name*/) {
    return std::nullopt;
  }
  // The uids of the owners whose objects a name of `database` (empty: the
  // one names without a database reach) written after `owner` (empty: none)
  // reaches: that user's or role's (none for a name that is neither), or
  // without an owner the user's own (inside a body: its owner's) and dbo's.
  // nullopt: any owner's (a catalog that records none).
  virtual std::optional<std::vector<int>> OwnersReached(const std::string& /*database*/,
                                                        const std::string& /*owner*/) {
    return std::nullopt;
  }
  // The binder enters the body of an object it found (a view's query, an
  // inlined function's body) and leaves it again. What it finds in between
  // is reached from that object; names in a view's query are its database's.
  virtual void EnterBody(const std::string& /*schema*/, const std::string& /*name*/,
                         ObjectReach::Kind /*kind*/) {}
  virtual void LeaveBody() {}
  // A change of the view `view` is written through to `source` (a table or
  // the view under it): each column of the source paired with the view's
  // column it stands for.
  virtual void NoteWrittenThrough(const std::string& /*view_schema*/,
                                  const std::string& /*view*/,
                                  const std::string& /*source_schema*/,
                                  const std::string& /*source*/,
                                  std::vector<std::pair<std::string, std::string>> /*columns*/) {}
  // SET ANSI_NULLS: when false, = and <> with a NULL literal or a variable
  // holding NULL compare NULLs as equal.
  virtual bool AnsiNulls() { return true; }
  // SET CONCAT_NULL_YIELDS_NULL: when false, a NULL string concatenated
  // reads as the empty string.
  virtual bool ConcatNullYieldsNull() { return true; }
  // Whether a new column of a table of `database` (empty: the current one)
  // that says neither NULL nor NOT NULL allows NULLs: SET ANSI_NULL_DFLT_ON
  // / ANSI_NULL_DFLT_OFF, else the database's 'ANSI null default' option.
  virtual bool ColumnsNullableByDefault(const std::string& /*database*/) { return true; }
};

}  // namespace sqlengine::tsql::bind
