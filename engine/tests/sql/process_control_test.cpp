// KILL and SHUTDOWN over TCP: KILL ends another session (its connection
// closed, its open transaction rolled back, a running request cancelled);
// SHUTDOWN stops the engine as `sqlengine stop` does, committed work kept.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>

#include "engine/tests/sql/odbc_checks.h"
#include "engine/tests/sql/odbc_client.h"
#include "testing/loopback_probe.h"
#include "testing/test_engine.h"

namespace sqlengine::testing {
namespace {

std::unique_ptr<OdbcClient> Connect(testing_support::TestEngine& engine,
                                    const std::string& user = "sa",
                                    const std::string& password = "") {
  return std::make_unique<OdbcClient>(engine.Port(), user, password);
}

// An administrator's session and the session it kills, `spid`, over one table.
class KillOfASession : public ::testing::Test {
 protected:
  void SetUp() override {
    admin_ = Connect(engine_);
    Must(*admin_, "CREATE TABLE crates (id int PRIMARY KEY)");
    victim_ = Connect(engine_);
    spid_ = Scalar(*victim_, "SELECT @@SPID");
  }

  testing_support::TestEngine engine_;
  std::unique_ptr<OdbcClient> admin_;
  std::unique_ptr<OdbcClient> victim_;
  std::string spid_;
};

TEST_F(KillOfASession, EndsAnIdleSessionAndRollsBackItsTransaction) {
  OdbcClient* admin = admin_.get();
  OdbcClient* victim = victim_.get();
  const std::string& spid = spid_;
  Must(*admin, "INSERT crates VALUES (1)");
  Must(*victim, "BEGIN TRAN INSERT crates VALUES (2)");

  Must(*admin, "KILL " + spid);
  // The insert is gone and its lock with it: the table reads at once.
  EXPECT_EQ(Scalar(*admin, "SELECT COUNT(*) FROM crates"), "1");
  EXPECT_EQ(Scalar(*admin, "SELECT COUNT(*) FROM master..sysprocesses WHERE spid = " + spid), "0");
  BatchOutcome after = victim->Execute("SELECT 1");
  EXPECT_TRUE(after.failed) << "the killed session's connection still answers";

  // Gone now: a second KILL finds no such process.
  BatchOutcome again = admin->Execute("KILL " + spid);
  ASSERT_NE(again.Find(6106), nullptr) << again.Describe();
  EXPECT_EQ(again.Find(6106)->text, "Process ID " + spid + " is not an active process ID.");
}

TEST_F(KillOfASession, CancelsARunningRequest) {
  OdbcClient* admin = admin_.get();
  OdbcClient* victim = victim_.get();
  const std::string& spid = spid_;
  std::future<BatchOutcome> running = std::async(std::launch::async, [&] {
    return victim->Execute("BEGIN TRAN INSERT crates VALUES (7) WAITFOR DELAY '00:01:00'");
  });
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (Scalar(*admin, "SELECT COUNT(*) FROM master..sysprocesses WHERE spid = " + spid +
                            " AND cmd <> 'AWAITING COMMAND'") != "1" &&
         std::chrono::steady_clock::now() < deadline) {
  }
  ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the request never showed as running";
  auto started = std::chrono::steady_clock::now();
  Must(*admin, "KILL " + spid);
  ASSERT_EQ(running.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
  EXPECT_EQ(Scalar(*admin, "SELECT COUNT(*) FROM crates"), "0");
}

// Only sysadmin and processadmin members may KILL; nobody kills their own
// session, and only a number names one.
TEST(Kill, RefusesWhatSqlServerRefuses) {
  testing_support::TestEngine engine;
  std::unique_ptr<OdbcClient> admin = Connect(engine);
  Must(*admin,
       "EXEC sp_addlogin 'clerk', 'Clerk#Pw1' EXEC sp_addlogin 'warden', 'Warden#Pw1' "
       "EXEC sp_addsrvrolemember 'warden', 'processadmin'");
  std::unique_ptr<OdbcClient> clerk = Connect(engine, "clerk", "Clerk#Pw1");
  std::unique_ptr<OdbcClient> warden = Connect(engine, "warden", "Warden#Pw1");
  const std::string clerk_spid = Scalar(*clerk, "SELECT @@SPID");

  BatchOutcome refused = clerk->Execute("KILL " + Scalar(*admin, "SELECT @@SPID"));
  ASSERT_NE(refused.Find(6102), nullptr) << refused.Describe();
  EXPECT_EQ(refused.Find(6102)->text, "User does not have permission to use the KILL statement.");

  BatchOutcome own = admin->Execute("KILL @@SPID");
  EXPECT_NE(own.Find(170), nullptr) << own.Describe();
  own = admin->Execute("KILL " + Scalar(*admin, "SELECT @@SPID"));
  ASSERT_NE(own.Find(6104), nullptr) << own.Describe();
  EXPECT_EQ(own.Find(6104)->text, "Cannot use KILL to kill your own process.");

  BatchOutcome status = admin->Execute("KILL " + clerk_spid + " WITH STATUSONLY");
  EXPECT_NE(status.Find(6120), nullptr) << status.Describe();
  BatchOutcome unknown = admin->Execute("KILL 4321");
  EXPECT_NE(unknown.Find(6106), nullptr) << unknown.Describe();

  // A processadmin member may.
  Must(*warden, "KILL " + clerk_spid);
  EXPECT_TRUE(clerk->Execute("SELECT 1").failed);
}

TEST(Shutdown, OnlySysadminAndServeradminMayStopTheEngine) {
  testing_support::TestEngine engine;
  std::unique_ptr<OdbcClient> admin = Connect(engine);
  Must(*admin,
       "EXEC sp_addlogin 'warden', 'Warden#Pw1' "
       "EXEC sp_addsrvrolemember 'warden', 'processadmin'");
  std::unique_ptr<OdbcClient> warden = Connect(engine, "warden", "Warden#Pw1");
  BatchOutcome refused = warden->Execute("SHUTDOWN");
  ASSERT_NE(refused.Find(6004), nullptr) << refused.Describe();
  EXPECT_EQ(refused.Find(6004)->text, "User does not have permission to perform this action.");
  BatchOutcome syntax = admin->Execute("SHUTDOWN WITH WAIT");
  EXPECT_NE(syntax.Find(170), nullptr) << syntax.Describe();
  EXPECT_EQ(Scalar(*admin, "SELECT 1"), "1");
}

// SHUTDOWN WITH NOWAIT stops the engine cleanly: committed rows are in the
// files, another session's open transaction is rolled back, and the engine
// starts again on the same home.
TEST(Shutdown, StopsTheEngineWithItsDataIntact) {
  for (const char* statement : {"SHUTDOWN", "SHUTDOWN WITH NOWAIT"}) {
    SCOPED_TRACE(statement);
    testing_support::TestEngine engine;
    std::unique_ptr<OdbcClient> admin = Connect(engine);
    Must(*admin,
         "CREATE DATABASE Depot USE Depot CREATE TABLE crates (id int PRIMARY KEY) "
         "INSERT crates VALUES (1) INSERT crates VALUES (2)");
    std::unique_ptr<OdbcClient> other = Connect(engine);
    Must(*other, "USE Depot BEGIN TRAN INSERT crates VALUES (3)");
    const int port = engine.Port();
    admin->Execute(statement);  // the caller's connection closes with the rest
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (testing_support::AcceptsOnLoopback(port) && std::chrono::steady_clock::now() < deadline) {
    }
    ASSERT_FALSE(testing_support::AcceptsOnLoopback(port)) << "the engine still listens";
    EXPECT_EQ(engine.Stop(), 0) << "the engine did not exit cleanly";
    admin.reset();
    other.reset();

    engine.Restart();
    std::unique_ptr<OdbcClient> again = Connect(engine);
    EXPECT_EQ(Scalar(*again, "SELECT COUNT(*) FROM Depot..crates"), "2");
    EXPECT_EQ(Scalar(*again, "SELECT MAX(id) FROM Depot..crates"), "2");
    Must(*again, "DBCC CHECKDB ('Depot')");
  }
}

}  // namespace
}  // namespace sqlengine::testing
