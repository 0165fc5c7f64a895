#pragma once
// The declared type of an IDENTITY column. The column is SQLite's rowid, whose
// declaration must read INTEGER, so the T-SQL type (tinyint, smallint, int,
// bigint, decimal(p,0), numeric(p,0)) follows it in a comment SQLite skips:
// "id" INTEGER /*sqlengine_type tinyint*/ PRIMARY KEY AUTOINCREMENT. Tables made
// before the comment was written have an int identity.

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "engine/common/types.h"

namespace sqlengine::exec {

// The comment that follows INTEGER in the declaration of an identity of `type`.
std::string IdentityTypeComment(const ColumnType& type);

// Whether SQL Server lets a column of `type` be an identity: an integer, or a
// decimal or numeric of scale 0.
bool MayBeIdentity(const ColumnType& type);

// The values an identity of `type` may take (lowest, highest); nullopt when
// they are all the rowid's 64-bit integers.
std::optional<std::pair<std::int64_t, std::int64_t>> IdentityRange(const ColumnType& type);

// The type of the identity column of the table whose CREATE text SQLite keeps
// as `table_sql`; nullopt when the text names none (an older table: int).
std::optional<ColumnType> IdentityTypeIn(std::string_view table_sql);

// A column as pragma_table_info describes it (`declared` its declared type,
// `primary_key` its pk) in the table made by `table_sql`: its T-SQL type, the
// identity's declared one for the rowid identity. Nullopt for a declaration the
// engine does not read.
std::optional<ColumnType> StoredColumnType(std::string_view declared, int primary_key,
                                           std::string_view table_sql);

// The SQL function sqlengine_column_type(declared, pk, table sql): the
// declaration of StoredColumnType's type (`declared` itself when it reads none),
// for the catalog views.
void StoredColumnTypeFunction(sqlite3_context* context, int count, sqlite3_value** arguments);

}  // namespace sqlengine::exec
