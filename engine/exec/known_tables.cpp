#include "engine/exec/known_tables.h"

#include <string_view>

namespace sqlengine::exec {

std::optional<bool> KnownTable(sqlite3* db, const std::string& schema, const char* name) {
  if (db == nullptr) return std::nullopt;
  // Only this connection changes its temp schema.
  int state = sqlite3_txn_state(db, schema.c_str());
  if (schema != "temp" && state != SQLITE_TXN_READ && state != SQLITE_TXN_WRITE) return std::nullopt;
  // Without a column this asks for the table alone; a view counts as none.
  int rc = sqlite3_table_column_metadata(db, schema.c_str(), name, nullptr, nullptr, nullptr,
                                         nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) return true;
  // The same code comes back when the schema could not be read: only this
  // message says the copy was read and has no such table.
  if (rc == SQLITE_ERROR && std::string_view(sqlite3_errmsg(db)).starts_with("no such table column"))
    return false;
  return std::nullopt;
}

}  // namespace sqlengine::exec
