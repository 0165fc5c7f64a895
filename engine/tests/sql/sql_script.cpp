#include "engine/tests/sql/sql_script.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace sqlengine::testing {
namespace {

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  std::string word;
  while (in >> word) words.push_back(word);
  return words;
}

std::string Rest(const std::string& line, size_t words) {
  size_t at = 0;
  for (size_t i = 0; i < words; ++i) {
    at = line.find_first_not_of(' ', at);
    at = line.find(' ', at);
    if (at == std::string::npos) return {};
  }
  at = line.find_first_not_of(' ', at);
  return at == std::string::npos ? std::string() : line.substr(at);
}

}  // namespace

std::vector<ScriptRecord> ParseScript(const std::filesystem::path& file) {
  std::ifstream in(file);
  if (!in) throw std::runtime_error("cannot read " + file.string());
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  std::vector<ScriptRecord> records;
  size_t i = 0;
  auto fail = [&](const std::string& why) {
    throw std::runtime_error(file.string() + ":" + std::to_string(i + 1) + ": " + why);
  };
  while (i < lines.size()) {
    if (lines[i].empty() || lines[i][0] == '#') {
      ++i;
      continue;
    }
    ScriptRecord record;
    record.line = static_cast<int>(i + 1);
    record.words = Words(lines[i]);
    const std::string& head = record.words[0];
    const std::string second = record.words.size() > 1 ? record.words[1] : "";
    if (head == "connect") {
      record.kind = ScriptRecord::Kind::kConnect;
      if (record.words.size() < 2) fail("connect needs a name");
    } else if (head == "disconnect") {
      record.kind = ScriptRecord::Kind::kDisconnect;
      if (record.words.size() < 2) fail("disconnect needs a name");
    } else if (head == "login" && second == "error") {
      record.kind = ScriptRecord::Kind::kLoginError;
      if (record.words.size() < 5) fail("login error NUMBER USER PASSWORD [DATABASE]");
      record.number = std::stoi(record.words[2]);
    } else if (head == "statement" && second == "ok") {
      record.kind = ScriptRecord::Kind::kStatementOk;
    } else if (head == "statement" && (second == "error" || second == "message")) {
      record.kind = second == "error" ? ScriptRecord::Kind::kStatementError
                                      : ScriptRecord::Kind::kStatementMessage;
      if (record.words.size() < 3) fail("a message number is needed");
      record.number = std::stoi(record.words[2]);
      std::string text = Rest(lines[i], 3);
      if (!text.empty()) record.expected.push_back(text);
    } else if (head == "query") {
      record.kind = ScriptRecord::Kind::kQuery;
      for (size_t k = 1; k < record.words.size(); ++k) {
        if (record.words[k] == "names") {
          record.expect_names = true;
        } else if (record.words[k] == "types") {
          record.expect_types = true;
        } else if (record.words[k] == "nulls") {
          record.expect_nulls = true;
        } else {
          fail("query takes only names, types and nulls");
        }
      }
    } else {
      fail("unknown record '" + head + "'");
    }
    ++i;
    bool in_rows = false;
    for (; i < lines.size() && !lines[i].empty(); ++i) {
      if (record.kind == ScriptRecord::Kind::kQuery && lines[i] == "----") {
        in_rows = true;
      } else if (in_rows) {
        record.expected.push_back(lines[i]);
      } else {
        record.sql += lines[i] + "\n";
      }
    }
    bool needs_sql = record.kind != ScriptRecord::Kind::kConnect &&
                     record.kind != ScriptRecord::Kind::kDisconnect &&
                     record.kind != ScriptRecord::Kind::kLoginError;
    if (needs_sql && record.sql.empty()) fail("the record has no SQL");
    if (record.kind == ScriptRecord::Kind::kQuery && !in_rows) fail("a query needs a ---- line");
    records.push_back(std::move(record));
  }
  return records;
}

}  // namespace sqlengine::testing
