// ALTER DATABASE ... WITH ROLLBACK IMMEDIATE | ROLLBACK AFTER n over TCP: the
// other sessions in the database lose their uncommitted work and their
// connections, idle or running, and the database is free at once for what
// the caller does next (DROP DATABASE, single-user work).
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <string>

#include "engine/tests/sql/odbc_checks.h"
#include "engine/tests/sql/odbc_client.h"
#include "testing/test_engine.h"

namespace sqlengine::testing {
namespace {

class DatabaseEviction : public ::testing::Test {
 protected:
  void SetUp() override {
    admin_ = Connect();
    Must(*admin_,
         "CREATE DATABASE Yard USE Yard CREATE TABLE crates (id int PRIMARY KEY) "
         "INSERT crates VALUES (1) USE master");
  }

  std::unique_ptr<OdbcClient> Connect(const std::string& database = "") {
    return std::make_unique<OdbcClient>(engine_.Port(), "sa", "", database);
  }



  // Whether sp_who shows a session running a request in `database`.
  bool RunningIn(const std::string& database) {
    BatchOutcome who = admin_->Execute("EXEC sp_who");
    if (who.failed || who.results.empty()) return false;
    const ResultSet& sessions = who.results[0];
    size_t dbname = 0, status = 0;
    for (size_t i = 0; i < sessions.columns.size(); ++i) {
      if (sessions.columns[i] == "dbname") dbname = i;
      if (sessions.columns[i] == "status") status = i;
    }
    auto trimmed = [](const std::optional<std::string>& value) {
      std::string text = value.value_or("");
      return text.substr(0, text.find_last_not_of(' ') + 1);
    };
    for (const auto& row : sessions.rows) {
      if (trimmed(row[dbname]) == database && trimmed(row[status]) == "runnable") {
        return true;
      }
    }
    return false;
  }

  testing_support::TestEngine engine_;
  std::unique_ptr<OdbcClient> admin_;
};

TEST_F(DatabaseEviction, IdleSessionInATransactionIsRolledBackAndDisconnected) {
  std::unique_ptr<OdbcClient> other = Connect("Yard");
  Must(*other, "BEGIN TRAN INSERT crates VALUES (2)");

  Must(*admin_, "ALTER DATABASE Yard SET SINGLE_USER WITH ROLLBACK IMMEDIATE");
  EXPECT_EQ(Scalar(*admin_, "SELECT DATABASEPROPERTYEX('Yard', 'UserAccess')"), "SINGLE_USER");
  // The caller is the one user now, and the other's insert is gone.
  EXPECT_EQ(Scalar(*admin_, "USE Yard SELECT COUNT(*) FROM crates"), "1");
  Must(*admin_, "INSERT crates VALUES (3)");

  BatchOutcome after = other->Execute("SELECT COUNT(*) FROM crates");
  EXPECT_TRUE(after.failed) << after.Describe();
  EXPECT_EQ(after.Find(924), nullptr) << "the session was cut off, not refused";

  // A new connection is refused while the caller stays.
  try {
    OdbcClient refused(engine_.Port(), "sa", "", "Yard");
    ADD_FAILURE() << "a second user entered a single-user database";
  } catch (const OdbcError& error) {
    bool found = false;
    for (const DiagnosticRecord& record : error.records) found |= record.native == 924;
    EXPECT_TRUE(found);
  }
}

TEST_F(DatabaseEviction, RunningRequestIsCancelledAndTheDatabaseCanBeDroppedAtOnce) {
  std::unique_ptr<OdbcClient> other = Connect("Yard");
  std::future<BatchOutcome> running = std::async(std::launch::async, [&] {
    return other->Execute("BEGIN TRAN INSERT crates VALUES (2) WAITFOR DELAY '00:01:00'");
  });
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!RunningIn("Yard") && std::chrono::steady_clock::now() < deadline) {
  }
  ASSERT_TRUE(RunningIn("Yard"));

  auto started = std::chrono::steady_clock::now();
  Must(*admin_, "ALTER DATABASE Yard SET OFFLINE WITH ROLLBACK IMMEDIATE");
  ASSERT_EQ(running.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
  Must(*admin_, "ALTER DATABASE Yard SET ONLINE");
  EXPECT_EQ(Scalar(*admin_, "SELECT COUNT(*) FROM Yard..crates"), "1");
  Must(*admin_, "DROP DATABASE Yard");
}

TEST_F(DatabaseEviction, RollbackAfterWaitsForTheOthersFirst) {
  std::unique_ptr<OdbcClient> other = Connect("Yard");
  std::future<BatchOutcome> alter = std::async(std::launch::async, [&] {
    return admin_->Execute("ALTER DATABASE Yard SET READ_ONLY WITH ROLLBACK AFTER 30 SECONDS");
  });
  // The other session leaves on its own within the grace period: it keeps
  // its connection.
  EXPECT_EQ(alter.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
  Must(*other, "USE master");
  ASSERT_EQ(alter.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  BatchOutcome altered = alter.get();
  EXPECT_FALSE(altered.failed) << altered.Describe();
  EXPECT_EQ(Scalar(*other, "SELECT DATABASEPROPERTYEX('Yard', 'Updateability')"), "READ_ONLY");
}

}  // namespace
}  // namespace sqlengine::testing
