#include "engine/exec/database_files.h"

#include <stdexcept>

#include "engine/catalog/data_file.h"
#include "engine/catalog/log_name_vfs.h"
#include "engine/catalog/sqlite_handle.h"
#include "engine/common/error.h"
#include "engine/exec/engine_impl.h"
#include "engine/exec/sql_functions.h"
#include "engine/exec/session.h"

namespace sqlengine::exec {

std::filesystem::path ResolveUserPath(std::string_view written, const std::filesystem::path& base) {
  std::filesystem::path path(written);
  return (path.is_absolute() ? path : base / path).lexically_normal();
}

std::mutex& FilePlacementMutex() {
  static std::mutex mutex;
  return mutex;
}

std::string CatalogFileName(const EngineImpl& engine, const std::filesystem::path& data_file) {
  std::filesystem::path folder = engine.Layout().DataFolder().lexically_normal();
  std::filesystem::path normal = data_file.lexically_normal();
  if ((normal.parent_path() / "").lexically_normal() == folder) return normal.filename().string();
  return normal.string();
}

std::optional<catalog::DatabaseEntry> DatabaseUsingFile(EngineImpl& engine,
                                                        const std::filesystem::path& data_file) {
  std::error_code ignored;
  for (const catalog::DatabaseEntry& entry : engine.Catalog().Databases()) {
    std::filesystem::path used = engine.DataFileOf(entry);
    if (used.lexically_normal() == data_file.lexically_normal() ||
        std::filesystem::equivalent(used, data_file, ignored)) {
      return entry;
    }
  }
  return std::nullopt;
}

bool IsInstanceFile(EngineImpl& engine, const std::filesystem::path& file) {
  namespace fs = std::filesystem;
  auto resolved = [](const fs::path& path) {
    std::error_code failed;
    fs::path canonical = fs::weakly_canonical(path, failed);
    return failed ? path.lexically_normal() : canonical;
  };
  fs::path target = resolved(file);
  auto is = [&](const fs::path& other) {
    std::error_code ignored;
    return resolved(other) == target || fs::equivalent(other, file, ignored);
  };
  const fs::path& root = engine.Layout().Root();
  std::error_code ignored;
  for (const fs::directory_entry& entry : fs::directory_iterator(root, ignored)) {
    if (!entry.is_directory(ignored) && is(entry.path())) return true;
  }
  for (const char* folder : {"log", "tls"}) {
    fs::path held = resolved(root / folder);
    fs::path inside = target.lexically_relative(held);
    if (!inside.empty() && *inside.begin() != ".." && *inside.begin() != ".") return true;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(held, ignored)) {
      if (!entry.is_directory(ignored) && is(entry.path())) return true;
    }
  }
  // The data folder's data and log files, whether registered or not (a
  // backup may still go there under a name of its own).
  for (const fs::directory_entry& entry :
       fs::directory_iterator(engine.Layout().DataFolder(), ignored)) {
    std::string name = entry.path().filename().string();
    bool database_file = name.ends_with(".mdf") || name.ends_with(".ldf") ||
                         name.find(".mdf-") != std::string::npos ||
                         name.find(".ldf-") != std::string::npos;
    if (database_file && is(entry.path())) return true;
  }
  for (const catalog::DatabaseEntry& entry : engine.Catalog().Databases()) {
    fs::path data = engine.DataFileOf(entry);
    for (const fs::path& used : {data, catalog::LogFileFor(data)}) {
      if (is(used)) return true;
      for (const char* companion : {"-wal", "-shm", "-journal"}) {
        fs::path beside = used;
        beside += companion;
        if (is(beside)) return true;
      }
    }
  }
  return false;
}

namespace {

std::string Text(sqlite3* db, const char* sql) {
  catalog::PreparedStatement statement = catalog::Prepare(db, sql);
  if (sqlite3_step(statement.get()) != SQLITE_ROW) throw std::runtime_error(sqlite3_errmsg(db));
  return catalog::ColumnText(statement.get(), 0);
}

}  // namespace

void CheckDataFile(const std::filesystem::path& data_file) {
  catalog::Connection db = catalog::OpenDataFile(data_file);
  // Computed columns call the engine's functions: SQLite reads the schema
  // only with them known.
  RegisterSessionFreeFunctions(db.get());
  if (Text(db.get(), "PRAGMA page_size") != "8192") throw std::runtime_error("not 8 KB pages");
  std::string sql =
      std::string("SELECT count(*) FROM sqlite_schema WHERE type = 'table' AND name = '") +
      catalog::kObjectsTable + "'";
  if (Text(db.get(), sql.c_str()) != "1")
    throw std::runtime_error("not a data file of this engine");
  catalog::Exec(db.get(), "PRAGMA ignore_check_constraints = 1");
  if (Text(db.get(), "PRAGMA quick_check(1)") != "ok")
    throw std::runtime_error("the data file is damaged");
}

void UseWriteAheadLog(const std::filesystem::path& data_file) {
  catalog::Connection db = catalog::OpenDataFile(data_file);
  RegisterSessionFreeFunctions(db.get());
  if (Text(db.get(), "PRAGMA journal_mode=WAL") != "wal")
    throw std::runtime_error("cannot open the log");
}

void VerifyDataFile(const std::filesystem::path& data_file) {
  CheckDataFile(data_file);
  UseWriteAheadLog(data_file);
}

void CloseStandalone(const std::filesystem::path& data_file) {
  catalog::Connection db = catalog::OpenDataFile(data_file);
  sqlite3_busy_timeout(db.get(), 5000);
  int frames = 0;
  int copied = 0;
  if (sqlite3_wal_checkpoint_v2(db.get(), "main", SQLITE_CHECKPOINT_TRUNCATE, &frames, &copied) !=
      SQLITE_OK) {
    throw std::runtime_error(sqlite3_errmsg(db.get()));
  }
  if (Text(db.get(), "PRAGMA journal_mode=DELETE") != "delete") {
    throw std::runtime_error("cannot leave write-ahead logging");
  }
  if (sqlite3_close(db.release()) != SQLITE_OK)
    throw std::runtime_error("cannot close " + data_file.string());
}

ExclusiveUse::ExclusiveUse(Session& session, const std::string& database, ResultSink& sink,
                           int line, int busy_error)
    : session_(session), database_(database) {
  if (tsql::EqualsIgnoreCase(session.CurrentDatabase(), database)) {
    session.UseDatabase("master", &sink, line);
  }
  session.Connection().Detach(database);
  if (!session.Engine().Usage().BeginExclusive(database, 0)) {
    if (busy_error == 3703) throw MakeError(3703, {"database", database});
    throw MakeError(busy_error);
  }
}

ExclusiveUse::~ExclusiveUse() { session_.Engine().Usage().EndExclusive(database_); }

UseHold::UseHold(EngineImpl& engine, std::string database)
    : engine_(engine), database_(std::move(database)), held_(engine_.Usage().Acquire(database_)) {}

UseHold::~UseHold() {
  if (held_) engine_.Usage().Release(database_);
}

}  // namespace sqlengine::exec
