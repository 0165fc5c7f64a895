#pragma once
// Server administration objects, implemented in T-SQL over the data access
// layer. Errors: Error(0x80040000 + server message number, server text) for
// server errors; see the individual operations for the others.

#include <memory>
#include <string>
#include <string_view>

#include "dbplatform/object.h"

namespace dbplatform {

class Table {
 public:
  virtual ~Table() = default;
  virtual std::string Name() const = 0;
};

class TableCollection {
 public:
  virtual ~TableCollection() = default;
  virtual int Count() = 0;
  virtual Table& Item(int position) = 0;  // 1-based
};

class Database {
 public:
  virtual ~Database() = default;
  virtual std::string Name() const = 0;
  virtual TableCollection& Tables() = 0;
  virtual void Remove() = 0;                    // drops the database
  virtual std::string PrimaryFilePath() = 0;    // folder of the primary data file, ending in "/"
};

// A snapshot of the server's databases, in the server's order (dbid).
class DatabaseCollection {
 public:
  virtual ~DatabaseCollection() = default;
  virtual int Count() = 0;
  virtual Database& Item(int position) = 0;           // 1-based
  virtual Database& Item(std::string_view name) = 0;  // ignoring letter case
};

class SQLServer : public AutomationObject {
 public:
  virtual void SetLoginTimeout(int seconds) = 0;
  // Starts the service for a server name that means this computer and then
  // connects. Throws Error(kServiceAlreadyRunning, "An instance of the service
  // is already running.") when a server already answers there.
  virtual void Start(bool start_mode, const std::string& server, const std::string& login,
                     const std::string& password) = 0;
  virtual void Connect(const std::string& server, const std::string& login,
                       const std::string& password) = 0;
  virtual void DisConnect() = 0;  // harmless when never connected
  virtual void Close() = 0;       // harmless when never connected
  // Fetched from the server at each call.
  virtual DatabaseCollection& Databases() = 0;
  // Returns the text of the server's messages (may be empty).
  virtual std::string AttachDB(const std::string& name, const std::string& data_file) = 0;
  virtual std::string DetachDB(const std::string& name, bool skip_checks) = 0;
};

class Backup : public AutomationObject {
 public:
  virtual void SetDatabase(const std::string& name) = 0;
  // STATS = n progress messages; 0 for none.
  virtual void SetPercentCompleteNotification(int percent) = 0;
  // NAME = text; empty for none.
  virtual void SetBackupSetName(const std::string& name) = 0;
  virtual void SetFiles(const std::string& path) = 0;
  // The exact statement SQLBackup runs.
  virtual std::string GenerateSQL() = 0;
  virtual void SQLBackup(SQLServer& server) = 0;
};

class Restore : public AutomationObject {
 public:
  // The database the backup holds.
  virtual void SetDatabase(const std::string& name) = 0;
  // The database to restore into; empty means Database + "_NEW", so that a
  // restore never overwrites the database that was backed up.
  virtual void SetRestoreAs(const std::string& name) = 0;
  virtual void SetFiles(const std::string& path) = 0;
  // Allow replacing an existing database of the target name.
  virtual void SetReplaceDatabase(bool replace) = 0;
  virtual std::string GenerateSQL() = 0;
  virtual void SQLRestore(SQLServer& server) = 0;
};

class FileSystemObject : public AutomationObject {
 public:
  virtual bool FileExists(const std::string& path) = 0;
  // Errors: 53 "File not found", 58 "File already exists" (overwrite false),
  // 70 "Permission denied".
  virtual void CopyFile(const std::string& source, const std::string& destination,
                        bool overwrite) = 0;
  virtual void DeleteFile(const std::string& path, bool force) = 0;
};

}  // namespace dbplatform
