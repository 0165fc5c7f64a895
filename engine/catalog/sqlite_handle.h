#pragma once
// Owning handles for SQLite connections and statements, and the few calls
// every user of them needs.

#include <sqlite3.h>

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace sqlengine::catalog {

struct ConnectionCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Connection = std::unique_ptr<sqlite3, ConnectionCloser>;

struct StatementFinalizer {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using PreparedStatement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

// Opens an existing data file read-write for use by one thread at a time,
// with extended result codes and double-quoted strings off. Throws
// std::runtime_error naming the file.
// `read_only`: every write on the connection fails with SQLITE_READONLY.
// URI file names ("file:...?mode=ro") are understood, by ATTACH too.
Connection OpenDataFile(const std::filesystem::path& data_file, bool read_only = false);

// Runs statements that return no rows. Throws std::runtime_error with
// SQLite's message.
void Exec(sqlite3* db, std::string_view sql);

// Prepares one statement. Throws std::runtime_error with SQLite's message.
PreparedStatement Prepare(sqlite3* db, std::string_view sql);

std::string ColumnText(sqlite3_stmt* statement, int column);

}  // namespace sqlengine::catalog
