// What scripts cannot express: durability across kill -9, the files a
// database has, concurrency between sessions, and cancellation.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

#include "engine/common/engine_api.h"
#include "engine/tests/sql/odbc_client.h"
#include "engine/tests/sql/recording_sink.h"
#include "testing/test_engine.h"

namespace sqlengine::testing {
namespace {

using std::chrono::steady_clock;

std::string FirstValue(const BatchOutcome& outcome) {
  if (outcome.results.empty() || outcome.results[0].rows.empty()) return "<no row>";
  return outcome.results[0].rows[0][0].value_or("NULL");
}

TEST(Durability, CommittedRowsSurviveKill9AndTheFilesStayPaired) {
  testing_support::TestEngine engine;
  auto client = std::make_unique<OdbcClient>(engine.Port(), "sa", "");
  ASSERT_FALSE(client->Execute("CREATE DATABASE keep").failed);
  ASSERT_FALSE(client->Execute("USE keep CREATE TABLE t (a int, b nvarchar(20))").failed);
  for (int i = 0; i < 150; ++i) {
    ASSERT_FALSE(client->Execute("INSERT INTO t VALUES (" + std::to_string(i) + ", N'ü')").failed);
  }
  std::filesystem::path data = engine.DataFolder() / "keep.mdf";
  std::filesystem::path log = engine.DataFolder() / "keep_log.ldf";
  EXPECT_TRUE(std::filesystem::exists(data));
  EXPECT_GT(std::filesystem::file_size(log), 0u)
      << "committed work lives in the log until a checkpoint";
  engine.Kill();
  client.reset();

  engine.Restart();
  OdbcClient after(engine.Port(), "sa", "", "keep");
  EXPECT_EQ(FirstValue(after.Execute("SELECT count(*) FROM t WHERE b = N'ü'")), "150");
  ASSERT_EQ(engine.Stop(), 0);

  // Cleanly stopped, the data file is complete on its own and its log empty.
  EXPECT_EQ(std::filesystem::file_size(log), 0u);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(data.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* check = nullptr;
  sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr);
  ASSERT_EQ(sqlite3_step(check), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(check, 0)), "ok");
  sqlite3_finalize(check);
  sqlite3_prepare_v2(db, "PRAGMA page_size", -1, &check, nullptr);
  ASSERT_EQ(sqlite3_step(check), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(check, 0), 8192);
  sqlite3_finalize(check);
  sqlite3_prepare_v2(db, "PRAGMA auto_vacuum", -1, &check, nullptr);
  ASSERT_EQ(sqlite3_step(check), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(check, 0), 2);
  sqlite3_finalize(check);
  sqlite3_close(db);
}

// Session commits do not sync inside SQLite and take over its automatic
// checkpoints: the committed pages must still reach the data file while the
// engine runs, not only at a clean stop.
TEST(Durability, CheckpointsCopyCommitsIntoTheDataFileWhileTheEngineRuns) {
  testing_support::TestEngine engine;
  OdbcClient client(engine.Port(), "sa", "");
  ASSERT_FALSE(
      client.Execute("CREATE DATABASE ck USE ck CREATE TABLE t (a int, b varchar(max))").failed);
  std::string rows;
  std::string page_of_text = "'" + std::string(7000, 'x') + "'";
  for (int i = 0; i < 25; ++i)
    rows += "INSERT INTO t VALUES (" + std::to_string(i) + ", " + page_of_text + ") ";
  // 60 commits of 25 pages and more each: past SQLite's 1000-page threshold.
  for (int n = 0; n < 60; ++n) {
    BatchOutcome outcome = client.Execute("BEGIN TRAN " + rows + "COMMIT TRAN");
    ASSERT_FALSE(outcome.failed) << outcome.Describe();
  }
  EXPECT_GT(std::filesystem::file_size(engine.DataFolder() / "ck.mdf"), 4u << 20)
      << "no checkpoint ran: every page is still only in the log";
  EXPECT_EQ(FirstValue(client.Execute("SELECT count(*) FROM ck..t")), "1500");
}

TEST(Durability, DropRemovesBothFilesAndTempdbStartsEmpty) {
  testing_support::TestEngine engine;
  {
    OdbcClient client(engine.Port(), "sa", "");
    ASSERT_FALSE(
        client.Execute("CREATE DATABASE gone USE tempdb CREATE TABLE scratch (a int)").failed);
    EXPECT_TRUE(std::filesystem::exists(engine.DataFolder() / "gone_log.ldf"));
    ASSERT_FALSE(client.Execute("USE master DROP DATABASE gone").failed);
  }
  EXPECT_FALSE(std::filesystem::exists(engine.DataFolder() / "gone.mdf"));
  EXPECT_FALSE(std::filesystem::exists(engine.DataFolder() / "gone_log.ldf"));
  engine.Restart();
  OdbcClient client(engine.Port(), "sa", "", "tempdb");
  EXPECT_NE(client.Execute("SELECT * FROM scratch").Find(208), nullptr);
}

class InProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = testing_support::MakeTempFolder("sqlengine-inproc");
    engine_ = OpenEngine(home_, log_);
  }
  void TearDown() override {
    engine_.reset();
    std::filesystem::remove_all(home_);
  }

  std::unique_ptr<SqlSession> Connect(const std::string& database = "") {
    LoginRequest request;
    request.user = "sa";
    request.database = database;
    LoginResult result = engine_->Login(request);
    EXPECT_TRUE(result.session) << (result.messages.empty() ? "" : result.messages[0].text);
    return std::move(result.session);
  }

  static void Run(SqlSession& session, const std::string& sql) {
    RecordingSink sink;
    session.ExecuteBatch(sql, sink);
    ASSERT_FALSE(sink.HasError()) << sql << ": " << sink.messages.at(0).text;
  }

  // Calls Cancel() until the batch running on `done` returns, within a deadline.
  static bool CancelUntilDone(SqlSession& session, std::future<void>& done) {
    auto deadline = steady_clock::now() + std::chrono::seconds(10);
    while (steady_clock::now() < deadline) {
      session.Cancel();
      if (done.wait_for(std::chrono::milliseconds(10)) == std::future_status::ready) return true;
    }
    return false;
  }

  Log log_;
  std::filesystem::path home_;
  std::unique_ptr<Engine> engine_;
};

// Whether `sql` fails with `number`.
bool FailsWith(SqlSession& session, const std::string& sql, int number) {
  RecordingSink sink;
  session.ExecuteBatch(sql, sink);
  for (const ServerMessage& message : sink.messages) {
    if (message.number == number) return true;
  }
  return false;
}

TEST_F(InProcess, NoSysadminGetsAnEmptyPasswordWhileTheEngineListensBeyondLoopback) {
  std::unique_ptr<SqlSession> sa = Connect();
  Run(*sa, "EXEC sp_password NULL, 'Str0ng', 'sa'");
  Run(*sa, "EXEC sp_addlogin 'empty', ''");
  Run(*sa, "EXEC sp_addlogin 'admin2', 'Adm1n'");
  Run(*sa, "EXEC sp_addsrvrolemember 'admin2', 'sysadmin'");
  engine_->SetListensBeyondLoopback(true);

  EXPECT_TRUE(FailsWith(*sa, "EXEC sp_password 'Str0ng', '', 'sa'", 15118));
  EXPECT_TRUE(FailsWith(*sa, "EXEC sp_password NULL, NULL, 'admin2'", 15118));
  EXPECT_TRUE(FailsWith(*sa, "EXEC sp_addsrvrolemember 'empty', 'sysadmin'", 15118));
  EXPECT_FALSE(engine_->SysadminHasEmptyPassword());
  LoginRequest with_old;
  with_old.user = "sa";
  with_old.password = "Str0ng";
  EXPECT_TRUE(engine_->Login(with_old).session) << "sa's password stayed";

  // A plain login may still have an empty password; other roles are not guarded.
  Run(*sa, "EXEC sp_addsrvrolemember 'empty', 'dbcreator'");
  // On loopback only, an empty sysadmin password is the administrator's choice.
  engine_->SetListensBeyondLoopback(false);
  Run(*sa, "EXEC sp_addsrvrolemember 'empty', 'sysadmin'");
  EXPECT_TRUE(engine_->SysadminHasEmptyPassword());
}

TEST_F(InProcess, LoginMessagesAndRefusals) {
  LoginRequest request;
  request.user = "sa";
  LoginResult ok = engine_->Login(request);
  ASSERT_TRUE(ok.session);
  ASSERT_EQ(ok.messages.size(), 2u);
  EXPECT_EQ(ok.messages[0].number, 5701);
  EXPECT_EQ(ok.messages[0].text, "Changed database context to 'master'.");
  EXPECT_EQ(ok.messages[1].text, "Changed language setting to us_english.");

  request.integrated = true;
  EXPECT_EQ(engine_->Login(request).messages.at(0).number, 18452);
  request.integrated = false;
  request.database = "nosuch";
  LoginResult bad_database = engine_->Login(request);
  EXPECT_FALSE(bad_database.session);
  EXPECT_EQ(bad_database.messages.at(0).number, 4060);
  EXPECT_TRUE(engine_->SysadminHasEmptyPassword());
  Run(*ok.session, "EXEC sp_password NULL, 'Str0ng!'");
  EXPECT_FALSE(engine_->SysadminHasEmptyPassword());
}

// A duplicate key ends only its statement (2627, then 3621) unless
// XACT_ABORT makes it end the batch: then 3621 is not sent.
TEST_F(InProcess, XactAbortEndsTheBatchWithoutTerminatingTheStatement) {
  auto sa = Connect();
  Run(*sa, "CREATE TABLE once (k int PRIMARY KEY) INSERT INTO once VALUES (1)");
  auto numbers = [&](const std::string& sql) {
    RecordingSink sink;
    sa->ExecuteBatch(sql, sink);
    std::vector<int> sent;
    for (const ServerMessage& message : sink.messages) sent.push_back(message.number);
    return sent;
  };
  EXPECT_EQ(numbers("INSERT INTO once VALUES (1)"), (std::vector<int>{2627, 3621}));
  EXPECT_EQ(numbers("SET XACT_ABORT ON INSERT INTO once VALUES (1) PRINT 'not reached'"),
            (std::vector<int>{2627}));
}

TEST_F(InProcess, SlowReaderBlocksNoOtherSession) {
  auto setup = Connect();
  Run(*setup, "CREATE DATABASE a CREATE DATABASE b");
  Run(*setup,
      "USE a CREATE TABLE big (n int) INSERT INTO big VALUES (1) "
      "INSERT INTO big SELECT n + 1 FROM big INSERT INTO big SELECT n + 2 FROM big "
      "INSERT INTO big SELECT n + 4 FROM big INSERT INTO big SELECT n + 8 FROM big");
  Run(*setup, "USE b CREATE TABLE t (n int)");

  auto reader = Connect("a");
  std::mutex mutex;
  std::condition_variable changed;
  bool first_row = false, release = false;
  RecordingSink slow;
  slow.on_row = [&] {
    std::unique_lock lock(mutex);
    first_row = true;
    changed.notify_all();
    changed.wait(lock, [&] { return release; });
  };
  std::thread streaming([&] { reader->ExecuteBatch("SELECT n FROM big", slow); });
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(10), [&] { return first_row; }));
  }
  // While the reader sits on its first row: another database, another reader
  // and a writer of the same database all proceed.
  auto other = Connect("b");
  auto second_reader = Connect("a");
  auto writer = Connect("a");
  auto started = steady_clock::now();
  Run(*other, "INSERT INTO t VALUES (1) SELECT count(*) FROM t");
  RecordingSink counted;
  second_reader->ExecuteBatch("SELECT count(*) FROM big", counted);
  Run(*writer, "INSERT INTO big VALUES (99)");
  EXPECT_LT(steady_clock::now() - started, std::chrono::seconds(5));
  ASSERT_EQ(counted.results.size(), 1u);
  EXPECT_EQ(std::get<std::int64_t>(counted.results[0].rows[0][0]), 16);
  {
    std::lock_guard lock(mutex);
    release = true;
  }
  changed.notify_all();
  streaming.join();
  ASSERT_EQ(slow.results.size(), 1u);
  EXPECT_EQ(slow.results[0].rows.size(), 16u) << "the reader keeps its snapshot";
}

TEST_F(InProcess, CancelStopsWaitsAndLongQueriesAndTheSessionGoesOn) {
  auto session = Connect();
  Run(*session,
      "CREATE TABLE n (v int) INSERT INTO n VALUES (1) INSERT INTO n SELECT v + 1 FROM n "
      "INSERT INTO n SELECT v + 2 FROM n INSERT INTO n SELECT v + 4 FROM n "
      "INSERT INTO n SELECT v + 8 FROM n INSERT INTO n SELECT v + 16 FROM n");
  for (std::string sql :
       {"WAITFOR DELAY '00:05:00'", "SELECT count(*) FROM n a, n b, n c, n d, n e, n f"}) {
    RecordingSink sink;
    auto started = steady_clock::now();
    std::future<void> done =
        std::async(std::launch::async, [&] { session->ExecuteBatch(sql, sink); });
    ASSERT_TRUE(CancelUntilDone(*session, done)) << sql;
    EXPECT_LT(steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_FALSE(sink.HasError()) << "a cancelled batch ends quietly: " << sql << ": "
                                  << (sink.messages.empty() ? std::string()
                                                            : sink.messages.front().text);
  }
  RecordingSink after;
  session->ExecuteBatch("SELECT count(*) FROM n", after);
  ASSERT_EQ(after.results.size(), 1u);
  EXPECT_EQ(std::get<std::int64_t>(after.results[0].rows[0][0]), 32);
}

// A cancel ends the batch and undoes no more than the statement it stopped:
// the transaction stays open with what it did before (SQLite, left to
// itself, rolls the whole transaction back when it interrupts a write).
TEST_F(InProcess, CancelInATransactionKeepsTheTransaction) {
  auto session = Connect();
  Run(*session,
      "CREATE TABLE big (a int) INSERT INTO big VALUES (0) " +
          [] {
            std::string doubling;
            for (int i = 0; i < 16; ++i) doubling += "INSERT INTO big SELECT a FROM big ";
            return doubling;
          }() +
          "CREATE TABLE kept (k int) BEGIN TRAN INSERT INTO kept VALUES (1)");
  for (std::string sql : {"WHILE 1 = 1 UPDATE big SET a = a + 1",
                          "SELECT count(*) FROM big x, big y"}) {
    RecordingSink sink;
    std::future<void> done =
        std::async(std::launch::async, [&] { session->ExecuteBatch(sql, sink); });
    ASSERT_TRUE(CancelUntilDone(*session, done)) << sql;
    RecordingSink after;
    session->ExecuteBatch("SELECT @@TRANCOUNT, (SELECT count(*) FROM kept), "
                          "(SELECT count(DISTINCT a) FROM big)", after);
    ASSERT_EQ(after.results.size(), 1u) << sql;
    const auto& row = after.results[0].rows.at(0);
    EXPECT_EQ(std::get<std::int64_t>(row[0]), 1) << sql;
    EXPECT_EQ(std::get<std::int64_t>(row[1]), 1) << sql;
    EXPECT_EQ(std::get<std::int64_t>(row[2]), 1) << "each UPDATE whole or not at all: " << sql;
  }
  Run(*session, "ROLLBACK");
}

TEST_F(InProcess, CancelEndsALockWait) {
  auto holder = Connect();
  auto waiter = Connect();
  Run(*holder, "CREATE TABLE w (a int) BEGIN TRAN INSERT INTO w VALUES (1)");
  RecordingSink sink;
  std::future<void> done = std::async(
      std::launch::async, [&] { waiter->ExecuteBatch("INSERT INTO w VALUES (2)", sink); });
  ASSERT_TRUE(CancelUntilDone(*waiter, done));
  Run(*holder, "COMMIT");
  RecordingSink count;
  waiter->ExecuteBatch("SELECT count(*) FROM w", count);
  EXPECT_EQ(std::get<std::int64_t>(count.results.at(0).rows.at(0)[0]), 1);
}

TEST(Attention, CancelOverTcpLeavesTheConnectionUsable) {
  testing_support::TestEngine engine;
  OdbcClient client(engine.Port(), "sa", "");
  std::future<BatchOutcome> running =
      std::async(std::launch::async, [&] { return client.Execute("WAITFOR DELAY '00:02:00'"); });
  auto deadline = steady_clock::now() + std::chrono::seconds(20);
  while (running.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready &&
         steady_clock::now() < deadline) {
    client.Cancel();
  }
  ASSERT_EQ(running.wait_for(std::chrono::seconds(0)), std::future_status::ready);
  running.get();
  EXPECT_EQ(FirstValue(client.Execute("SELECT 41 + 1")), "42");
}

// Warning 8153 reaches an ODBC application with the rows of the aggregate
// that skipped a NULL (the fetch carries it), and only then: not for an
// aggregate over values without NULLs, nor under ANSI_WARNINGS OFF.
TEST(NullWarning, ReachesTheApplicationOnlyWhenAnAggregateSkipsANull) {
  testing_support::TestEngine engine;
  OdbcClient client(engine.Port(), "sa", "");
  ASSERT_FALSE(client.Execute("CREATE TABLE m (k int NOT NULL, v int NULL) "
                              "INSERT INTO m VALUES (1, 5) INSERT INTO m VALUES (2, NULL)")
                   .failed);
  BatchOutcome skipped = client.Execute("SELECT SUM(v) FROM m");
  EXPECT_EQ(FirstValue(skipped), "5");
  const DiagnosticRecord* warning = skipped.Find(8153);
  ASSERT_NE(warning, nullptr) << skipped.Describe();
  EXPECT_EQ(warning->state, "01003");  // the driver's state for this warning
  EXPECT_NE(warning->text.find("Null value is eliminated by an aggregate"), std::string::npos);

  BatchOutcome grouped = client.Execute("SELECT k, COUNT(v) FROM m GROUP BY k ORDER BY k");
  ASSERT_EQ(grouped.results.size(), 1u);
  EXPECT_EQ(grouped.results[0].rows.size(), 2u);
  EXPECT_NE(grouped.Find(8153), nullptr) << grouped.Describe();

  for (const char* quiet : {"SELECT SUM(k), MAX(v) FROM m WHERE v IS NOT NULL",
                            "SELECT COUNT(*), SUM(k) FROM m", "SELECT v FROM m"}) {
    BatchOutcome outcome = client.Execute(quiet);
    EXPECT_EQ(outcome.Find(8153), nullptr) << quiet << "\n" << outcome.Describe();
  }
  BatchOutcome off = client.Execute("SET ANSI_WARNINGS OFF SELECT SUM(v) FROM m");
  EXPECT_EQ(FirstValue(off), "5");
  EXPECT_EQ(off.Find(8153), nullptr) << off.Describe();
  BatchOutcome on = client.Execute("SET ANSI_WARNINGS ON SELECT AVG(v) FROM m");
  EXPECT_NE(on.Find(8153), nullptr) << on.Describe();

  // Once per statement, however many of its aggregates or rows skip one;
  // each statement of a batch has its own.
  auto warnings = [](const BatchOutcome& outcome) {
    return std::count_if(outcome.messages.begin(), outcome.messages.end(),
                         [](const DiagnosticRecord& m) { return m.native == 8153; });
  };
  for (const char* once :
       {"SELECT MAX(v) FROM m UNION ALL SELECT MIN(v) FROM m",
        "SELECT COUNT(v) FROM m GROUP BY k, v ORDER BY 1",
        "SELECT k, (SELECT MAX(v) FROM m), (SELECT MIN(v) FROM m) FROM m ORDER BY k"}) {
    BatchOutcome outcome = client.Execute(once);
    EXPECT_EQ(warnings(outcome), 1) << once << "\n" << outcome.Describe();
  }
  BatchOutcome two = client.Execute("SELECT MAX(v) FROM m UNION ALL SELECT MIN(v) FROM m "
                                    "SELECT SUM(v) FROM m");
  EXPECT_EQ(two.results.size(), 2u);
  EXPECT_EQ(warnings(two), 2) << two.Describe();
}

}  // namespace
}  // namespace sqlengine::testing
