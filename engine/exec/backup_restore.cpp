#include "engine/exec/backup_restore.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>

#include "engine/catalog/backup_file.h"
#include "engine/catalog/data_file.h"
#include "engine/catalog/log_name_vfs.h"
#include "engine/catalog/sqlite_handle.h"
#include "engine/common/error.h"
#include "engine/exec/data_file_upgrade.h"
#include "engine/exec/database_files.h"
#include "engine/exec/database_options.h"
#include "engine/exec/engine_impl.h"
#include "engine/exec/file_statement_syntax.h"
#include "engine/exec/server_statements.h"
#include "engine/exec/session.h"
#include "engine/exec/sql_functions.h"
#include "engine/exec/value_conversion.h"

namespace sqlengine::exec {
namespace {

constexpr std::int64_t kPageSize = 8192;

struct Options {
  bool init = false;
  bool replace = false;
  int file = 1;
  int stats = 0;  // percent step; 0: no progress messages
  std::string name;
  std::string description;
  std::map<std::string, std::string> moves;  // lower-case logical name -> path
};

// DISK = 'path' [, DISK = 'path' ...]: the first device.
std::string ReadDevice(TokenCursor& cursor) {
  std::string path;
  do {
    if (!cursor.TakeWord("disk")) cursor.Fail();
    cursor.ExpectSymbol("=");
    std::string device = cursor.Text();
    if (path.empty()) path = device;
  } while (cursor.TakeSymbol(","));
  return path;
}

Options ReadOptions(TokenCursor& cursor) {
  Options options;
  if (!cursor.TakeWord("with")) {
    cursor.ExpectEnd();
    return options;
  }
  do {
    if (cursor.TakeWord("init") || cursor.TakeWord("format")) {
      options.init = true;
    } else if (cursor.TakeWord("noinit") || cursor.TakeWord("noformat") ||
               cursor.TakeWord("skip") || cursor.TakeWord("noskip") ||
               cursor.TakeWord("recovery") || cursor.TakeWord("norewind") ||
               cursor.TakeWord("nounload") || cursor.TakeWord("rewind") ||
               cursor.TakeWord("unload") || cursor.TakeWord("restart") ||
               cursor.TakeWord("checksum") || cursor.TakeWord("no_truncate") ||
               cursor.TakeWord("norecovery")) {
    } else if (cursor.TakeWord("replace")) {
      options.replace = true;
    } else if (cursor.TakeWord("stats")) {
      options.stats = 10;
      if (cursor.TakeSymbol("=")) options.stats = static_cast<int>(cursor.Integer());
      if (options.stats <= 0 || options.stats > 100) options.stats = 10;
    } else if (cursor.TakeWord("file")) {
      cursor.ExpectSymbol("=");
      options.file = static_cast<int>(cursor.Integer());
    } else if (cursor.TakeWord("name")) {
      cursor.ExpectSymbol("=");
      options.name = cursor.Name();
    } else if (cursor.TakeWord("description")) {
      cursor.ExpectSymbol("=");
      options.description = cursor.Text();
    } else if (cursor.TakeWord("move")) {
      std::string logical = cursor.Text();
      cursor.ExpectWord("to");
      options.moves[tsql::ToLower(logical)] = cursor.Text();
    } else if (cursor.Peek().kind == tsql::TokenKind::kWord) {
      // MEDIANAME, EXPIREDATE, RETAINDAYS, PASSWORD ...: accepted and ignored.
      cursor.Skip();
      cursor.ExpectSymbol("=");
      cursor.Skip();
    } else {
      cursor.Fail();
    }
  } while (cursor.TakeSymbol(","));
  cursor.ExpectEnd();
  return options;
}

std::filesystem::path BackupPath(Session& session, const std::string& written) {
  std::filesystem::path folder = session.Engine().Layout().Root() / "backup";
  std::error_code ignored;
  std::filesystem::create_directories(folder, ignored);
  return ResolveUserPath(written, folder);
}

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "localhost";
  return name;
}

std::string ThreeDecimals(std::int64_t thousandths) {
  char text[40];
  std::snprintf(text, sizeof text, "%lld.%03lld", static_cast<long long>(thousandths / 1000),
                static_cast<long long>(thousandths % 1000));
  return text;
}

ServerMessage Completed(std::string_view statement, std::int64_t pages,
                        std::chrono::steady_clock::time_point start) {
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  double rate = seconds > 0 ? static_cast<double>(pages * kPageSize) / 1048576.0 / seconds : 0;
  std::string seconds_text = ThreeDecimals(static_cast<std::int64_t>(seconds * 1000));
  std::string rate_text = ThreeDecimals(static_cast<std::int64_t>(rate * 1000));
  size_t dot = seconds_text.find('.');
  size_t rate_dot = rate_text.find('.');
  return FormatMessage(3014, {statement, std::to_string(pages), seconds_text.substr(0, dot),
                              seconds_text.substr(dot + 1), rate_text.substr(0, rate_dot),
                              rate_text.substr(rate_dot + 1)});
}

void SendProgress(ResultSink& sink, int step, std::string_view done_word) {
  if (step <= 0) return;
  for (int percent = step; percent <= 100; percent += step) {
    sink.Message(FormatMessage(3211, {std::to_string(percent), done_word}));
  }
}

void SendProcessed(ResultSink& sink, const catalog::BackupSetHeader& header,
                   const std::string& database) {
  auto pages = static_cast<std::int64_t>(header.image_size) / kPageSize;
  sink.Message(FormatMessage(4035, {std::to_string(pages), database, header.data_logical_name,
                                    std::to_string(header.position)}));
  sink.Message(FormatMessage(
      4035, {"0", database, header.log_logical_name, std::to_string(header.position)}));
}

// A temporary file removed on every way out.
class ScratchFile {
 public:
  explicit ScratchFile(std::filesystem::path path) : path_(std::move(path)) { Remove(); }
  ~ScratchFile() { Remove(); }
  const std::filesystem::path& Path() const { return path_; }
  void Keep() { path_.clear(); }

 private:
  void Remove() {
    if (path_.empty()) return;
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
    std::filesystem::remove(path_.string() + "-journal", ignored);
    std::filesystem::remove(path_.string() + "-wal", ignored);
    std::filesystem::remove(path_.string() + "-shm", ignored);
  }
  std::filesystem::path path_;
};

// Removes the scratch files "<file>.<purpose>-<pid>[-n]" that a process
// which no longer runs (killed in the middle) left beside `file`.
void RemoveStaleScratch(const std::filesystem::path& file) {
  std::string prefix = file.filename().string() + ".";
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(file.parent_path(), ignored)) {
    std::string name = entry.path().filename().string();
    if (name.rfind(prefix, 0) != 0) continue;
    std::string rest = name.substr(prefix.size());
    size_t dash = rest.find('-');
    std::string_view purpose = std::string_view(rest).substr(0, dash);
    if (dash == std::string::npos || (purpose != "image" && purpose != "partial" &&
                                      purpose != "verify" && purpose != "restoring")) {
      continue;
    }
    pid_t pid = static_cast<pid_t>(std::strtol(rest.c_str() + dash + 1, nullptr, 10));
    if (pid > 0 && pid != ::getpid() && ::kill(pid, 0) != 0 && errno == ESRCH) {
      std::filesystem::remove(entry.path(), ignored);
    }
  }
}

std::filesystem::path ScratchBeside(const std::filesystem::path& file, std::string_view purpose) {
  RemoveStaleScratch(file);
  std::filesystem::path scratch = file;
  static std::atomic<int> next{1};
  scratch +=
      "." + std::string(purpose) + "-" + std::to_string(::getpid()) + "-" + std::to_string(next++);
  return scratch;
}

// The database a BACKUP statement names, once the session may back it up:
// 911 for an unknown one, 262 without the right, 3147 and 3013 for tempdb.
std::optional<catalog::DatabaseEntry> DatabaseToBackUp(Session& session, const std::string& name,
                                                       Access access, ResultSink& sink) {
  std::optional<catalog::DatabaseEntry> entry = session.Engine().FindDatabase(name);
  if (!entry) throw MakeError(911, {name});
  session.Rights().RequireStatementRight(*entry, access);
  if (tsql::EqualsIgnoreCase(entry->name, "tempdb")) {
    sink.Message(FormatMessage(3147));
    throw MakeError(3013, {access == Access::kBackupLog ? "BACKUP LOG" : "BACKUP DATABASE"});
  }
  return entry;
}

void BackupDatabase(Session& session, TokenCursor& cursor, ResultSink& sink) {
  auto start = std::chrono::steady_clock::now();
  std::string name = cursor.Name();
  cursor.ExpectWord("to");
  std::string device = ReadDevice(cursor);
  Options options = ReadOptions(cursor);
  EngineImpl& engine = session.Engine();
  std::optional<catalog::DatabaseEntry> entry =
      DatabaseToBackUp(session, name, Access::kBackupDatabase, sink);
  UseHold hold(engine, entry->name);
  if (!hold.Held()) throw MakeError(911, {name});
  std::filesystem::path path = BackupPath(session, device);
  std::filesystem::path data_file = engine.DataFileOf(*entry);
  // SQL Server cannot open a file it holds open as a backup device; here a
  // backup must not overwrite a file the instance lives on either.
  if (IsInstanceFile(engine, path)) {
    engine.EngineLog().Info("backup of " + entry->name + " to " + path.string() +
                            " refused: the instance uses that file");
    sink.Message(FormatMessage(3201, {path.string()}));
    throw MakeError(3013, {"BACKUP DATABASE"});
  }
  ScratchFile image(ScratchBeside(path, "image"));
  catalog::BackupSetHeader header;
  header.database_name = entry->name;
  header.backup_name = options.name;
  header.description = options.description;
  header.user_name = session.Login().name;
  header.server_name = HostName();
  header.database_created = entry->crdate;
  header.data_logical_name = entry->name;
  header.log_logical_name = entry->name + "_log";
  header.data_physical_name = data_file.string();
  header.log_physical_name = catalog::LogFileFor(data_file).string();
  header.compatibility_level = entry->cmptlevel;
  header.backup_start = catalog::CurrentTimestamp();
  try {
    catalog::Connection db = catalog::OpenDataFile(data_file);
    // SQLite reads a schema whose computed columns call the engine's
    // functions only with them known.
    RegisterSessionFreeFunctions(db.get());
    // The first connection to open the file, or the last to close it, holds it
    // for a moment (log recovery, the closing checkpoint): wait as sessions do.
    sqlite3_busy_timeout(db.get(),
                         static_cast<int>(SessionConnection::kLockTimeout.count() * 1000));
    catalog::PreparedStatement snapshot = catalog::Prepare(db.get(), "VACUUM INTO ?");
    std::string image_name = image.Path().string();
    sqlite3_bind_text(snapshot.get(), 1, image_name.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(snapshot.get()) != SQLITE_DONE)
      throw std::runtime_error(sqlite3_errmsg(db.get()));
    header.backup_finish = catalog::CurrentTimestamp();
    // Sets appended to one file by two sessions at once must both stay.
    static std::mutex writing;
    std::lock_guard lock(writing);
    header = catalog::WriteBackupSet(path, !options.init, header, image.Path());
  } catch (const std::runtime_error& failure) {
    engine.EngineLog().Info("backup of " + entry->name + " to " + path.string() +
                            " failed: " + failure.what());
    sink.Message(FormatMessage(3201, {path.string()}));
    throw MakeError(3013, {"BACKUP DATABASE"});
  }
  SendProgress(sink, options.stats, "backed up");
  SendProcessed(sink, header, entry->name);
  sink.Message(Completed("BACKUP DATABASE",
                         static_cast<std::int64_t>(header.image_size) / kPageSize, start));
  sink.Done(StatementDone{});
}

// BACKUP LOG db { TO DISK = 'path' [WITH ...] | WITH TRUNCATE_ONLY | NO_LOG }.
// A database's log is its write-ahead file, folded into the data file at
// each checkpoint: there is never a chain of log records a log backup could
// hold and a restore replay. TRUNCATE_ONLY and NO_LOG fold it in now (as far
// as readers of other sessions allow, without waiting for them) and write
// nothing, as in SQL Server. A log backup to a device is refused as SQL
// Server refuses one without a chain: 4208 under the SIMPLE recovery model,
// else 4214 (no database backup here starts a chain), each then 3013; no
// file is written.
void BackupLog(Session& session, TokenCursor& cursor, ResultSink& sink) {
  std::string name = cursor.Name();
  bool to_device = cursor.TakeWord("to");
  if (to_device) {
    ReadDevice(cursor);
    ReadOptions(cursor);
  } else {
    cursor.ExpectWord("with");
    if (!cursor.TakeWord("truncate_only") && !cursor.TakeWord("no_log")) cursor.Fail();
    cursor.ExpectEnd();
  }
  EngineImpl& engine = session.Engine();
  std::optional<catalog::DatabaseEntry> entry =
      DatabaseToBackUp(session, name, Access::kBackupLog, sink);
  if (to_device) {
    std::optional<Value> model = DatabaseProperty(engine, entry->name, "Recovery", true);
    const std::string* text = model ? std::get_if<std::string>(&*model) : nullptr;
    if (text != nullptr && *text == "SIMPLE") {
      sink.Message(FormatMessage(4208, {"BACKUP LOG"}));
    } else {
      sink.Message(FormatMessage(4214));
    }
    throw MakeError(3013, {"BACKUP LOG"});
  }
  UseHold hold(engine, entry->name);
  if (!hold.Held()) throw MakeError(911, {name});
  try {
    catalog::Connection db = catalog::OpenDataFile(engine.DataFileOf(*entry));
    RegisterSessionFreeFunctions(db.get());
    sqlite3_busy_timeout(db.get(),
                         static_cast<int>(SessionConnection::kLockTimeout.count() * 1000));
    // The PRAGMA reads the file first: a checkpoint asked of a connection
    // that has read nothing yet does not know the file has a log, and
    // copies nothing.
    char* failure = nullptr;
    if (sqlite3_exec(db.get(), "PRAGMA main.wal_checkpoint(PASSIVE)", nullptr, nullptr,
                     &failure) != SQLITE_OK) {
      std::string text = failure ? failure : sqlite3_errmsg(db.get());
      sqlite3_free(failure);
      throw std::runtime_error(text);
    }
  } catch (const std::runtime_error& failure) {
    engine.EngineLog().Info("log truncation of " + entry->name + " failed: " + failure.what());
    throw MakeError(3013, {"BACKUP LOG"});
  }
  sink.Done(StatementDone{});
}

struct ChosenSet {
  std::filesystem::path path;
  catalog::BackupSet set;
};

ChosenSet ReadChosenSet(Session& session, const std::string& device, int file, ResultSink& sink,
                        std::string_view statement) {
  ChosenSet chosen{BackupPath(session, device), {}};
  std::vector<catalog::BackupSet> sets;
  try {
    sets = catalog::ReadBackupSets(chosen.path);
  } catch (const std::runtime_error& failure) {
    session.Engine().EngineLog().Info(std::string("cannot read backup: ") + failure.what());
    sink.Message(FormatMessage(3201, {chosen.path.string()}));
    throw MakeError(3013, {statement});
  }
  if (file < 1 || static_cast<size_t>(file) > sets.size()) {
    sink.Message(FormatMessage(3201, {chosen.path.string()}));
    throw MakeError(3013, {statement});
  }
  chosen.set = sets[static_cast<size_t>(file) - 1];
  return chosen;
}

Value DateValue(const std::string& text) {
  std::optional<DateTime> parsed = ParseDateTimeText(text);
  return parsed ? Value(*parsed) : Value();
}

Value Numeric(std::uint64_t number) { return Decimal{static_cast<__int128>(number), 0}; }

ColumnType NVarChar(int length) { return ColumnType{SqlType::kNVarChar, length}; }
ColumnType NumericColumn() { return ColumnType{SqlType::kDecimal, 0, 20, 0}; }

void HeaderOnly(Session& session, const std::string& device, ResultSink& sink) {
  std::vector<catalog::BackupSet> sets;
  std::filesystem::path path = BackupPath(session, device);
  try {
    sets = catalog::ReadBackupSets(path);
  } catch (const std::runtime_error&) {
    sink.Message(FormatMessage(3201, {path.string()}));
    throw MakeError(3013, {"RESTORE HEADERONLY"});
  }
  sink.BeginResult({{"BackupName", NVarChar(128)},
                    {"BackupDescription", NVarChar(255)},
                    {"BackupType", ColumnType{SqlType::kSmallInt}},
                    {"ExpirationDate", ColumnType{SqlType::kDateTime}},
                    {"Compressed", ColumnType{SqlType::kTinyInt}},
                    {"Position", ColumnType{SqlType::kSmallInt}},
                    {"DeviceType", ColumnType{SqlType::kTinyInt}},
                    {"UserName", NVarChar(128)},
                    {"ServerName", NVarChar(128)},
                    {"DatabaseName", NVarChar(128)},
                    {"DatabaseVersion", ColumnType{SqlType::kInt}},
                    {"DatabaseCreationDate", ColumnType{SqlType::kDateTime}},
                    {"BackupSize", NumericColumn()},
                    {"BackupStartDate", ColumnType{SqlType::kDateTime}},
                    {"BackupFinishDate", ColumnType{SqlType::kDateTime}},
                    {"CompatibilityLevel", ColumnType{SqlType::kTinyInt}},
                    {"MachineName", NVarChar(128)}});
  for (const catalog::BackupSet& set : sets) {
    const catalog::BackupSetHeader& h = set.header;
    sink.AddRow({h.backup_name.empty() ? Value() : Value(h.backup_name),
                 h.description.empty() ? Value() : Value(h.description), std::int64_t{1}, Value(),
                 std::int64_t{0}, std::int64_t{h.position}, std::int64_t{2}, h.user_name,
                 h.server_name, h.database_name, std::int64_t{539}, DateValue(h.database_created),
                 Numeric(h.image_size + catalog::kBackupHeaderSize), DateValue(h.backup_start),
                 DateValue(h.backup_finish), std::int64_t{h.compatibility_level}, h.server_name});
  }
  sink.Done(StatementDone{});
}

void FileListOnly(Session& session, const std::string& device, int file, ResultSink& sink) {
  ChosenSet chosen = ReadChosenSet(session, device, file, sink, "RESTORE FILELISTONLY");
  const catalog::BackupSetHeader& h = chosen.set.header;
  sink.BeginResult({{"LogicalName", NVarChar(128)},
                    {"PhysicalName", NVarChar(260)},
                    {"Type", ColumnType{SqlType::kChar, 1}},
                    {"FileGroupName", NVarChar(128)},
                    {"Size", NumericColumn()},
                    {"MaxSize", NumericColumn()}});
  constexpr std::uint64_t kUnlimited = 35184372080640;
  sink.AddRow({h.data_logical_name, h.data_physical_name, std::string("D"), std::string("PRIMARY"),
               Numeric(h.image_size), Numeric(kUnlimited)});
  sink.AddRow({h.log_logical_name, h.log_physical_name, std::string("L"), Value(), Numeric(0),
               Numeric(kUnlimited)});
  sink.Done(StatementDone{});
}

// The image of `chosen` checked as a data file at `scratch` (left there).
void ExtractVerified(const ChosenSet& chosen, const std::filesystem::path& scratch) {
  catalog::ExtractBackupImage(chosen.path, chosen.set, scratch);
  VerifyDataFile(scratch);
}

void VerifyOnly(Session& session, const std::string& device, int file, ResultSink& sink) {
  ChosenSet chosen = ReadChosenSet(session, device, file, sink, "RESTORE VERIFYONLY");
  ScratchFile scratch(ScratchBeside(chosen.path, "verify"));
  try {
    ExtractVerified(chosen, scratch.Path());
  } catch (const std::runtime_error& failure) {
    session.Engine().EngineLog().Info(std::string("backup set does not verify: ") + failure.what());
    sink.Message(FormatMessage(3201, {chosen.path.string()}));
    throw MakeError(3013, {"RESTORE VERIFYONLY"});
  }
  sink.Message(FormatMessage(3262));
  sink.Done(StatementDone{});
}

// Puts the verified image at `target`: whatever log the old file had there
// belongs to the old file and goes.
void PutInPlace(const std::filesystem::path& scratch, const std::filesystem::path& target) {
  std::error_code ignored;
  std::filesystem::remove(target.string() + "-shm", ignored);
  std::filesystem::path log = catalog::LogFileFor(target);
  if (std::filesystem::exists(log, ignored)) std::filesystem::resize_file(log, 0);
  std::filesystem::rename(scratch, target);
  catalog::EnsureLogFile(target);
}

void RestoreDatabase(Session& session, TokenCursor& cursor, int line, ResultSink& sink) {
  auto start = std::chrono::steady_clock::now();
  std::string name = cursor.Name();
  cursor.ExpectWord("from");
  std::string device = ReadDevice(cursor);
  Options options = ReadOptions(cursor);
  EngineImpl& engine = session.Engine();
  if (!session.IsSysadmin() && !engine.Catalog().IsRoleMember("dbcreator", session.Login().name)) {
    throw MakeError(3110, {name});
  }
  RequireValidDatabaseName(name);
  ChosenSet chosen = ReadChosenSet(session, device, options.file, sink, "RESTORE DATABASE");
  const catalog::BackupSetHeader& header = chosen.set.header;
  std::lock_guard placing(FilePlacementMutex());
  std::optional<catalog::DatabaseEntry> existing = engine.FindDatabase(name);
  auto fail = [&](ServerMessage cause) {
    sink.Message(cause);
    return MakeError(3013, {"RESTORE DATABASE"});
  };
  // The running instance keeps the system databases open; replacing their
  // files underneath it would corrupt them.
  if (tsql::EqualsIgnoreCase(name, "tempdb")) throw fail(FormatMessage(3147));
  if (existing && (tsql::EqualsIgnoreCase(existing->name, "master") ||
                   tsql::EqualsIgnoreCase(existing->name, "model") ||
                   tsql::EqualsIgnoreCase(existing->name, "msdb"))) {
    throw fail(FormatMessage(3108));
  }
  if (existing && !options.replace &&
      !tsql::EqualsIgnoreCase(header.database_name, existing->name)) {
    throw fail(FormatMessage(3154, {existing->name}));
  }
  std::filesystem::path target =
      existing ? engine.DataFileOf(*existing) : engine.Layout().DataFolder() / (name + ".mdf");
  for (const auto& [logical, path] : options.moves) {
    if (tsql::EqualsIgnoreCase(logical, header.data_logical_name)) {
      target = ResolveUserPath(path, engine.Layout().DataFolder());
    } else if (!tsql::EqualsIgnoreCase(logical, header.log_logical_name)) {
      throw fail(FormatMessage(3234, {logical, header.database_name}));
    }
  }
  std::optional<catalog::DatabaseEntry> owner = DatabaseUsingFile(engine, target);
  bool own_file = existing && owner && owner->dbid == existing->dbid;
  std::error_code ignored;
  if ((owner && !own_file) ||
      (!own_file && !options.replace && std::filesystem::exists(target, ignored))) {
    throw fail(FormatMessage(3156, {header.data_logical_name, target.string()}));
  }
  std::optional<ExclusiveUse> exclusive;
  if (existing) {
    try {
      exclusive.emplace(session, existing->name, sink, line, 3101);
    } catch (const SqlError& busy) {
      throw fail(busy.message());
    }
  }
  ScratchFile scratch(ScratchBeside(target, "restoring"));
  try {
    ExtractVerified(chosen, scratch.Path());
    // A backup made by an earlier version holds a file of its format.
    if (std::optional<FormatUpgrade> upgrade =
            UpgradeDataFile(scratch.Path(), UpgradeCopy::kNone)) {
      engine.EngineLog().Info(UpgradeReport(scratch.Path(), *upgrade));
      for (const std::string& note : upgrade->notes) sink.Message(UpgradeNotice(name, note));
    }
  } catch (const std::runtime_error& failure) {
    engine.EngineLog().Info("restore of " + name + " failed: " + failure.what());
    throw fail(FormatMessage(3201, {chosen.path.string()}));
  }
  try {
    PutInPlace(scratch.Path(), target);
    engine.SecurityChanged();  // the file brings its own users and permissions
    scratch.Keep();
  } catch (const std::exception& failure) {
    engine.EngineLog().Info("restore of " + name + " failed: " + failure.what());
    throw fail(FormatMessage(3156, {header.data_logical_name, target.string()}));
  }
  if (!existing) {
    try {
      engine.Catalog().AddDatabase(name, CatalogFileName(engine, target), session.Login().sid);
    } catch (const SqlError& taken) {
      catalog::RemoveDataFiles(target);
      throw fail(taken.message());
    }
  } else if (!own_file) {
    std::filesystem::path old_file = engine.DataFileOf(*existing);
    engine.Catalog().RemoveDatabase(existing->name);
    engine.Catalog().AddDatabase(existing->name, CatalogFileName(engine, target),
                                 existing->owner_sid);
    catalog::RemoveDataFiles(old_file);
  }
  engine.EngineLog().Info("restored database " + name + " from " + chosen.path.string());
  SendProgress(sink, options.stats, "restored");
  SendProcessed(sink, header, name);
  sink.Message(Completed("RESTORE DATABASE",
                         static_cast<std::int64_t>(header.image_size) / kPageSize, start));
  sink.Done(StatementDone{});
}

}  // namespace

void ExecuteBackup(Session& session, const tsql::Statement& statement, ResultSink& sink) {
  TokenCursor cursor(statement.tokens, session, 1);
  // DUMP DATABASE and DUMP TRANSACTION are BACKUP DATABASE and BACKUP LOG.
  bool dump = statement.tokens.front().IsWord("dump");
  if (dump ? cursor.TakeWord("transaction") || cursor.TakeWord("tran") : cursor.TakeWord("log")) {
    BackupLog(session, cursor, sink);
    return;
  }
  if (!cursor.TakeWord("database")) cursor.Fail();
  BackupDatabase(session, cursor, sink);
}

void ExecuteRestore(Session& session, const tsql::Statement& statement, ResultSink& sink) {
  TokenCursor cursor(statement.tokens, session, 1);
  if (cursor.TakeWord("database")) {
    RestoreDatabase(session, cursor, statement.line, sink);
    return;
  }
  bool headers = cursor.TakeWord("headeronly");
  bool files = !headers && cursor.TakeWord("filelistonly");
  if (!headers && !files && !cursor.TakeWord("verifyonly")) cursor.Fail();
  cursor.ExpectWord("from");
  std::string device = ReadDevice(cursor);
  Options options = ReadOptions(cursor);
  if (headers) {
    HeaderOnly(session, device, sink);
  } else if (files) {
    FileListOnly(session, device, options.file, sink);
  } else {
    VerifyOnly(session, device, options.file, sink);
  }
}

}  // namespace sqlengine::exec
