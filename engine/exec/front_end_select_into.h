#pragma once
// SELECT ... INTO table through the front end: the query is bound like any
// SELECT, and the new table's columns take the SQL Server types the binder
// gave its result columns, not the affinities SQLite would give them.

#include <optional>
#include <string>
#include <vector>

#include "engine/common/types.h"
#include "engine/exec/identity_columns.h"
#include "engine/tsql/bind/binder.h"
#include "engine/tsql/sqlite_text.h"
#include "engine/tsql/statement.h"

namespace sqlengine::exec {

class Session;

struct SelectInto {
  std::vector<std::string> table;  // 1 to 3 parts as written ("" for an omitted one)
  std::vector<Column> columns;     // the new table's, in select-list order
  tsql::SqliteText query;          // the rows to fill it with
  // An identity column's seed and increment: the source table's, or those
  // IDENTITY() gave.
  KeptIdentity identity;
  // The column IDENTITY(type, seed, increment) makes: the table assigns its
  // values, so the rows are inserted without it.
  std::optional<tsql::bind::IdentityFunction> made_identity;
};

// The bound SELECT INTO, or nullopt for a statement that is none. Throws SqlError as FrontEndSelect, and 1038 for a
// column without a name (SQL Server's refusal).
std::optional<SelectInto> FrontEndSelectInto(const tsql::Statement& statement, Session& session);

// The T-SQL CREATE TABLE for the new table, for the executor's one way of
// creating tables (declared types, triggers, catalog rows, rights).
std::string CreateTableText(const SelectInto& into);

}  // namespace sqlengine::exec
