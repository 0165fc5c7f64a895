#pragma once
// What attaching, detaching, restoring and shrinking share: turning the
// paths users write into files, checking that a file is one of our data
// files, closing one so it stands on its own, and holding a database to
// oneself while its files change.

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "engine/catalog/master_catalog.h"
#include "engine/common/sink.h"

namespace sqlengine::exec {

class EngineImpl;
class Session;

// `written` as a full path: relative paths are taken inside `base`.
std::filesystem::path ResolveUserPath(std::string_view written, const std::filesystem::path& base);

// Held while files are placed and registered (attach, create at a path,
// restore, detach), so two such statements never claim the same file or
// name at once. Never held while waiting for other sessions.
std::mutex& FilePlacementMutex();

// The file name the catalog stores: relative when inside the data folder.
std::string CatalogFileName(const EngineImpl& engine, const std::filesystem::path& data_file);

// The registered database whose data file is `data_file`, if any.
std::optional<catalog::DatabaseEntry> DatabaseUsingFile(EngineImpl& engine,
                                                        const std::filesystem::path& data_file);

// Whether writing `file` would overwrite one the instance lives on: a
// registered database's data or log file (or SQLite's companions of them),
// a data or log file in the data folder, anything in the log or TLS folders,
// or a file directly in the home (the lock and port files). Symbolic and hard
// links to them count.
bool IsInstanceFile(EngineImpl& engine, const std::filesystem::path& file);

// Checks that `data_file` is a data file of ours (SQLite, 8 KB pages, the
// engine's bookkeeping table, passing a quick check), changing nothing in
// it. Throws std::runtime_error saying what is wrong.
void CheckDataFile(const std::filesystem::path& data_file);

// Puts the data file in WAL mode (its log is its log file) and closes it.
// Throws std::runtime_error.
void UseWriteAheadLog(const std::filesystem::path& data_file);

// CheckDataFile, then UseWriteAheadLog.
void VerifyDataFile(const std::filesystem::path& data_file);

// Checkpoints everything in the log into the data file, switches it to a
// rollback journal so it opens on its own with any SQLite, and closes it:
// the log is left empty. No other connection may have it open. Throws
// std::runtime_error.
void CloseStandalone(const std::filesystem::path& data_file);

// Holds a database for the caller alone while its files change: the
// caller's own session is moved to master when it is in the database, then
// nobody else may be using it or the constructor throws `busy_error`
// (3703: "database", name). Other sessions cannot enter until destruction.
class ExclusiveUse {
 public:
  ExclusiveUse(Session& session, const std::string& database, ResultSink& sink, int line,
               int busy_error);
  ~ExclusiveUse();
  ExclusiveUse(const ExclusiveUse&) = delete;
  ExclusiveUse& operator=(const ExclusiveUse&) = delete;

 private:
  Session& session_;
  std::string database_;
};

// Holds a use of a database (as a session's current database does) so it
// is not dropped, detached or restored over meanwhile.
class UseHold {
 public:
  UseHold(EngineImpl& engine, std::string database);
  ~UseHold();
  UseHold(const UseHold&) = delete;
  UseHold& operator=(const UseHold&) = delete;
  // False when the database was being removed or replaced.
  bool Held() const { return held_; }

 private:
  EngineImpl& engine_;
  std::string database_;
  bool held_;
};

}  // namespace sqlengine::exec
