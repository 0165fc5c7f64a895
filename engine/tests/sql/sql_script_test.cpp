// Runs every engine/tests/sql/*.test script against a real sqlengine over
// TCP, through the FreeTDS ODBC driver.
#include "engine/tests/sql/sql_script.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "engine/tests/sql/odbc_client.h"
#include "testing/test_engine.h"

namespace sqlengine::testing {
namespace {

// The names (without ".test") of the scripts the build found.
std::vector<std::string> ScriptFiles() {
  std::vector<std::string> files;
  std::string_view list = SQL_SCRIPTS;
  while (!list.empty()) {
    size_t comma = list.find(',');
    std::string_view file = list.substr(0, comma);
    files.emplace_back(file.substr(0, file.rfind(".test")));
    list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
  }
  return files;
}

std::string Cell(const std::optional<std::string>& value) {
  if (!value) return "NULL";
  return value->empty() ? "(empty)" : *value;
}

std::string Joined(const std::vector<std::string>& parts) {
  std::string text;
  for (size_t i = 0; i < parts.size(); ++i) text += (i ? "|" : "") + parts[i];
  return text;
}

std::vector<std::string> ActualRows(const BatchOutcome& outcome, const ScriptRecord& record) {
  std::vector<std::string> rows;
  for (const ResultSet& result : outcome.results) {
    if (record.expect_names) rows.push_back(Joined(result.columns));
    if (record.expect_types) rows.push_back(Joined(result.types));
    if (record.expect_nulls) {
      std::vector<std::string> nulls;
      for (bool nullable : result.nullable) nulls.push_back(nullable ? "null" : "not null");
      rows.push_back(Joined(nulls));
    }
    for (const auto& row : result.rows) {
      std::string text;
      for (size_t i = 0; i < row.size(); ++i) text += (i ? "|" : "") + Cell(row[i]);
      rows.push_back(text);
    }
  }
  return rows;
}

bool HasError(const BatchOutcome& outcome) { return outcome.failed; }

// `actual` with every value whose expected counterpart is "(any)" (a
// creation time, say) replaced by "(any)", so the rest still compares.
std::vector<std::string> Masked(std::vector<std::string> actual,
                                const std::vector<std::string>& expected) {
  auto split = [](const std::string& row) {
    std::vector<std::string> cells;
    size_t start = 0;
    for (size_t bar; (bar = row.find('|', start)) != std::string::npos; start = bar + 1) {
      cells.push_back(row.substr(start, bar - start));
    }
    cells.push_back(row.substr(start));
    return cells;
  };
  for (size_t r = 0; r < actual.size() && r < expected.size(); ++r) {
    if (expected[r].find("(any)") == std::string::npos) continue;
    std::vector<std::string> have = split(actual[r]), want = split(expected[r]);
    if (have.size() != want.size()) continue;
    for (size_t c = 0; c < have.size(); ++c) {
      if (want[c] == "(any)") have[c] = "(any)";
    }
    actual[r] = Joined(have);
  }
  return actual;
}

// A script as SQL Server's tools write one: batches separated by lines that
// hold only GO (any case); without such a line the whole text is one batch.
std::vector<std::string> Batches(const std::string& sql) {
  std::vector<std::string> batches;
  std::string batch;
  size_t start = 0;
  while (start <= sql.size()) {
    size_t end = sql.find('\n', start);
    std::string line =
        sql.substr(start, end == std::string::npos ? std::string::npos : end - start);
    std::string word = line;
    word.erase(0, word.find_first_not_of(" \t\r"));
    word.erase(word.find_last_not_of(" \t\r") + 1);
    if (word.size() == 2 && (word[0] == 'G' || word[0] == 'g') &&
        (word[1] == 'O' || word[1] == 'o')) {
      if (batch.find_first_not_of(" \t\r\n") != std::string::npos) batches.push_back(batch);
      batch.clear();
    } else {
      batch += line + "\n";
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  if (batch.find_first_not_of(" \t\r\n") != std::string::npos) batches.push_back(batch);
  return batches;
}

class SqlScript : public ::testing::TestWithParam<std::string> {};

TEST_P(SqlScript, Passes) {
  std::filesystem::path file = std::filesystem::path(SQL_SCRIPT_DIR) / (GetParam() + ".test");
  std::vector<ScriptRecord> records = ParseScript(file);
  testing_support::TestEngine engine;
  std::map<std::string, std::unique_ptr<OdbcClient>> connections;
  connections["main"] = std::make_unique<OdbcClient>(engine.Port(), "sa", "");
  OdbcClient* current = connections["main"].get();
  for (const ScriptRecord& record : records) {
    SCOPED_TRACE(file.string() + ":" + std::to_string(record.line));
    switch (record.kind) {
      case ScriptRecord::Kind::kConnect: {
        const std::string& name = record.words[1];
        if (!connections.count(name)) {
          std::string user = record.words.size() > 2 ? record.words[2] : "sa";
          std::string password = record.words.size() > 3 ? record.words[3] : "";
          connections[name] = std::make_unique<OdbcClient>(engine.Port(), user, password);
        }
        current = connections[name].get();
        break;
      }
      case ScriptRecord::Kind::kDisconnect: {
        auto found = connections.find(record.words[1]);
        ASSERT_TRUE(found != connections.end() && found->second.get() != current)
            << "only another open connection can be closed";
        connections.erase(found);
        break;
      }
      case ScriptRecord::Kind::kLoginError: {
        std::string database = record.words.size() > 5 ? record.words[5] : "";
        try {
          OdbcClient client(engine.Port(), record.words[3], record.words[4], database);
          ADD_FAILURE() << "login succeeded";
        } catch (const OdbcError& error) {
          bool found = false;
          for (const DiagnosticRecord& diagnostic : error.records)
            found |= diagnostic.native == record.number;
          EXPECT_TRUE(found) << "no error " << record.number;
        }
        break;
      }
      case ScriptRecord::Kind::kStatementOk: {
        for (const std::string& batch : Batches(record.sql)) {
          BatchOutcome outcome = current->Execute(batch);
          EXPECT_FALSE(HasError(outcome)) << batch << "\n" << outcome.Describe();
        }
        break;
      }
      case ScriptRecord::Kind::kStatementError: {
        BatchOutcome outcome = current->Execute(record.sql);
        EXPECT_TRUE(HasError(outcome));
        const DiagnosticRecord* found = outcome.Find(record.number);
        ASSERT_NE(found, nullptr) << "expected error " << record.number << ", got:\n"
                                  << outcome.Describe();
        if (!record.expected.empty()) {
          EXPECT_EQ(found->text, record.expected[0]);
        }
        break;
      }
      case ScriptRecord::Kind::kStatementMessage: {
        BatchOutcome outcome = current->Execute(record.sql);
        EXPECT_FALSE(HasError(outcome)) << outcome.Describe();
        const DiagnosticRecord* found = outcome.Find(record.number);
        ASSERT_NE(found, nullptr) << "expected message " << record.number << ", got:\n"
                                  << outcome.Describe();
        if (!record.expected.empty()) {
          EXPECT_EQ(found->text, record.expected[0]);
        }
        break;
      }
      case ScriptRecord::Kind::kQuery: {
        BatchOutcome outcome = current->Execute(record.sql);
        EXPECT_FALSE(HasError(outcome)) << outcome.Describe();
        EXPECT_EQ(Masked(ActualRows(outcome, record), record.expected), record.expected);
        break;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Scripts, SqlScript, ::testing::ValuesIn(ScriptFiles()),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace sqlengine::testing
