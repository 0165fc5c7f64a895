#include "engine/catalog/data_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

#include "engine/catalog/log_name_vfs.h"
#include "engine/catalog/master_catalog.h"
#include "engine/catalog/sqlite_handle.h"

namespace sqlengine::catalog {

void CreateDataFile(const std::filesystem::path& data_file) {
  int fd = ::open(data_file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) throw std::runtime_error("cannot create " + data_file.string());
  ::close(fd);
  try {
    Connection db = OpenDataFile(data_file);
    Exec(db.get(), "PRAGMA page_size=8192; PRAGMA auto_vacuum=INCREMENTAL;");
    Exec(db.get(), std::string("CREATE TABLE ") + kObjectsTable +
                       " (id int PRIMARY KEY, name nvarchar(128) NOT NULL COLLATE NOCASE, "
                       "xtype char(2) NOT NULL, crdate datetime NOT NULL)");
    Exec(db.get(), std::string("CREATE TABLE ") + kProceduresTable + kProceduresColumns);
    Exec(db.get(), "PRAGMA user_version=" + std::to_string(kDataFileFormat));
    Exec(db.get(), "PRAGMA journal_mode=WAL");
  } catch (...) {
    RemoveDataFiles(data_file);
    throw;
  }
  EnsureLogFile(data_file);
}

void EnsureLogFile(const std::filesystem::path& data_file) {
  int fd = ::open(LogFileFor(data_file).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) throw std::runtime_error("cannot create " + LogFileFor(data_file).string());
  ::close(fd);
}

void RemoveDataFiles(const std::filesystem::path& data_file) {
  std::error_code ignored;
  std::filesystem::remove(data_file, ignored);
  std::filesystem::remove(LogFileFor(data_file), ignored);
  std::filesystem::remove(data_file.string() + "-shm", ignored);
}

void RecordNewObject(sqlite3* db, const std::string& schema, const std::string& name,
                     std::string_view xtype) {
  std::string quoted_schema = "\"";
  for (char c : schema) quoted_schema += c == '"' ? std::string("\"\"") : std::string(1, c);
  std::string objects = quoted_schema + "\"." + kObjectsTable;
  // Ids go up by 16 from where SQL Server's first user objects start.
  PreparedStatement insert = Prepare(
      db, "INSERT INTO " + objects +
              " (id, name, xtype, crdate) SELECT coalesce(max(id), 2009058193) + 16, ?, ?, ? "
              "FROM " +
              objects);
  std::string type(xtype);
  std::string now = CurrentTimestamp();
  sqlite3_bind_text(insert.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(insert.get(), 2, type.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(insert.get(), 3, now.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(insert.get()) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
}

}  // namespace sqlengine::catalog
