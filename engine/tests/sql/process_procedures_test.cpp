// sp_who, sp_who2 and sp_lock while one session waits for another's write
// lock: the waiter names its blocker, and the locks show who holds and who
// waits.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "engine/tests/sql/odbc_client.h"
#include "testing/test_engine.h"

namespace sqlengine::testing {
namespace {

std::string Scalar(OdbcClient& client, const std::string& sql) {
  BatchOutcome outcome = client.Execute(sql);
  if (outcome.failed || outcome.results.empty() || outcome.results[0].rows.empty())
    return "<" + outcome.Describe() + ">";
  return outcome.results[0].rows[0][0].value_or("NULL");
}

// The rows of `sql`'s first result, each row's cells joined by '|', trailing
// blanks of each cell cut.
std::vector<std::string> Rows(OdbcClient& client, const std::string& sql) {
  BatchOutcome outcome = client.Execute(sql);
  std::vector<std::string> rows;
  if (outcome.failed || outcome.results.empty()) return {"<" + outcome.Describe() + ">"};
  for (const auto& row : outcome.results[0].rows) {
    std::string text;
    for (size_t i = 0; i < row.size(); ++i) {
      std::string cell = row[i].value_or("NULL");
      cell.erase(cell.find_last_not_of(' ') + 1);
      text += (i ? "|" : "") + cell;
    }
    rows.push_back(text);
  }
  return rows;
}

bool Contains(const std::vector<std::string>& rows, const std::string& row) {
  return std::find(rows.begin(), rows.end(), row) != rows.end();
}

TEST(ProcessProcedures, ShowWhoBlocksWhomAndTheWriteLocks) {
  testing_support::TestEngine engine;
  OdbcClient admin(engine.Port(), "sa", "");
  ASSERT_FALSE(
      admin.Execute("CREATE TABLE stock (id int, n int) INSERT INTO stock VALUES (1, 0)").failed);
  OdbcClient holder(engine.Port(), "sa", "");
  OdbcClient waiter(engine.Port(), "sa", "");
  std::string holder_spid = Scalar(holder, "SELECT @@SPID");
  std::string waiter_spid = Scalar(waiter, "SELECT @@SPID");
  ASSERT_FALSE(holder.Execute("BEGIN TRAN UPDATE stock SET n = 1").failed);
  auto blocked =
      std::async(std::launch::async, [&] { return waiter.Execute("UPDATE stock SET n = 2"); });

  std::vector<std::string> who;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  bool seen = false;
  while (!seen && std::chrono::steady_clock::now() < deadline) {
    who = Rows(admin, "EXEC sp_who " + waiter_spid);
    for (const std::string& row : who) {
      seen |= row.find("|" + holder_spid + "|master|UPDATE") != std::string::npos;
    }
    if (!seen) std::this_thread::yield();
  }
  ASSERT_TRUE(seen) << ::testing::PrintToString(who);

  std::vector<std::string> locks = Rows(admin, "EXEC sp_lock");
  EXPECT_TRUE(Contains(locks, holder_spid + "|1|0|0|DB||X|GRANT"))
      << ::testing::PrintToString(locks);
  EXPECT_TRUE(Contains(locks, waiter_spid + "|1|0|0|DB||X|WAIT"))
      << ::testing::PrintToString(locks);
  std::vector<std::string> who2 = Rows(admin, "EXEC sp_who2 'active'");
  bool blocked_by = false;
  for (const std::string& row : who2) {
    blocked_by |= row.starts_with(waiter_spid + "|sleeping|sa|") &&
                  row.find("|" + holder_spid + "|master|UPDATE|") != std::string::npos;
  }
  EXPECT_TRUE(blocked_by) << ::testing::PrintToString(who2);

  ASSERT_FALSE(holder.Execute("COMMIT").failed);
  ASSERT_EQ(blocked.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  EXPECT_FALSE(blocked.get().failed);
  std::vector<std::string> after = Rows(admin, "EXEC sp_who " + waiter_spid);
  ASSERT_EQ(after.size(), 1u);
  EXPECT_TRUE(after[0].starts_with(waiter_spid + "|0|sleeping|sa|")) << after[0];
  EXPECT_TRUE(after[0].ends_with("|0|master|AWAITING COMMAND")) << after[0];
}

}  // namespace
}  // namespace sqlengine::testing
