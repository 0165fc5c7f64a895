#include "engine/exec/space_procedures.h"

#include <cstdio>

#include "engine/catalog/log_name_vfs.h"
#include "engine/catalog/sqlite_handle.h"
#include "engine/common/error.h"
#include "engine/exec/engine_impl.h"
#include "engine/exec/procedure_arguments.h"
#include "engine/exec/session.h"

namespace sqlengine::exec {
namespace {

constexpr std::int64_t kPageKilobytes = 8;

ColumnType Text(int length) { return ColumnType{SqlType::kNVarChar, length}; }

std::string Kilobytes(std::int64_t pages) { return std::to_string(pages * kPageKilobytes) + " KB"; }

std::string Megabytes(double bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f MB", bytes / 1048576.0);
  return text;
}

std::int64_t Scalar(sqlite3* db, const std::string& sql, const std::string& bound = {}) {
  catalog::PreparedStatement statement = catalog::Prepare(db, sql);
  if (!bound.empty()) sqlite3_bind_text(statement.get(), 1, bound.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(statement.get()) != SQLITE_ROW) return 0;
  return sqlite3_column_int64(statement.get(), 0);
}

// Pages of the b-trees named in `condition` (over sqlite_schema as s).
std::int64_t Pages(sqlite3* db, const std::string& condition, const std::string& bound = {}) {
  return Scalar(
      db,
      "SELECT count(*) FROM dbstat('main') d JOIN main.sqlite_schema s ON s.name = d.name "
      "WHERE " +
          condition,
      bound);
}

void SendResult(ResultSink& sink, const std::vector<Column>& columns, const Row& row) {
  sink.BeginResult(columns);
  sink.AddRow(row);
  StatementDone done;
  done.row_count = 1;
  sink.Done(done);
}

std::uintmax_t FileBytes(const std::filesystem::path& file) {
  std::error_code ignored;
  std::uintmax_t bytes = std::filesystem::file_size(file, ignored);
  return ignored ? 0 : bytes;
}

}  // namespace

void SpaceUsed(Session& session, const std::vector<CallArgument>& given, ResultSink& sink) {
  Arguments args("sp_spaceused", given, {"@objname", "@updateusage"});
  sqlite3* db = session.Connection().Handle();
  std::int64_t pages = Scalar(db, "PRAGMA main.page_count");
  std::int64_t free_pages = Scalar(db, "PRAGMA main.freelist_count");
  if (args[0]) {
    const std::string& table = *args[0];
    std::int64_t found = Scalar(
        db,
        "SELECT count(*) FROM main.sqlite_schema WHERE type = 'table' AND name = ?1 COLLATE NOCASE",
        table);
    if (found == 0 || table.rfind("sqlengine_", 0) == 0)
      throw MakeError(15009, {table, session.CurrentDatabase()});
    std::int64_t data = Pages(db, "s.type = 'table' AND s.name = ?1 COLLATE NOCASE", table);
    std::int64_t index = Pages(db, "s.type = 'index' AND s.tbl_name = ?1 COLLATE NOCASE", table);
    std::string quoted = "\"";
    for (char c : table) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    quoted += "\"";
    std::int64_t rows = Scalar(db, "SELECT count(*) FROM main." + quoted);
    SendResult(sink,
               {{"name", Text(128)},
                {"rows", ColumnType{SqlType::kChar, 11}},
                {"reserved", Text(18)},
                {"data", Text(18)},
                {"index_size", Text(18)},
                {"unused", Text(18)}},
               {table, std::to_string(rows), Kilobytes(data + index), Kilobytes(data),
                Kilobytes(index), Kilobytes(0)});
    return;
  }
  std::optional<catalog::DatabaseEntry> entry =
      session.Engine().FindDatabase(session.CurrentDatabase());
  std::uintmax_t log_bytes =
      entry ? FileBytes(catalog::LogFileFor(session.Engine().DataFileOf(*entry))) : 0;
  std::int64_t data = Pages(db, "s.type = 'table'");
  std::int64_t index = Pages(db, "s.type = 'index'");
  std::int64_t reserved = pages - free_pages;
  SendResult(
      sink,
      {{"database_name", Text(128)}, {"database_size", Text(18)}, {"unallocated space", Text(18)}},
      {session.CurrentDatabase(), Megabytes(static_cast<double>(pages * 8192 + log_bytes)),
       Megabytes(static_cast<double>(free_pages * 8192))});
  SendResult(
      sink,
      {{"reserved", Text(18)}, {"data", Text(18)}, {"index_size", Text(18)}, {"unused", Text(18)}},
      {Kilobytes(reserved), Kilobytes(data), Kilobytes(index),
       Kilobytes(std::max<std::int64_t>(0, reserved - data - index))});
}

void SendDatabaseFiles(Session& session, const catalog::DatabaseEntry& entry, ResultSink& sink,
                       const std::optional<std::string>& only) {
  std::filesystem::path data_file = session.Engine().DataFileOf(entry);
  std::filesystem::path log_file = catalog::LogFileFor(data_file);
  auto size = [](std::uintmax_t bytes) { return std::to_string((bytes + 1023) / 1024) + " KB"; };
  sink.BeginResult({{"name", ColumnType{SqlType::kNChar, 128}},
                    {"fileid", ColumnType{SqlType::kSmallInt}},
                    {"filename", ColumnType{SqlType::kNChar, 260}},
                    {"filegroup", Text(128)},
                    {"size", Text(18)},
                    {"maxsize", Text(18)},
                    {"growth", Text(18)},
                    {"usage", ColumnType{SqlType::kVarChar, 9}}});
  std::vector<Row> rows;
  rows.push_back({entry.name, std::int64_t{1}, data_file.string(), std::string("PRIMARY"),
                  size(FileBytes(data_file)), std::string("Unlimited"), std::string("10%"),
                  std::string("data only")});
  rows.push_back({entry.name + "_log", std::int64_t{2}, log_file.string(), Value(),
                  size(FileBytes(log_file)), std::string("Unlimited"), std::string("10%"),
                  std::string("log only")});
  std::int64_t sent = 0;
  for (const Row& row : rows) {
    if (only && !tsql::EqualsIgnoreCase(*only, std::get<std::string>(row[0]))) continue;
    sink.AddRow(row);
    ++sent;
  }
  StatementDone done;
  done.row_count = sent;
  sink.Done(done);
}

}  // namespace sqlengine::exec
