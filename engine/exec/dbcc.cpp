#include "engine/exec/dbcc.h"

#include "engine/catalog/log_name_vfs.h"
#include "engine/catalog/space.h"
#include "engine/catalog/sqlite_handle.h"
#include "engine/common/error.h"
#include "engine/exec/database_files.h"
#include "engine/exec/dbcc_tables.h"
#include "engine/exec/engine_impl.h"
#include "engine/exec/file_statement_syntax.h"
#include "engine/exec/integrity_checks.h"
#include "engine/exec/session.h"
#include "engine/exec/session_connection.h"

namespace sqlengine::exec {
namespace {

using catalog::ShrinkMode;

constexpr std::int64_t kPageSize = 8192;
constexpr int kDataFileId = 1;
constexpr int kLogFileId = 2;

struct ShrinkRequest {
  ShrinkMode mode = ShrinkMode::kCompactAndRelease;
  int target_percent = 0;                    // SHRINKDATABASE
  std::optional<std::int64_t> target_pages;  // SHRINKFILE
  bool data = true;
  bool log = true;
  std::string command;  // for permission messages
  bool quiet = false;   // WITH NO_INFOMSGS
};

std::int64_t LogPages(const std::filesystem::path& data_file) {
  std::error_code ignored;
  auto bytes = std::filesystem::file_size(catalog::LogFileFor(data_file), ignored);
  if (ignored) return 0;
  return static_cast<std::int64_t>((bytes + kPageSize - 1) / kPageSize);
}

void ReadMode(TokenCursor& cursor, ShrinkRequest& request) {
  if (cursor.TakeWord("notruncate")) {
    request.mode = ShrinkMode::kNoTruncate;
  } else if (cursor.TakeWord("truncateonly")) {
    request.mode = ShrinkMode::kTruncateOnly;
  } else if (cursor.TakeWord("emptyfile")) {
    request.mode = ShrinkMode::kCompactAndRelease;
  } else {
    cursor.Fail();
  }
}

void ReadEnd(TokenCursor& cursor, ShrinkRequest& request) {
  cursor.ExpectSymbol(")");
  if (cursor.TakeWord("with")) {
    do {
      if (cursor.TakeWord("no_infomsgs")) {
        request.quiet = true;
      } else if (!cursor.TakeWord("tableresults")) {
        cursor.Fail();
      }
    } while (cursor.TakeSymbol(","));
  }
  cursor.ExpectEnd();
}

// Shrinks and sends the rows of the files that shrank; returns the 5201
// message when the data file had nothing to give.
std::optional<ServerMessage> Shrink(Session& session, const catalog::DatabaseEntry& entry,
                                    const ShrinkRequest& request, ResultSink& sink) {
  EngineImpl& engine = session.Engine();
  if (!session.IsSysadmin() && entry.owner_sid != session.Login().sid) {
    throw MakeError(2571, {session.Login().name, request.command});
  }
  UseHold hold(engine, entry.name);
  if (!hold.Held()) throw MakeError(2520, {entry.name});
  std::filesystem::path data_file = engine.DataFileOf(entry);
  catalog::Connection db;
  catalog::DataFileSpace before;
  catalog::DataFileSpace after;
  std::int64_t log_before = LogPages(data_file);
  try {
    db = catalog::OpenDataFile(data_file);
    sqlite3_busy_timeout(db.get(),
                         static_cast<int>(SessionConnection::kLockTimeout.count() * 1000));
    before = catalog::MeasureSpace(db.get());
    std::int64_t release = 0;
    if (request.data) {
      release = request.target_pages
                    ? catalog::PagesToReleaseForSize(before, *request.target_pages)
                    : catalog::PagesToReleaseForPercent(before, request.target_percent);
      if (request.mode == ShrinkMode::kTruncateOnly && !request.target_pages)
        release = before.free_pages;
    }
    catalog::ShrinkDataFile(db.get(), request.data ? request.mode : ShrinkMode::kCompactAndRelease,
                            release);
    after = catalog::MeasureSpace(db.get());
  } catch (const std::runtime_error& failure) {
    engine.EngineLog().Info("shrink of " + entry.name + " failed: " + failure.what());
    if (db && sqlite3_errcode(db.get()) == SQLITE_BUSY) throw MakeError(1222);
    throw MakeError(5105, {data_file.string()});
  }
  db.reset();
  std::int64_t log_after = LogPages(data_file);
  bool data_shrank =
      after.pages < before.pages || (request.mode == ShrinkMode::kNoTruncate && request.data);
  std::vector<Row> rows;
  if (request.data && data_shrank) {
    rows.push_back({std::int64_t{entry.dbid}, std::int64_t{kDataFileId}, after.pages,
                    after.UsedPages(), after.UsedPages(), after.UsedPages()});
  }
  if (request.log && log_after < log_before) {
    rows.push_back({std::int64_t{entry.dbid}, std::int64_t{kLogFileId}, log_after, log_after,
                    log_after, log_after});
  }
  // Only files that shrank get a row; with none there is no result set, so
  // the completion message is the first thing a client reads.
  if (!rows.empty()) {
    sink.BeginResult({{"DbId", ColumnType{SqlType::kSmallInt}},
                      {"FileId", ColumnType{SqlType::kSmallInt}},
                      {"CurrentSize", ColumnType{SqlType::kInt}},
                      {"MinimumSize", ColumnType{SqlType::kInt}},
                      {"UsedPages", ColumnType{SqlType::kInt}},
                      {"EstimatedPages", ColumnType{SqlType::kInt}}});
    for (const Row& row : rows) sink.AddRow(row);
    sink.Done(StatementDone{});
  }
  std::optional<ServerMessage> skipped;
  if (request.data && !data_shrank && !request.quiet) {
    skipped = FormatMessage(5201, {std::to_string(kDataFileId), std::to_string(entry.dbid)});
  }
  engine.EngineLog().Info("shrank database " + entry.name + " from " +
                          std::to_string(before.pages) + " to " + std::to_string(after.pages) +
                          " pages");
  return skipped;
}

std::optional<ServerMessage> ShrinkDatabase(Session& session, TokenCursor& cursor,
                                            ResultSink& sink) {
  ShrinkRequest request;
  request.command = "SHRINKDATABASE";
  cursor.ExpectSymbol("(");
  bool numeric = cursor.Peek().kind == tsql::TokenKind::kNumber;
  std::string database = numeric ? std::to_string(cursor.Integer()) : cursor.Name();
  // DBCC takes an unquoted name with spaces as it stands: (big data, 5).
  while (!numeric && cursor.Peek().kind == tsql::TokenKind::kWord) database += " " + cursor.Name();
  if (cursor.TakeSymbol(",")) {
    if (cursor.Peek().kind == tsql::TokenKind::kWord) {
      ReadMode(cursor, request);
    } else {
      request.target_percent = static_cast<int>(cursor.Integer());
      if (cursor.TakeSymbol(",")) ReadMode(cursor, request);
    }
  }
  ReadEnd(cursor, request);
  return Shrink(session, FindByNameOrId(session.Engine(), session, database, numeric), request,
                sink);
}

std::optional<ServerMessage> ShrinkFile(Session& session, TokenCursor& cursor, ResultSink& sink) {
  ShrinkRequest request;
  request.command = "SHRINKFILE";
  EngineImpl& engine = session.Engine();
  std::optional<catalog::DatabaseEntry> entry = engine.FindDatabase(session.CurrentDatabase());
  if (!entry) throw MakeError(2520, {session.CurrentDatabase()});
  cursor.ExpectSymbol("(");
  int file_id = 0;
  if (cursor.Peek().kind == tsql::TokenKind::kNumber) {
    file_id = static_cast<int>(cursor.Integer());
  } else {
    std::string logical = cursor.Name();
    if (tsql::EqualsIgnoreCase(logical, entry->name)) file_id = kDataFileId;
    if (tsql::EqualsIgnoreCase(logical, entry->name + "_log")) file_id = kLogFileId;
    if (file_id == 0) throw MakeError(8985, {logical});
  }
  if (file_id != kDataFileId && file_id != kLogFileId)
    throw MakeError(8985, {std::to_string(file_id)});
  request.data = file_id == kDataFileId;
  request.log = file_id == kLogFileId;
  if (cursor.TakeSymbol(",")) {
    if (cursor.Peek().kind == tsql::TokenKind::kWord) {
      ReadMode(cursor, request);
    } else {
      request.target_pages = cursor.Integer() * (1024 * 1024 / kPageSize);
      if (cursor.TakeSymbol(",")) ReadMode(cursor, request);
    }
  }
  if (!request.target_pages) request.target_pages = 0;
  ReadEnd(cursor, request);
  return Shrink(session, *entry, request, sink);
}

}  // namespace

catalog::DatabaseEntry FindByNameOrId(EngineImpl& engine, Session& session,
                                      const std::string& written, bool numeric) {
  if (numeric) {
    int dbid = std::stoi(written);
    std::string current = session.CurrentDatabase();
    for (const catalog::DatabaseEntry& entry : engine.Catalog().Databases()) {
      if (dbid == 0 ? tsql::EqualsIgnoreCase(entry.name, current) : entry.dbid == dbid)
        return entry;
    }
  } else if (std::optional<catalog::DatabaseEntry> entry = engine.FindDatabase(written)) {
    return *entry;
  }
  throw MakeError(2520, {written});
}

void ExecuteDbcc(Session& session, const tsql::Statement& statement, ResultSink& sink) {
  TokenCursor cursor(statement.tokens, session, 1);
  std::optional<ServerMessage> skipped;
  if (cursor.TakeWord("checkdb")) {
    CheckDatabase(session, cursor, sink, statement.line);
    return;
  }
  if (cursor.TakeWord("checktable")) {
    CheckTable(session, cursor, sink, statement.line);
    return;
  }
  if (cursor.TakeWord("checkident")) {
    CheckIdent(session, cursor, sink);
    return;
  }
  if (cursor.TakeWord("dbreindex")) {
    DbReindex(session, cursor, sink);
    return;
  }
  if (cursor.TakeWord("shrinkdatabase")) {
    skipped = ShrinkDatabase(session, cursor, sink);
  } else if (cursor.TakeWord("shrinkfile")) {
    skipped = ShrinkFile(session, cursor, sink);
  } else {
    throw MakeError(2526);
  }
  // The completion message comes first: programs judge a shrink by the first
  // message they read, and a file with nothing to give is no failure.
  sink.Message(FormatMessage(2528));
  if (skipped) sink.Message(*skipped);
  sink.Done(StatementDone{});
}

}  // namespace sqlengine::exec
