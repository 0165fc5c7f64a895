#pragma once
// ALTER TABLE t ALTER COLUMN c type [COLLATE x] [NULL | NOT NULL]: a column
// takes a new type, length, precision or nullability in place. The table
// keeps its pages, rowids, indexes, triggers and rights: the column's
// declaration is replaced in the stored definition (table_definition.h), its
// normalising triggers are made again for the new type, and every row's value
// is converted by T-SQL's conversion rules from the old type to the new one.
//
// Refused as SQL Server refuses it: a computed, text, ntext, image or
// timestamp column (4928); a column a PRIMARY KEY, FOREIGN KEY, computed
// column or index depends on (5074 for each, then 4922), except that an
// index or UNIQUE constraint allows a varchar, nvarchar or varbinary column
// to grow, a CHECK allows such a column any new length, and a DEFAULT allows
// a new length, precision or scale of the same type. The change applies whole
// or not at all.

#include <sqlite3.h>

#include <functional>
#include <string_view>

#include "engine/common/error.h"
#include "engine/tsql/bind/catalog.h"
#include "engine/tsql/name_resolver.h"
#include "engine/tsql/token.h"

namespace sqlengine::exec {

// Whether `alter` (an ALTER TABLE statement's tokens) alters a column.
bool IsColumnAlteration(const tsql::Tokens& alter);

// Runs the alteration. `database` is the current database's name, for
// messages; `line` the statement's. `report` receives the messages that come
// before the error thrown (5074 for each dependent object). Throws SqlError:
// 4902 for an unknown table, 4924 for an unknown column, 2715 for an unknown
// type, 4927 / 4928 for a type ALTER COLUMN does not take, 4922 after the
// 5074s, 515 when NOT NULL meets a stored NULL, 8152 when a stored value does
// not fit the new length, and the conversion errors (245, 241, 8114, 8115 ...)
// of a stored value the new type cannot take. The column takes
// `ansi_padding` (the session's SET ANSI_PADDING) anew, as in SQL Server.
void AlterColumn(sqlite3* db, const tsql::Tokens& alter, tsql::NameResolver& resolver,
                 tsql::bind::Catalog& catalog, std::string_view database, int line,
                 const std::function<void(const SqlError&)>& report, bool ansi_padding = true);

}  // namespace sqlengine::exec
