#include "engine/catalog/server_configuration.h"

#include <stdexcept>
#include <string>

namespace sqlengine::catalog {

ServerConfiguration::ServerConfiguration(const std::filesystem::path& master_file)
    : db_(OpenDataFile(master_file)) {
  sqlite3_busy_timeout(db_.get(), 10000);
  Exec(db_.get(), std::string("CREATE TABLE IF NOT EXISTS ") + kConfigurationsTable +
                      " (name nvarchar(35) PRIMARY KEY COLLATE NOCASE, value int NOT NULL)");
}

std::optional<int> ServerConfiguration::Stored(std::string_view name) {
  std::lock_guard lock(mutex_);
  auto select = Prepare(
      db_.get(), std::string("SELECT value FROM ") + kConfigurationsTable + " WHERE name = ?");
  sqlite3_bind_text(select.get(), 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
  if (sqlite3_step(select.get()) != SQLITE_ROW) return std::nullopt;
  return sqlite3_column_int(select.get(), 0);
}

void ServerConfiguration::Store(std::string_view name, int value) {
  std::lock_guard lock(mutex_);
  auto upsert = Prepare(db_.get(), std::string("INSERT INTO ") + kConfigurationsTable +
                                       " (name, value) VALUES (?, ?) "
                                       "ON CONFLICT(name) DO UPDATE SET value = excluded.value");
  sqlite3_bind_text(upsert.get(), 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
  sqlite3_bind_int(upsert.get(), 2, value);
  if (sqlite3_step(upsert.get()) != SQLITE_DONE) {
    throw std::runtime_error(sqlite3_errmsg(db_.get()));
  }
}

}  // namespace sqlengine::catalog
