// What one session's statements see of another's commits inside a READ
// COMMITTED transaction (each statement sees every commit made before it
// began, whatever its transaction read earlier), and the undo of a failed
// statement of a transaction that changed many pages (its statement journal
// is kept in memory).
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "engine/tests/sql/odbc_checks.h"
#include "engine/tests/sql/odbc_client.h"
#include "testing/test_engine.h"

namespace sqlengine::testing {
namespace {

class StatementVisibility : public ::testing::Test {
 protected:
  void SetUp() override {
    admin_ = Connect();
    Must(*admin_, "CREATE TABLE t (id int PRIMARY KEY, v int NOT NULL)");
    Must(*admin_, "INSERT INTO t VALUES (1, 10)");
    Must(*admin_, "CREATE PROCEDURE read_v AS SELECT v FROM t WHERE id = 1");
    Must(*admin_, "CREATE DATABASE other");
    Must(*admin_, "CREATE TABLE other..o (k int)");
    Must(*admin_, "INSERT INTO other..o VALUES (1)");
  }

  std::unique_ptr<OdbcClient> Connect() {
    return std::make_unique<OdbcClient>(engine_.Port(), "sa", "", "");
  }

  testing_support::TestEngine engine_;
  std::unique_ptr<OdbcClient> admin_;
};

TEST_F(StatementVisibility, AReadCommittedTransactionSeesEachCommitAtItsNextStatement) {
  std::unique_ptr<OdbcClient> reader = Connect(), writer = Connect();
  const std::string read_v = "SELECT v FROM t WHERE id = 1";
  Must(*reader, "SET TRANSACTION ISOLATION LEVEL READ COMMITTED BEGIN TRAN");
  EXPECT_EQ(Scalar(*reader, read_v), "10");
  EXPECT_EQ(Scalar(*reader, read_v), "10") << "nothing committed in between";

  // A commit of a single statement, then one of a transaction.
  Must(*writer, "UPDATE t SET v = 11 WHERE id = 1");
  EXPECT_EQ(Scalar(*reader, read_v), "11");
  Must(*writer, "BEGIN TRAN UPDATE t SET v = 12 WHERE id = 1 INSERT INTO t VALUES (2, 0) COMMIT");
  EXPECT_EQ(Scalar(*reader, read_v), "12");
  EXPECT_EQ(Scalar(*reader, "SELECT count(*) FROM t"), "2");

  // A rolled back transaction shows nothing; the commit after it does.
  Must(*writer, "BEGIN TRAN UPDATE t SET v = 99 WHERE id = 1 ROLLBACK");
  EXPECT_EQ(Scalar(*reader, read_v), "12");
  Must(*writer, "UPDATE t SET v = 13 WHERE id = 1");
  EXPECT_EQ(Scalar(*reader, read_v), "13");

  // After the reader rolled back to its own savepoint.
  Must(*reader, "SAVE TRAN s SELECT v FROM t WHERE id = 1 ROLLBACK TRAN s");
  Must(*writer, "UPDATE t SET v = 14 WHERE id = 1");
  EXPECT_EQ(Scalar(*reader, read_v), "14");
  EXPECT_EQ(Scalar(*reader, "EXEC read_v"), "14");
  Must(*writer, "UPDATE t SET v = 15 WHERE id = 1");
  EXPECT_EQ(Scalar(*reader, "EXEC read_v"), "15") << "inside a procedure";
  // Within one batch, statement by statement.
  Must(*writer, "UPDATE t SET v = 16 WHERE id = 1");
  BatchOutcome both = reader->Execute(read_v + " " + read_v);
  ASSERT_EQ(both.results.size(), 2u) << both.Describe();
  EXPECT_EQ(both.results[1].rows[0][0].value_or("NULL"), "16");

  // Another session's DDL: a new table, a new column, a dropped table.
  Must(*writer, "CREATE TABLE u (k int) INSERT INTO u VALUES (1) INSERT INTO u VALUES (2)");
  EXPECT_EQ(Scalar(*reader, "SELECT count(*) FROM u"), "2");
  Must(*writer, "ALTER TABLE t ADD w int NULL");
  Must(*writer, "UPDATE t SET w = 5 WHERE id = 1");
  EXPECT_EQ(Scalar(*reader, "SELECT w FROM t WHERE id = 1"), "5");
  Must(*writer, "DROP TABLE u");
  BatchOutcome gone = reader->Execute("SELECT count(*) FROM u");
  EXPECT_NE(gone.Find(208), nullptr) << gone.Describe();

  // Two databases read by the one transaction: a commit to either is seen.
  EXPECT_EQ(Scalar(*reader, "SELECT count(*) FROM other..o"), "1");
  EXPECT_EQ(Scalar(*reader, "SELECT v FROM t WHERE id = 1"), "16");
  Must(*writer, "INSERT INTO other..o VALUES (2)");
  EXPECT_EQ(Scalar(*reader, "SELECT count(*) FROM other..o"), "2");
  Must(*writer, "UPDATE t SET v = 17 WHERE id = 1");
  EXPECT_EQ(Scalar(*reader, "SELECT (SELECT count(*) FROM other..o) * 100 + v FROM t WHERE id = 1"),
            "217");
  Must(*writer, "INSERT INTO other..o VALUES (3)");
  EXPECT_EQ(Scalar(*reader, "SELECT (SELECT count(*) FROM other..o) * 100 + v FROM t WHERE id = 1"),
            "317");

  EXPECT_EQ(Scalar(*reader, "SELECT @@TRANCOUNT"), "1");
  Must(*reader, "COMMIT");
}

TEST_F(StatementVisibility, AFailedStatementOfManyPagesIsUndoneAndTheTransactionGoesOn) {
  Must(*admin_, "CREATE TABLE wide (id int PRIMARY KEY, n int NOT NULL, pad char(2000) NOT NULL)");
  Must(*admin_, "CREATE INDEX wide_n ON wide (n)");
  Must(*admin_,
       "DECLARE @i int SET @i = 1 WHILE @i <= 200 BEGIN "
       "INSERT INTO wide VALUES (@i, 1, 'a') SET @i = @i + 1 END");
  std::unique_ptr<OdbcClient> session = Connect();
  // About fifty pages changed by one statement of a transaction, then a
  // statement that fails at its last row after changing all the others.
  Must(*session, "BEGIN TRAN UPDATE wide SET pad = 'changed', n = n + 1 - 1");
  BatchOutcome failed = session->Execute(
      "UPDATE wide SET pad = 'again', n = CASE WHEN id = 200 THEN 1 / 0 ELSE 2 END");
  EXPECT_NE(failed.Find(8134), nullptr) << failed.Describe();
  EXPECT_EQ(Scalar(*session, "SELECT @@TRANCOUNT"), "1");
  EXPECT_EQ(Scalar(*session, "SELECT count(*) FROM wide WHERE pad = 'changed' AND n = 1"), "200");
  Must(*session, "UPDATE wide SET n = 3 WHERE id = 7");
  Must(*session, "COMMIT");
  EXPECT_EQ(Scalar(*admin_, "SELECT sum(n) FROM wide WHERE pad = 'changed'"), "202");
}

}  // namespace
}  // namespace sqlengine::testing
