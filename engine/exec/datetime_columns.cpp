#include "engine/exec/datetime_columns.h"

#include <vector>

#include "engine/catalog/sqlite_handle.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/type_name.h"

namespace sqlengine::exec {

void NormaliseDateTimeColumns(sqlite3* db, const std::string& schema, const std::string& table) {
  std::vector<std::string> columns;
  auto info = catalog::Prepare(db, "SELECT name, type FROM pragma_table_info(?, ?)");
  sqlite3_bind_text(info.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(info.get(), 2, schema.c_str(), -1, SQLITE_TRANSIENT);
  while (sqlite3_step(info.get()) == SQLITE_ROW) {
    std::optional<ColumnType> type = tsql::ParseDeclaredType(catalog::ColumnText(info.get(), 1));
    if (type && (type->type == SqlType::kDateTime || type->type == SqlType::kSmallDateTime)) {
      columns.push_back(catalog::ColumnText(info.get(), 0));
    }
  }
  std::string quoted_table = tsql::QuoteSqliteName(table);
  for (const std::string& column : columns) {
    std::string quoted_column = tsql::QuoteSqliteName(column);
    std::string body = " FOR EACH ROW WHEN NEW." + quoted_column +
                       " IS NOT NULL BEGIN UPDATE " + quoted_table + " SET " + quoted_column +
                       " = sqlengine_datetime(NEW." + quoted_column + ") WHERE rowid = NEW.rowid; END";
    for (const char* event : {"INSERT", "UPDATE"}) {
      std::string name = tsql::QuoteSqliteName(std::string("sqlengine_datetime_") + event + "_" + table +
                                               "_" + column);
      std::string on = std::string(event) == "UPDATE" ? "UPDATE OF " + quoted_column : event;
      catalog::Exec(db, "CREATE TRIGGER " + tsql::QuoteSqliteName(schema) + "." + name + " AFTER " + on +
                            " ON " + quoted_table + body);
    }
  }
}

}  // namespace sqlengine::exec
