#include "engine/exec/column_collation.h"

#include <optional>
#include <string>

#include "engine/exec/sqlite_value_text.h"
#include "engine/tsql/collation_names.h"
#include "engine/tsql/token.h"
#include "engine/tsql/type_name.h"

namespace sqlengine::exec {

std::string StoredColumnCollation(sqlite3* db, const std::string& schema, const std::string& table,
                                  const std::string& column, ColumnType type, bool view) {
  const char* collation = nullptr;
  if (sqlite3_table_column_metadata(db, schema.c_str(), table.c_str(), column.c_str(), nullptr,
                                    &collation, nullptr, nullptr, nullptr) != SQLITE_OK) {
    collation = nullptr;
  }
  // SQLite answers no collation for a view's column (and BINARY, were it to
  // answer, for an expression without one): the database's.
  if (view && collation != nullptr && tsql::EqualsIgnoreCase(collation, "binary"))
    collation = nullptr;
  tsql::ApplySqliteCollation(collation, type);
  return tsql::CollationNameFor(type);
}

void ColumnCollationFunction(sqlite3_context* context, int, sqlite3_value** arguments) {
  for (int k = 0; k < 4; ++k) {
    if (sqlite3_value_type(arguments[k]) == SQLITE_NULL) return sqlite3_result_null(context);
  }
  std::optional<ColumnType> type = tsql::ParseDeclaredType(SqliteValueText(arguments[3]));
  if (!type || !tsql::IsCharacterType(type->type)) return sqlite3_result_null(context);
  SqliteResultText(context, StoredColumnCollation(sqlite3_context_db_handle(context),
                                                  SqliteValueText(arguments[0]),
                                                  SqliteValueText(arguments[1]),
                                                  SqliteValueText(arguments[2]), *type,
                                                  sqlite3_value_int(arguments[4]) != 0));
}

}  // namespace sqlengine::exec
