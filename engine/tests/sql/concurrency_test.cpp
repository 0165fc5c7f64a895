// Sessions writing at the same time over TCP: explicit transactions wait for
// each other's write lock instead of failing, deadlocks end with one victim,
// SET LOCK_TIMEOUT bounds a wait, and READ UNCOMMITTED reads pending rows.
#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/tests/sql/odbc_checks.h"
#include "engine/tests/sql/odbc_client.h"
#include "testing/test_engine.h"

namespace sqlengine::testing {
namespace {

constexpr int kAccounts = 4;

class Concurrency : public ::testing::Test {
 protected:
  void SetUp() override {
    admin_ = Connect();
    Must(*admin_, "CREATE TABLE accounts (id int PRIMARY KEY, balance int NOT NULL)");
    for (int id = 1; id <= kAccounts; ++id) {
      Must(*admin_, "INSERT INTO accounts VALUES (" + std::to_string(id) + ", 0)");
    }
    Must(*admin_, "CREATE TABLE events (id int IDENTITY(1,1), session int, n int)");
    Must(*admin_, "CREATE TABLE tickets (id int IDENTITY(100,5) PRIMARY KEY, note varchar(20))");
  }

  std::unique_ptr<OdbcClient> Connect(const std::string& database = "") {
    return std::make_unique<OdbcClient>(engine_.Port(), "sa", "", database);
  }



  // Runs `sql` on `client` in another thread.
  static std::future<BatchOutcome> Start(OdbcClient& client, std::string sql) {
    return std::async(std::launch::async,
                      [&client, sql = std::move(sql)] { return client.Execute(sql); });
  }

  testing_support::TestEngine engine_;
  std::unique_ptr<OdbcClient> admin_;
};

TEST_F(Concurrency, TransactionsThatReadThenWriteAndIdentityInsertsAllCommit) {
  constexpr int kSessions = 8;
  constexpr int kRounds = 15;
  std::vector<std::future<std::vector<BatchOutcome>>> sessions;
  for (int s = 0; s < kSessions; ++s) {
    sessions.push_back(std::async(std::launch::async, [this, s] {
      std::unique_ptr<OdbcClient> client = Connect();
      std::vector<BatchOutcome> outcomes;
      for (int n = 0; n < kRounds; ++n) {
        std::string account = std::to_string(1 + (s + n) % kAccounts);
        std::string values = std::to_string(s) + ", " + std::to_string(n);
        // Reads first, then writes: the snapshot of the read must not stop the write.
        outcomes.push_back(
            client->Execute("BEGIN TRAN "
                            "DECLARE @seen int SELECT @seen = count(*) FROM events "
                            "UPDATE accounts SET balance = balance + 1 WHERE id = " +
                            account + " INSERT INTO events (session, n) VALUES (" + values +
                            ") "
                            "INSERT INTO tickets (note) VALUES ('t') "
                            "COMMIT TRAN"));
        // An identity insert alone: the value it reports is the one its row got.
        std::string note = "s" + std::to_string(s) + "n" + std::to_string(n);
        BatchOutcome own =
            client->Execute("INSERT INTO tickets (note) VALUES ('" + note +
                            "') SELECT note FROM tickets WHERE id = SCOPE_IDENTITY()");
        if (!own.failed && (own.results.empty() || own.results[0].rows.empty() ||
                            own.results[0].rows[0][0] != note)) {
          own.failed = true;
          own.messages.push_back({0, "", "SCOPE_IDENTITY() is not the row of " + note});
        }
        outcomes.push_back(std::move(own));
      }
      return outcomes;
    }));
  }
  int failures = 0;
  for (auto& session : sessions) {
    for (const BatchOutcome& outcome : session.get()) {
      if (outcome.failed) ++failures;
      EXPECT_FALSE(outcome.failed) << outcome.Describe();
      EXPECT_EQ(outcome.Find(1222), nullptr);
    }
  }
  ASSERT_EQ(failures, 0);
  int total = kSessions * kRounds;
  EXPECT_EQ(Scalar(*admin_, "SELECT sum(balance) FROM accounts"), std::to_string(total));
  EXPECT_EQ(Scalar(*admin_, "SELECT count(*) FROM events"), std::to_string(total));
  EXPECT_EQ(Scalar(*admin_, "SELECT count(DISTINCT id) FROM events"), std::to_string(total));
  EXPECT_EQ(Scalar(*admin_, "SELECT max(id) FROM events"), std::to_string(total));
  // Every ticket got its own number of the 100, 105, ... series.
  EXPECT_EQ(Scalar(*admin_, "SELECT count(DISTINCT id) FROM tickets"), std::to_string(2 * total));
  EXPECT_EQ(Scalar(*admin_, "SELECT max(id) FROM tickets"),
            std::to_string(100 + 5 * (2 * total - 1)));
  EXPECT_EQ(Scalar(*admin_, "SELECT count(*) FROM tickets WHERE (id - 100) % 5 <> 0"), "0");
}

TEST_F(Concurrency, TwoRepeatableReadersThatBothWriteLeaveOneVictim) {
  std::unique_ptr<OdbcClient> first = Connect(), second = Connect();
  for (OdbcClient* client : {first.get(), second.get()}) {
    Must(*client,
         "SET TRANSACTION ISOLATION LEVEL REPEATABLE READ "
         "BEGIN TRAN SELECT balance FROM accounts WHERE id = 1");
  }
  Must(*first, "UPDATE accounts SET balance = balance + 10 WHERE id = 1");
  std::future<BatchOutcome> waiting =
      Start(*second, "UPDATE accounts SET balance = balance + 100 WHERE id = 1 SELECT 'went on'");
  Must(*first, "COMMIT TRAN");
  BatchOutcome victim = waiting.get();
  const DiagnosticRecord* deadlock = victim.Find(1205);
  ASSERT_NE(deadlock, nullptr) << victim.Describe();
  EXPECT_NE(deadlock->text.find("was deadlocked on lock resources with another process"),
            std::string::npos);
  EXPECT_TRUE(victim.results.empty()) << "the victim's batch ends";
  EXPECT_EQ(Scalar(*second, "SELECT @@TRANCOUNT"), "0");
  EXPECT_EQ(Scalar(*admin_, "SELECT balance FROM accounts WHERE id = 1"), "10");
  // The victim reruns its transaction and succeeds.
  Must(*second, "BEGIN TRAN UPDATE accounts SET balance = balance + 100 WHERE id = 1 COMMIT");
  EXPECT_EQ(Scalar(*admin_, "SELECT balance FROM accounts WHERE id = 1"), "110");
}

TEST_F(Concurrency, WritersWaitingForEachOthersDatabaseLeaveOneVictim) {
  Must(*admin_, "CREATE DATABASE north");
  Must(*admin_, "CREATE DATABASE south");
  Must(*admin_, "CREATE TABLE north..t (v int)");
  Must(*admin_, "CREATE TABLE south..t (v int)");
  std::unique_ptr<OdbcClient> in_north = Connect("north"), in_south = Connect("south");
  Must(*in_north, "BEGIN TRAN INSERT INTO t VALUES (1)");
  Must(*in_south, "BEGIN TRAN INSERT INTO t VALUES (2)");
  std::future<BatchOutcome> north_waits =
      Start(*in_north, "INSERT INTO south..t VALUES (1) SELECT 'north went on'");
  std::future<BatchOutcome> south_waits =
      Start(*in_south, "INSERT INTO north..t VALUES (2) SELECT 'south went on'");
  BatchOutcome north = north_waits.get(), south = south_waits.get();
  bool north_lost = north.Find(1205) != nullptr, south_lost = south.Find(1205) != nullptr;
  ASSERT_NE(north_lost, south_lost) << north.Describe() << "\n" << south.Describe();
  OdbcClient& winner = north_lost ? *in_south : *in_north;
  const BatchOutcome& survivor = north_lost ? south : north;
  EXPECT_FALSE(survivor.failed) << survivor.Describe();
  EXPECT_EQ(survivor.results.size(), 1u);
  EXPECT_EQ(Scalar(winner, "SELECT @@TRANCOUNT"), "1");
  Must(winner, "COMMIT TRAN");
  // The winner's two rows are there, the victim's none.
  std::string kept = north_lost ? "2" : "1";
  EXPECT_EQ(Scalar(*admin_, "SELECT count(*) FROM north..t WHERE v = " + kept), "1");
  EXPECT_EQ(Scalar(*admin_, "SELECT count(*) FROM south..t WHERE v = " + kept), "1");
  EXPECT_EQ(Scalar(*admin_, "SELECT count(*) FROM north..t"), "1");
  EXPECT_EQ(Scalar(*admin_, "SELECT count(*) FROM south..t"), "1");
}

TEST_F(Concurrency, LockTimeoutBoundsTheWaitForAHeldWriteLock) {
  std::unique_ptr<OdbcClient> holder = Connect(), other = Connect();
  EXPECT_EQ(Scalar(*other, "SELECT @@LOCK_TIMEOUT"), "30000");
  Must(*holder, "BEGIN TRAN UPDATE accounts SET balance = 1 WHERE id = 1");

  Must(*other, "SET LOCK_TIMEOUT 0");
  EXPECT_EQ(Scalar(*other, "SELECT @@LOCK_TIMEOUT"), "0");
  BatchOutcome no_wait = other->Execute("UPDATE accounts SET balance = 2 WHERE id = 2");
  ASSERT_NE(no_wait.Find(1222), nullptr) << no_wait.Describe();
  EXPECT_EQ(no_wait.Find(1222)->text, "Lock request time out period exceeded.");

  // In a transaction that read first: the statement fails, the transaction stays.
  Must(*other, "SET LOCK_TIMEOUT 150");
  BatchOutcome short_wait = other->Execute(
      "BEGIN TRAN SELECT count(*) FROM accounts "
      "UPDATE accounts SET balance = 3 WHERE id = 3");
  ASSERT_NE(short_wait.Find(1222), nullptr) << short_wait.Describe();
  EXPECT_EQ(Scalar(*other, "SELECT @@TRANCOUNT"), "1");

  // Reads never wait for the writer and see only committed rows.
  EXPECT_EQ(Scalar(*other, "SELECT balance FROM accounts WHERE id = 1"), "0");

  // Without a limit the wait lasts until the holder commits.
  Must(*other, "SET LOCK_TIMEOUT -1");
  EXPECT_EQ(Scalar(*other, "SELECT @@LOCK_TIMEOUT"), "-1");
  std::future<BatchOutcome> waiting =
      Start(*other, "UPDATE accounts SET balance = balance + 3 WHERE id = 1 COMMIT TRAN");
  EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
  Must(*holder, "COMMIT TRAN");
  BatchOutcome waited = waiting.get();
  EXPECT_FALSE(waited.failed) << waited.Describe();
  EXPECT_EQ(Scalar(*admin_, "SELECT balance FROM accounts WHERE id = 1"), "4");
}

TEST_F(Concurrency, ReadCommittedSeesNewCommitsAndKeepsItsSavepoints) {
  std::unique_ptr<OdbcClient> reader = Connect(), writer = Connect();
  Must(*reader, "BEGIN TRAN SAVE TRAN before_insert");
  EXPECT_EQ(Scalar(*reader, "SELECT count(*) FROM events"), "0");
  Must(*writer, "INSERT INTO events (session, n) VALUES (1, 1)");
  // The next statement sees the commit made after the transaction's first read.
  EXPECT_EQ(Scalar(*reader, "SELECT count(*) FROM events"), "1");
  Must(*reader, "INSERT INTO events (session, n) VALUES (2, 2)");
  Must(*reader, "ROLLBACK TRAN before_insert");
  Must(*reader, "INSERT INTO events (session, n) VALUES (3, 3)");
  Must(*reader, "COMMIT TRAN");
  EXPECT_EQ(Scalar(*admin_, "SELECT count(*) FROM events WHERE session IN (1, 3)"), "2");
  EXPECT_EQ(Scalar(*admin_, "SELECT count(*) FROM events WHERE session = 2"), "0");

  // REPEATABLE READ keeps the first snapshot for the whole transaction.
  Must(*reader, "SET TRANSACTION ISOLATION LEVEL REPEATABLE READ BEGIN TRAN");
  EXPECT_EQ(Scalar(*reader, "SELECT count(*) FROM events"), "2");
  Must(*writer, "INSERT INTO events (session, n) VALUES (4, 4)");
  EXPECT_EQ(Scalar(*reader, "SELECT count(*) FROM events"), "2");
  Must(*reader, "COMMIT TRAN");
  EXPECT_EQ(Scalar(*reader, "SELECT count(*) FROM events"), "3");
  BatchOutcome unknown = reader->Execute("SET TRANSACTION ISOLATION LEVEL CHAOS");
  EXPECT_TRUE(unknown.failed);
}

// A transaction that wrote only a #table waits for another writer's lock as
// any READ COMMITTED one: it is no deadlock victim of the commit it waited
// for, and its #table rows stay its own.
TEST_F(Concurrency, WriterThatWroteATempTableWaitsWithoutBecomingAVictim) {
  std::unique_ptr<OdbcClient> waiter = Connect(), holder = Connect();
  Must(*waiter, "BEGIN TRAN CREATE TABLE #w (a int) INSERT #w VALUES (1)");
  EXPECT_EQ(Scalar(*waiter, "SELECT balance FROM accounts WHERE id = 1"), "0");
  Must(*holder, "BEGIN TRAN UPDATE accounts SET balance = 5 WHERE id = 1");
  std::future<BatchOutcome> waiting =
      Start(*waiter, "UPDATE accounts SET balance = balance + 10 WHERE id = 1");
  EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
  Must(*holder, "COMMIT TRAN");
  BatchOutcome waited = waiting.get();
  EXPECT_FALSE(waited.failed) << waited.Describe();
  EXPECT_EQ(Scalar(*waiter, "SELECT sum(a) + @@TRANCOUNT FROM #w"), "2");
  Must(*waiter, "COMMIT TRAN");
  EXPECT_EQ(Scalar(*admin_, "SELECT balance FROM accounts WHERE id = 1"), "15");
}

TEST_F(Concurrency, ReadUncommittedSeesAnotherSessionsPendingRows) {
  std::unique_ptr<OdbcClient> writer = Connect(), reader = Connect();
  Must(*writer,
       "BEGIN TRAN UPDATE accounts SET balance = 7 WHERE id = 1 "
       "INSERT INTO events (session, n) VALUES (9, 9)");
  // READ COMMITTED, the default, reads the committed rows without waiting.
  EXPECT_EQ(Scalar(*reader, "SELECT balance FROM accounts WHERE id = 1"), "0");
  EXPECT_EQ(Scalar(*reader, "SELECT count(*) FROM events"), "0");
  // The hints read the pending change, for their statement only.
  EXPECT_EQ(Scalar(*reader, "SELECT balance FROM accounts WITH (NOLOCK) WHERE id = 1"), "7");
  EXPECT_EQ(Scalar(*reader, "SELECT count(*) FROM events (READUNCOMMITTED)"), "1");
  EXPECT_EQ(Scalar(*reader, "SELECT balance FROM accounts WHERE id = 1"), "0");

  Must(*reader, "SET TRANSACTION ISOLATION LEVEL READ UNCOMMITTED");
  EXPECT_EQ(Scalar(*reader, "SELECT balance FROM accounts WHERE id = 1"), "7");
  EXPECT_EQ(Scalar(*reader, "SELECT count(*) FROM events e JOIN accounts a ON a.id = 1 "
                            "WHERE e.session = 9 AND a.balance = 7"),
            "1");
  Must(*reader, "BEGIN TRAN");
  EXPECT_EQ(Scalar(*reader, "SELECT sum(balance) FROM accounts"), "7");
  Must(*reader, "COMMIT TRAN");
  // A statement that needs the reader's own temporary table still runs.
  Must(*reader, "CREATE TABLE #ids (id int)");
  Must(*reader, "INSERT INTO #ids VALUES (1)");
  EXPECT_EQ(Scalar(*reader, "SELECT count(*) FROM accounts a JOIN #ids i ON i.id = a.id"), "1");

  // What the writer rolls back is gone for every reader.
  Must(*writer, "ROLLBACK TRAN");
  EXPECT_EQ(Scalar(*reader, "SELECT balance FROM accounts WHERE id = 1"), "0");
  EXPECT_EQ(Scalar(*reader, "SELECT count(*) FROM events"), "0");

  // The reader sees its own pending rows, and the writer, read from, goes
  // on seeing other sessions' commits and writing.
  Must(*reader, "BEGIN TRAN INSERT INTO events (session, n) VALUES (2, 2)");
  EXPECT_EQ(Scalar(*reader, "SELECT count(*) FROM events WHERE session = 2"), "1");
  EXPECT_EQ(Scalar(*writer, "SELECT count(*) FROM events WITH (NOLOCK) WHERE session = 2"), "1");
  Must(*reader, "COMMIT TRAN");
  Must(*admin_, "UPDATE accounts SET balance = 5 WHERE id = 2");
  EXPECT_EQ(Scalar(*writer, "SELECT balance FROM accounts WHERE id = 2"), "5");
  Must(*writer, "UPDATE accounts SET balance = 3 WHERE id = 3");
  EXPECT_EQ(Scalar(*reader, "SELECT balance FROM accounts WHERE id = 3"), "3");

  // Back at READ COMMITTED the reader no longer sees pending rows.
  Must(*reader, "SET TRANSACTION ISOLATION LEVEL READ COMMITTED");
  Must(*writer, "BEGIN TRAN UPDATE accounts SET balance = 8 WHERE id = 4");
  EXPECT_EQ(Scalar(*reader, "SELECT balance FROM accounts WHERE id = 4"), "0");
  Must(*writer, "COMMIT TRAN");
  EXPECT_EQ(Scalar(*reader, "SELECT balance FROM accounts WHERE id = 4"), "8");
}

// READ UNCOMMITTED holds for every read a batch makes, not only a SELECT
// statement of its own: a procedure's SELECT, SELECT @v = ..., a condition,
// an expression's subquery and a keyed cursor's fetches. A write still
// waits for the writer's lock.
TEST_F(Concurrency, ReadUncommittedHoldsForEveryKindOfRead) {
  Must(*admin_, "CREATE PROCEDURE balance_of @id int AS SELECT balance FROM accounts WHERE id = @id");
  std::unique_ptr<OdbcClient> writer = Connect(), reader = Connect();
  const std::string keyset_fetch =
      "DECLARE k CURSOR KEYSET FOR SELECT balance FROM accounts WHERE id = 1 OPEN k "
      "DECLARE @b int FETCH k INTO @b CLOSE k DEALLOCATE k SELECT @b";
  const std::string dynamic_fetch =
      "DECLARE d CURSOR DYNAMIC FOR SELECT balance FROM accounts WHERE id >= 1 OPEN d "
      "DECLARE @b int FETCH NEXT FROM d INTO @b CLOSE d DEALLOCATE d SELECT @b";
  const std::vector<std::string> reads = {
      "EXEC balance_of 1",
      "DECLARE @b int SELECT @b = balance FROM accounts WHERE id = 1 SELECT @b",
      "IF EXISTS (SELECT * FROM accounts WHERE balance = 7) SELECT 7 ELSE SELECT 0",
      "DECLARE @b int SET @b = (SELECT balance FROM accounts WHERE id = 1) SELECT @b",
      "SELECT CASE WHEN 7 IN (SELECT balance FROM accounts) THEN 7 ELSE 0 END",
      keyset_fetch,
      dynamic_fetch,
  };
  // The keyset cursor opens before the change, so its fetch reads the row again.
  Must(*reader, "DECLARE early CURSOR KEYSET FOR SELECT balance FROM accounts WHERE id = 1 "
                "OPEN early");
  Must(*writer, "BEGIN TRAN UPDATE accounts SET balance = 7 WHERE id = 1");
  for (const std::string& read : reads) EXPECT_EQ(Scalar(*reader, read), "0") << read;
  EXPECT_EQ(Scalar(*reader, "DECLARE @b int FETCH FIRST FROM early INTO @b SELECT @b"), "0");

  Must(*reader, "SET TRANSACTION ISOLATION LEVEL READ UNCOMMITTED");
  for (const std::string& read : reads) EXPECT_EQ(Scalar(*reader, read), "7") << read;
  EXPECT_EQ(Scalar(*reader, "DECLARE @b int FETCH FIRST FROM early INTO @b SELECT @b"), "7");
  Must(*reader, "DEALLOCATE early");
  // A NOLOCK hint does the same at READ COMMITTED.
  Must(*reader, "SET TRANSACTION ISOLATION LEVEL READ COMMITTED");
  EXPECT_EQ(Scalar(*reader, "DECLARE @b int SELECT @b = balance FROM accounts WITH (NOLOCK) "
                            "WHERE id = 1 SELECT @b"),
            "7");
  EXPECT_EQ(Scalar(*reader, "IF EXISTS (SELECT * FROM accounts (NOLOCK) WHERE balance = 7) "
                            "SELECT 7 ELSE SELECT 0"),
            "7");

  // Reading uncommitted rows takes no licence to write past the writer.
  Must(*reader, "SET TRANSACTION ISOLATION LEVEL READ UNCOMMITTED");
  Must(*reader, "SET LOCK_TIMEOUT 100");
  BatchOutcome write = reader->Execute("UPDATE accounts SET balance = 1 WHERE id = 2");
  EXPECT_NE(write.Find(1222), nullptr) << write.Describe();
  BatchOutcome copy = reader->Execute(
      "INSERT INTO events (session, n) SELECT 1, balance FROM accounts WHERE id = 1");
  EXPECT_NE(copy.Find(1222), nullptr) << copy.Describe();

  Must(*writer, "ROLLBACK TRAN");
  for (const std::string& read : reads) EXPECT_EQ(Scalar(*reader, read), "0") << read;
}

}  // namespace
}  // namespace sqlengine::testing
