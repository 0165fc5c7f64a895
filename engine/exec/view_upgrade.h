#pragma once
// Makes the SQLite query of every view the front end created (it keeps its
// T-SQL query as written; exec/front_end_view.h) again from that query, in a
// given form of exact numbers. The data-file upgrade to the exact stored form
// needs it: a view generated over SQLite numbers adds, compares and yields
// the stored integers of decimal and money columns as if they were numbers.

#include <sqlite3.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/common/types.h"
#include "engine/tsql/generate/sqlite_generator.h"

namespace sqlengine::exec {

// Binds each front-end view of `db`'s main database again over the tables
// and views the file holds and stores its query generated in `form`. A view
// the token rewriter made becomes the front end's where its text reads as
// T-SQL the front end binds (exec/front_end_view.h), and is left as it is
// otherwise. Runs inside the caller's
// transaction. Throws std::runtime_error, naming the view, when its query no
// longer binds.
void RegenerateViews(sqlite3* db, tsql::generate::ExactForm form);

// The types of the columns of the view `create_sql` of the SQLite schema
// `schema` of `db`, its query bound now over the tables and views that file
// holds; nullopt when it does not bind there. Never throws.
std::optional<std::vector<ColumnType>> BindViewColumnTypes(sqlite3* db, const std::string& schema,
                                                           std::string_view create_sql);

}  // namespace sqlengine::exec
