#pragma once
// CREATE VIEW and ALTER VIEW through the front end: the view's query is bound (so its
// columns have SQL Server types and its names are checked when it is
// created) and generated as SQLite SQL; the query as written is kept in the
// stored definition, where SessionCatalog finds it again to bind the view
// wherever a statement reads it.

#include <sqlite3.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/tsql/bind/catalog.h"
#include "engine/tsql/generate/sqlite_generator.h"
#include "engine/tsql/parse/syntax_tree.h"
#include "engine/tsql/sqlite_text.h"
#include "engine/tsql/statement.h"

namespace sqlengine::exec {

class Session;
class SessionConnection;

// The SQL creating the view of a `CREATE VIEW name [(columns)] AS query
// [WITH CHECK OPTION]`, or nullopt for another statement. Throws SqlError
// for a view SQL Server refuses: an unnamed column (4511), a name given
// twice (4506), a column list of another width (8158 / 8159), a name with a
// database (166), a #name (4103), a syntax error; and 8180 for one this
// engine cannot make (a query the binder has no rule for, a table of
// another database). `written` is the
// statement as its author wrote it, which the view keeps for sp_helptext and
// syscomments.
std::optional<tsql::SqliteText> FrontEndCreateView(const tsql::Statement& statement,
                                                   Session& session, std::string_view written);

// The name of the view an ALTER VIEW `statement` changes (FrontEndCreateView
// then gives its new definition as a CREATE VIEW); nullopt for any other
// statement.
std::optional<std::string> AlteredView(const tsql::Statement& statement);

// The name of the view a CREATE VIEW `statement` makes in the current
// database; nullopt for any other statement.
std::optional<std::string> CreatedView(const tsql::Statement& statement);

// Whether `statement` is a CREATE / ALTER VIEW; throws SQL Server's error
// for one whose header or query does not parse (the batch's syntax check).
bool FrontEndParsesView(const tsql::Statement& statement);

// The query a view's stored SQLite definition keeps, parsed, with the WITH
// list written in front of it (null when none); `query` is null for a view
// the front end did not create.
struct StoredView {
  std::shared_ptr<const tsql::parse::Query> query;
  std::shared_ptr<const std::vector<tsql::parse::CommonTable>> with;
  bool check_option = false;  // made WITH CHECK OPTION
  size_t generated_at = 0;     // where the generated query starts in the stored SQL
  // SQLite keeps a stand-in for the query (it reads another database): a
  // reader must bind `query`, never read the SQLite view.
  bool bound_at_use = false;
};
StoredView StoredViewQuery(std::string_view create_sql);

// The query of a view stored by an older engine as its CREATE VIEW
// statement (no comments of the front end's), read as T-SQL: the shapes it
// stored unchanged still are. `query` is null for one whose stored text is
// no T-SQL the parser takes, and for a view the front end made.
StoredView OlderViewQuery(std::string_view create_sql);

// The text of a view as its author wrote it, from its stored SQLite
// definition: kept as written since the engine kept it; for a front-end
// view made before, its CREATE VIEW rebuilt from its name and query; for a
// view an older engine stored as its statement, that statement.
std::string ViewTextAsWritten(std::string_view create_sql);

// The stored definition (SQLite's CREATE VIEW) of view `view` of SQLite
// schema `schema`; empty when there is no such view.
std::string StoredViewSql(sqlite3* db, const std::string& schema, const std::string& view);

// A table as SQLite names it: its schema ("main", "temp" or an attached
// database's alias) and name.
struct SqliteTable {
  std::string schema;
  std::string table;
};

// The table a change of `name` of SQLite schema `schema` writes when no
// INSTEAD OF trigger takes it: `name` itself when it is a table; for a view
// the one its query reads, followed down through views, also into another
// database its query names. nullopt when nothing of that name is there, or
// for a view the front end did not make or of another shape (the binder
// then refuses the change). Throws 911 for a database a view names that is
// not there, as reading the view would.
std::optional<SqliteTable> TableWrittenThrough(SessionConnection& connection, std::string schema,
                                               std::string name);

// The columns' types (with their nullability) a view's stored definition
// recorded when it was made or last altered, as SQL Server keeps a view's
// column metadata; nullopt for a view made before they were recorded.
std::optional<std::vector<ColumnType>> StoredViewColumnTypes(std::string_view create_sql);

// The types of the columns of the view `create_sql` of the SQLite schema
// `schema` of `db`, for the catalog: those it recorded, else its query bound
// now over the tables of that file; nullopt when neither is known (SQLite's
// declared types then stand). Never throws.
std::optional<std::vector<ColumnType>> ViewColumnTypes(sqlite3* db, const std::string& schema,
                                                       std::string_view create_sql);

// sqlengine_column_type(declared, pk, sql, cid, schema): for a view, the
// declaration of its column `cid` by ViewColumnTypes; otherwise as the
// three-argument form. sqlengine_view_column_null(sql, cid, schema): 1 when
// the view's column takes NULL, 0 when not, NULL when unknown (or no view).
void ViewColumnTypeFunction(sqlite3_context* context, int count, sqlite3_value** arguments);
void ViewColumnNullFunction(sqlite3_context* context, int count, sqlite3_value** arguments);
// sqlengine_unstored_view(name): fails with 8180 always; the stand-in query
// of a view read at each use calls it, so no path reads rows from it.
void UnstoredViewFunction(sqlite3_context* context, int count, sqlite3_value** arguments);
// sqlengine_view_text(sql): ViewTextAsWritten for the catalog views; NULL for NULL.
void ViewTextFunction(sqlite3_context* context, int count, sqlite3_value** arguments);

// Older engines stored a view as its CREATE VIEW statement, which for the
// shapes they passed on unchanged is T-SQL still. The stored
// definition of the same view made by the front end, its query bound against
// `catalog` and generated in `form`; nullopt for a view the front end made,
// or one whose text the front end does not parse or bind as T-SQL. Never
// throws.
std::optional<std::string> FrontEndViewOfOlderView(std::string_view create_sql,
                                                      tsql::bind::Catalog& catalog,
                                                      tsql::generate::ExactForm form);

}  // namespace sqlengine::exec
