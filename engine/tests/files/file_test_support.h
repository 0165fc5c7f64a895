#pragma once
// What the C++ tests of database files share: reading a batch's rows as
// text, and opening a closed data file as a plain SQLite file.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/tests/sql/odbc_client.h"

namespace sqlengine::testing {

// Each row of every result of `outcome` as "v1|v2|..." (NULL for NULL).
inline std::vector<std::string> Rows(const BatchOutcome& outcome) {
  std::vector<std::string> rows;
  for (const ResultSet& result : outcome.results) {
    for (const auto& row : result.rows) {
      std::string text;
      for (size_t i = 0; i < row.size(); ++i) text += (i ? "|" : "") + row[i].value_or("NULL");
      rows.push_back(text);
    }
  }
  return rows;
}

// Runs `sql`, which must succeed.
inline BatchOutcome Ok(OdbcClient& client, const std::string& sql) {
  BatchOutcome outcome = client.Execute(sql);
  EXPECT_FALSE(outcome.failed) << sql << "\n" << outcome.Describe();
  return outcome;
}

inline std::vector<std::string> Query(OdbcClient& client, const std::string& sql) {
  return Rows(Ok(client, sql));
}

// An N'...' literal of the path.
inline std::string Quoted(const std::filesystem::path& path) {
  std::string text = "N'";
  for (char c : path.string()) text += c == '\'' ? std::string("''") : std::string(1, c);
  return text + "'";
}

// Opens a closed data file with SQLite's own default file handling, as the
// sqlite3 program would.
struct PlainFile {
  explicit PlainFile(const std::filesystem::path& file) {
    EXPECT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK)
        << file;
  }
  ~PlainFile() { sqlite3_close(db); }
  std::string Text(const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    std::string value;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
      const unsigned char* text = sqlite3_column_text(statement, 0);
      value = text ? reinterpret_cast<const char*>(text) : "NULL";
    } else {
      value = std::string("error: ") + sqlite3_errmsg(db);
    }
    sqlite3_finalize(statement);
    return value;
  }
  sqlite3* db = nullptr;
};

}  // namespace sqlengine::testing
