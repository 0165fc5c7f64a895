// Schema changes and row versions that must outlast the engine: an altered
// column keeps its new definition, and a database's row version counter goes
// on from where it stood, across a restart, a backup and restore, and a
// detach and attach.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/tests/sql/odbc_client.h"
#include "testing/test_engine.h"

namespace sqlengine::testing {
namespace {

std::string First(OdbcClient& client, const std::string& sql) {
  BatchOutcome outcome = client.Execute(sql);
  EXPECT_FALSE(outcome.failed) << sql << "\n" << outcome.Describe();
  for (const ResultSet& result : outcome.results) {
    if (!result.rows.empty() && !result.rows[0].empty()) return result.rows[0][0].value_or("NULL");
  }
  return "<no row>";
}

void Ok(OdbcClient& client, const std::string& sql) {
  BatchOutcome outcome = client.Execute(sql);
  ASSERT_FALSE(outcome.failed) << sql << "\n" << outcome.Describe();
}

TEST(SchemaChanges, AlteredColumnsAndRowVersionsOutlastRestartBackupAndAttach) {
  testing_support::TestEngine engine;
  std::filesystem::path backup = engine.DataFolder().parent_path() / "stamps.bak";
  {
    OdbcClient client(engine.Port(), "sa", "");
    Ok(client, "CREATE DATABASE stamps");
    Ok(client,
       "USE stamps CREATE TABLE t (id int, v varchar(5), ts timestamp) "
       "INSERT INTO t (id, v) VALUES (1, 'a') INSERT INTO t (id, v) VALUES (2, 'b') "
       "ALTER TABLE t ALTER COLUMN v varchar(30) NOT NULL");
    EXPECT_EQ(First(client, "SELECT @@DBTS"), "00000000000007d2");
  }
  ASSERT_EQ(engine.Stop(), 0);
  engine.Restart();
  {
    OdbcClient client(engine.Port(), "sa", "", "stamps");
    EXPECT_EQ(First(client, "SELECT @@DBTS"), "00000000000007d2");
    Ok(client, "INSERT INTO t (id, v) VALUES (3, REPLICATE('c', 30))");
    EXPECT_EQ(First(client, "SELECT ts FROM t WHERE id = 3"), "00000000000007d3");
    BatchOutcome longer = client.Execute("INSERT INTO t (id, v) VALUES (4, REPLICATE('d', 31))");
    EXPECT_NE(longer.Find(8152), nullptr) << longer.Describe();
    BatchOutcome null = client.Execute("INSERT INTO t (id) VALUES (5)");
    EXPECT_NE(null.Find(515), nullptr) << null.Describe();

    Ok(client, "BACKUP DATABASE stamps TO DISK = '" + backup.string() + "' WITH INIT");
    Ok(client, "UPDATE t SET v = 'x'");
    EXPECT_EQ(First(client, "SELECT @@DBTS"), "00000000000007d6");
    Ok(client, "USE master RESTORE DATABASE stamps FROM DISK = '" + backup.string() + "'");
    Ok(client, "USE stamps");
    // The restored database hands out what follows its own last value.
    EXPECT_EQ(First(client, "SELECT @@DBTS"), "00000000000007d3");
    Ok(client, "UPDATE t SET v = 'y' WHERE id = 1");
    EXPECT_EQ(First(client, "SELECT ts FROM t WHERE id = 1"), "00000000000007d4");

    Ok(client, "USE master EXEC sp_detach_db 'stamps'");
    std::string data = (engine.DataFolder() / "stamps.mdf").string();
    Ok(client, "EXEC sp_attach_single_file_db 'stamps', '" + data + "'");
    Ok(client, "USE stamps");
    EXPECT_EQ(First(client, "SELECT @@DBTS"), "00000000000007d4");
    EXPECT_EQ(First(client, "SELECT count(DISTINCT ts) FROM t"), "3");
  }
}

// Sessions writing the same database at once never take the same row version.
TEST(SchemaChanges, ConcurrentWritersTakeDistinctRowVersions) {
  testing_support::TestEngine engine;
  {
    OdbcClient client(engine.Port(), "sa", "");
    Ok(client, "CREATE DATABASE busy");
    Ok(client,
       "USE busy CREATE TABLE a (n int, ts timestamp) CREATE TABLE b (n int, ts rowversion)");
  }
  constexpr int kRows = 40;
  std::vector<std::thread> writers;
  for (std::string table : {"a", "b", "a"}) {
    writers.emplace_back([&engine, table] {
      OdbcClient client(engine.Port(), "sa", "", "busy");
      for (int i = 0; i < kRows; ++i) {
        BatchOutcome outcome =
            client.Execute("INSERT INTO " + table + " (n) VALUES (" + std::to_string(i) +
                           ") UPDATE " + table + " SET n = n + 1 WHERE n = " + std::to_string(i));
        EXPECT_FALSE(outcome.failed) << outcome.Describe();
      }
    });
  }
  for (std::thread& writer : writers) writer.join();
  OdbcClient client(engine.Port(), "sa", "", "busy");
  EXPECT_EQ(First(client, "SELECT count(*) FROM (SELECT ts FROM a UNION ALL SELECT ts FROM b) v"),
            std::to_string(3 * kRows));
  EXPECT_EQ(First(client,
                  "SELECT count(DISTINCT ts) FROM (SELECT ts FROM a UNION ALL SELECT ts FROM b) v"),
            std::to_string(3 * kRows));
  // Every value handed out is at most @@DBTS.
  EXPECT_EQ(First(client, "SELECT count(*) FROM a WHERE ts > @@DBTS"), "0");
}

}  // namespace
}  // namespace sqlengine::testing
