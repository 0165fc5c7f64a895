#include "engine/catalog/sqlite_handle.h"

#include <stdexcept>

#include "engine/catalog/log_name_vfs.h"

namespace sqlengine::catalog {

Connection OpenDataFile(const std::filesystem::path& data_file, bool read_only) {
  RegisterLogNameVfs();
  sqlite3* raw = nullptr;
  int flags = (read_only ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX |
              SQLITE_OPEN_EXRESCODE | SQLITE_OPEN_URI;
  int rc = sqlite3_open_v2(data_file.c_str(), &raw, flags, nullptr);
  Connection db(raw);
  if (rc != SQLITE_OK) {
    throw std::runtime_error("cannot open " + data_file.string() + ": " +
                             (raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc)));
  }
  sqlite3_db_config(raw, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
  sqlite3_db_config(raw, SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
  sqlite3_extended_result_codes(raw, 1);
  return db;
}

void Exec(sqlite3* db, std::string_view sql) {
  char* error = nullptr;
  std::string text(sql);
  if (sqlite3_exec(db, text.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    std::string message = error ? error : sqlite3_errmsg(db);
    sqlite3_free(error);
    throw std::runtime_error(message);
  }
}

PreparedStatement Prepare(sqlite3* db, std::string_view sql) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &raw, nullptr) !=
      SQLITE_OK) {
    throw std::runtime_error(sqlite3_errmsg(db));
  }
  return PreparedStatement(raw);
}

std::string ColumnText(sqlite3_stmt* statement, int column) {
  const unsigned char* text = sqlite3_column_text(statement, column);
  return text ? std::string(reinterpret_cast<const char*>(text)) : std::string();
}

}  // namespace sqlengine::catalog
