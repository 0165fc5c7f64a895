#pragma once
// SQL script files (*.test): records separated by blank lines.
//
//   # a comment
//   connect NAME [USER [PASSWORD]]       later records run on connection NAME
//   disconnect NAME                      closes connection NAME (not the current one)
//   login error NUMBER USER PASSWORD [DATABASE]
//   statement ok                         the batch gives no error (a script whose
//                                        batches lines of GO separate: none does)
//   statement error NUMBER               the batch gives error NUMBER
//   statement message NUMBER [TEXT]      no error, and a message NUMBER (with that text)
//   query [names] [types]                the rows below "----" (values joined by '|',
//   SQL ...                              NULL for null, (empty) for ''); with "names"
//   ----                                 the first line holds the column names, with
//   1|abc                                "types" the next line each column's SQL Server
//                                        type: int|varchar(30)|decimal(38,2)|datetime,
//                                        with "nulls" the next line whether each column
//                                        is described as nullable: null|not null;
//                                        a value written (any) matches any value

#include <filesystem>
#include <string>
#include <vector>

namespace sqlengine::testing {

struct ScriptRecord {
  enum class Kind {
    kConnect,
    kDisconnect,
    kLoginError,
    kStatementOk,
    kStatementError,
    kStatementMessage,
    kQuery
  };
  Kind kind = Kind::kStatementOk;
  int line = 0;                    // in the file, for failure output
  std::vector<std::string> words;  // the record's first line, split on spaces
  std::string sql;
  bool expect_names = false;
  bool expect_types = false;
  bool expect_nulls = false;
  std::vector<std::string> expected;  // query rows, or the message text
  int number = 0;                     // error / message number
};

// Throws std::runtime_error naming the file and line of a malformed record.
std::vector<ScriptRecord> ParseScript(const std::filesystem::path& file);

}  // namespace sqlengine::testing
