#include "engine/exec/attach_detach.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/catalog/data_file.h"
#include "engine/catalog/log_name_vfs.h"
#include "engine/common/error.h"
#include "engine/exec/data_file_upgrade.h"
#include "engine/exec/database_files.h"
#include "engine/exec/engine_impl.h"
#include "engine/exec/file_statement_syntax.h"
#include "engine/exec/procedure_arguments.h"
#include "engine/exec/server_statements.h"
#include "engine/exec/session.h"
#include "engine/tsql/collation_names.h"

namespace sqlengine::exec {
namespace {

constexpr std::string_view kSystemDatabases[] = {"master", "model", "msdb", "tempdb"};

// Attaching a file takes a server role; a new database also a grant of
// CREATE DATABASE in master.
void RequireCreateRight(Session& session, bool attaching) {
  if (!attaching) return RequireCreateDatabaseRight(session);
  if (!session.IsSysadmin() &&
      !session.Engine().Catalog().IsRoleMember("dbcreator", session.Login().name)) {
    throw MakeError(262, {"CREATE DATABASE", "master"});
  }
}

// Checks that the caller may create a database called `name` and that the
// name is free; the data file's full path.
std::filesystem::path FileForNewDatabase(Session& session, const std::string& name,
                                         const std::string& written, bool attaching) {
  RequireCreateRight(session, attaching);
  RequireValidDatabaseName(name);
  if (session.Engine().FindDatabase(name)) throw MakeError(1801, {name});
  return ResolveUserPath(written, session.Engine().Layout().DataFolder());
}

ServerMessage Informational(ServerMessage message) {
  message.severity = 10;
  return message;
}

void RemoveStrayShm(const std::filesystem::path& data_file) {
  std::error_code ignored;
  std::filesystem::remove(data_file.string() + "-shm", ignored);
}

// A file the engine must be able to read and write, in a folder where it
// can create the log beside it; the operating system's reason otherwise.
std::optional<int> AccessProblem(const std::filesystem::path& data_file) {
  if (::access(data_file.c_str(), R_OK | W_OK) != 0) return errno;
  std::filesystem::path folder = data_file.parent_path();
  if (::access(folder.c_str(), W_OK | X_OK) != 0) return errno;
  return std::nullopt;
}

[[noreturn]] void FailAttach(ResultSink& sink, ServerMessage cause, const std::string& name) {
  sink.Message(cause);
  throw MakeError(1813, {name});
}

void Attach(Session& session, const std::string& name, const std::string& data_written,
            ResultSink& sink) {
  EngineImpl& engine = session.Engine();
  std::lock_guard placing(FilePlacementMutex());
  std::filesystem::path data_file = FileForNewDatabase(session, name, data_written, true);
  std::error_code ignored;
  if (!std::filesystem::is_regular_file(data_file, ignored)) {
    FailAttach(sink, FormatMessage(5105, {data_file.string()}), name);
  }
  if (std::optional<int> error = AccessProblem(data_file)) {
    FailAttach(
        sink,
        FormatMessage(5120, {data_file.string(), std::to_string(*error), std::strerror(*error)}),
        name);
  }
  if (DatabaseUsingFile(engine, data_file)) {
    FailAttach(sink, FormatMessage(1828, {data_file.string()}), name);
  }
  std::filesystem::path log_file = catalog::LogFileFor(data_file);
  bool had_log = std::filesystem::exists(log_file, ignored);
  std::vector<std::string> notes;
  try {
    // The upgrade runs before the file leaves its rollback journal: a
    // failing one leaves every byte of the file as it was.
    CheckDataFile(data_file);
    if (!had_log) catalog::EnsureLogFile(data_file);
    if (std::optional<FormatUpgrade> upgrade = UpgradeDataFile(data_file, UpgradeCopy::kKeep)) {
      engine.EngineLog().Info(UpgradeReport(data_file, *upgrade));
      notes = upgrade->notes;
    }
    UseWriteAheadLog(data_file);
  } catch (const std::runtime_error& failure) {
    if (!had_log) std::filesystem::remove(log_file, ignored);
    RemoveStrayShm(data_file);
    engine.EngineLog().Info("attach of " + data_file.string() + " refused: " + failure.what());
    FailAttach(sink, FormatMessage(5105, {data_file.string()}), name);
  }
  if (!had_log) {
    sink.Message(Informational(FormatMessage(5105, {log_file.string()})));
    sink.Message(Informational(FormatMessage(5182, {log_file.string()})));
  }
  try {
    engine.Catalog().AddDatabase(name, CatalogFileName(engine, data_file), session.Login().sid);
    engine.SecurityChanged();  // the file brings its own users and permissions
  } catch (...) {
    if (!had_log) std::filesystem::remove(log_file, ignored);
    throw;
  }
  engine.EngineLog().Info("attached database " + name + " from " + data_file.string());
  for (const std::string& note : notes) sink.Message(UpgradeNotice(name, note));
}

// One "( NAME = ..., FILENAME = '...', SIZE = ... )": the file name, if given.
std::optional<std::string> ReadFileSpec(TokenCursor& cursor) {
  std::optional<std::string> file_name;
  cursor.ExpectSymbol("(");
  do {
    if (cursor.TakeWord("filename")) {
      cursor.ExpectSymbol("=");
      file_name = cursor.Text();
      continue;
    }
    // NAME, SIZE, MAXSIZE, FILEGROWTH: accepted; the engine sizes files itself.
    if (cursor.Peek().kind != tsql::TokenKind::kWord) cursor.Fail();
    cursor.Skip();
    cursor.ExpectSymbol("=");
    if (cursor.AtEnd() || cursor.Peek().IsSymbol(",") || cursor.Peek().IsSymbol(")")) cursor.Fail();
    while (!cursor.AtEnd() && !cursor.Peek().IsSymbol(",") && !cursor.Peek().IsSymbol(")"))
      cursor.Skip();
  } while (cursor.TakeSymbol(","));
  cursor.ExpectSymbol(")");
  return file_name;
}

void CreateAt(Session& session, const std::string& name, const std::string& written,
              ResultSink& sink) {
  EngineImpl& engine = session.Engine();
  std::lock_guard placing(FilePlacementMutex());
  std::filesystem::path file = FileForNewDatabase(session, name, written, false);
  std::error_code ignored;
  if (std::filesystem::exists(file, ignored) ||
      std::filesystem::exists(catalog::LogFileFor(file), ignored)) {
    sink.Message(FormatMessage(5170, {file.string()}));
    throw MakeError(1802);
  }
  try {
    catalog::CreateDataFile(file);
  } catch (const std::runtime_error&) {
    int error = errno;
    sink.Message(FormatMessage(5123, {std::strerror(error), file.string()}));
    throw MakeError(1802);
  }
  try {
    engine.Catalog().AddDatabase(name, CatalogFileName(engine, file), session.Login().sid);
    engine.SecurityChanged();
  } catch (...) {
    catalog::RemoveDataFiles(file);
    throw;
  }
  engine.EngineLog().Info("created database " + name + " at " + file.string());
}

}  // namespace

void ExecuteCreateDatabaseWithFiles(Session& session, const tsql::Statement& statement,
                                    ResultSink& sink) {
  TokenCursor cursor(statement.tokens, session, 2);
  std::string name = cursor.Name();
  std::vector<std::string> files;
  if (cursor.TakeWord("on")) {
    cursor.TakeWord("primary");
    do {
      if (std::optional<std::string> file = ReadFileSpec(cursor)) files.push_back(*file);
    } while (cursor.TakeSymbol(","));
  }
  if (cursor.TakeWord("log")) {
    cursor.ExpectWord("on");
    do {
      ReadFileSpec(cursor);  // the log always lies beside its data file
    } while (cursor.TakeSymbol(","));
  }
  bool attach = false;
  if (cursor.TakeWord("for")) {
    cursor.ExpectWord("attach");
    attach = true;
  }
  if (cursor.TakeWord("collate")) {
    std::string collation = cursor.Name();
    if (!tsql::IsKnownCollation(collation)) throw MakeError(448, {collation});
    // Every database compares as the server's default collation does; one
    // meant to compare otherwise (_CS, _AI, _BIN) would answer its queries
    // as if it did not.
    ColumnType asked;
    tsql::ApplyCollation(collation, asked);
    if (!tsql::SameCollation(asked, ColumnType{})) {
      SqlError error = MakeError(8180);
      error.message().text += " This engine cannot run it: a database whose collation is " +
                              collation + " (databases compare as " +
                              tsql::CollationNameFor(ColumnType{}) + ").";
      throw error;
    }
  }
  cursor.ExpectEnd();
  if (attach) {
    if (files.empty()) throw MakeError(1829);
    Attach(session, name, files.front(), sink);
  } else if (files.empty()) {
    CreateAt(session, name, name + ".mdf", sink);
  } else {
    CreateAt(session, name, files.front(), sink);
  }
  sink.Done(StatementDone{});
}

void AttachDb(Session& session, const std::vector<CallArgument>& given, ResultSink& sink) {
  std::vector<std::string_view> parameters{"@dbname"};
  static const std::vector<std::string> kFileParameters = [] {
    std::vector<std::string> names;
    for (int i = 1; i <= 16; ++i) names.push_back("@filename" + std::to_string(i));
    return names;
  }();
  for (const std::string& parameter : kFileParameters) parameters.push_back(parameter);
  Arguments args("sp_attach_db", given, parameters);
  std::string name = args.Required(0, "sp_attach_db", "@dbname");
  if (!args[1]) throw MakeError(1829);
  Attach(session, name, *args[1], sink);
}

void AttachSingleFileDb(Session& session, const std::vector<CallArgument>& given,
                        ResultSink& sink) {
  Arguments args("sp_attach_single_file_db", given, {"@dbname", "@physname"});
  std::string name = args.Required(0, "sp_attach_single_file_db", "@dbname");
  std::string file = args.Required(1, "sp_attach_single_file_db", "@physname");
  Attach(session, name, file, sink);
}

void DetachDb(Session& session, const std::vector<CallArgument>& given, ResultSink& sink) {
  Arguments args("sp_detach_db", given, {"@dbname", "@skipchecks"});
  std::string name = args.Required(0, "sp_detach_db", "@dbname");
  if (!session.IsSysadmin()) throw MakeError(15247);
  EngineImpl& engine = session.Engine();
  std::optional<catalog::DatabaseEntry> entry = engine.FindDatabase(name);
  if (!entry) throw MakeError(15010, {name});
  for (std::string_view system : kSystemDatabases) {
    if (tsql::EqualsIgnoreCase(system, entry->name)) {
      throw MakeError(3708, {"detach", "database", entry->name, "database"});
    }
  }
  ExclusiveUse exclusive(session, entry->name, sink, 1, 3703);
  std::lock_guard placing(FilePlacementMutex());
  std::filesystem::path data_file = engine.DataFileOf(*entry);
  try {
    CloseStandalone(data_file);
  } catch (const std::runtime_error& failure) {
    engine.EngineLog().Info("detach of " + entry->name + " failed: " + failure.what());
    throw MakeError(5105, {data_file.string()});
  }
  try {
    engine.Catalog().RemoveDatabase(entry->name);
  } catch (...) {
    VerifyDataFile(data_file);  // back to write-ahead logging while it stays attached
    throw;
  }
  catalog::EnsureLogFile(data_file);
  RemoveStrayShm(data_file);
  engine.EngineLog().Info("detached database " + entry->name);
}

}  // namespace sqlengine::exec
