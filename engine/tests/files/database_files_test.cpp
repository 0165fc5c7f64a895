// Database files end to end against a real engine: backup and restore round
// trips, detach / copy / attach with only the data file, shrinking after
// deletes, and kill -9 in the middle of a backup and of a shrink.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <thread>

#include "engine/tests/files/file_test_support.h"
#include "engine/tests/sql/odbc_client.h"
#include "testing/test_engine.h"

namespace sqlengine::testing {
namespace {

using testing_support::TestEngine;

// A table t (id, v) of `rows` rows with `width` characters each.
void Fill(OdbcClient& client, const std::string& database, int rows, int width) {
  Ok(client, "CREATE DATABASE [" + database + "]");
  Ok(client, "USE [" + database + "] CREATE TABLE t (id int PRIMARY KEY, v nvarchar(max))");
  Ok(client, "DECLARE @i int = 0 WHILE @i < " + std::to_string(rows) +
                 " BEGIN INSERT INTO t VALUES (@i, REPLICATE(char(65 + @i % 26), " +
                 std::to_string(width) + ")) SET @i = @i + 1 END");
  Ok(client, "USE master");
}

std::string Listing(OdbcClient& client, const std::string& database) {
  std::string all;
  for (const std::string& row :
       Query(client, "SELECT id, v FROM [" + database + "]..t ORDER BY id")) {
    all += row + "\n";
  }
  return all;
}

class DatabaseFilesTest : public ::testing::Test {
 protected:
  void SetUp() override { elsewhere_ = testing_support::MakeTempFolder("files elsewhere 'é'"); }
  void TearDown() override { std::filesystem::remove_all(elsewhere_); }
  std::filesystem::path elsewhere_;
};

TEST_F(DatabaseFilesTest, RestoreBringsBackTheBackedUpRowsInPlaceAndAsAMovedCopy) {
  TestEngine engine;
  OdbcClient client(engine.Port(), "sa", "");
  Fill(client, "round trip", 300, 500);
  std::string original = Listing(client, "round trip");
  std::filesystem::path backup = elsewhere_ / "round trip.bak";
  Ok(client,
     "BACKUP DATABASE [round trip] TO DISK = " + Quoted(backup) + " WITH INIT, NAME = 'full'");
  Ok(client,
     "DELETE FROM [round trip]..t WHERE id % 3 = 0 UPDATE [round trip]..t SET v = 'changed'");
  ASSERT_NE(Listing(client, "round trip"), original);

  BatchOutcome restored =
      Ok(client, "RESTORE DATABASE [round trip] FROM DISK = " + Quoted(backup) + " WITH REPLACE");
  ASSERT_NE(restored.Find(3014), nullptr) << restored.Describe();
  EXPECT_NE(restored.Find(3014)->text.find("RESTORE DATABASE successfully processed"),
            std::string::npos);
  EXPECT_EQ(Listing(client, "round trip"), original);

  std::filesystem::path copy = elsewhere_ / "the copy.mdf";
  Ok(client, "RESTORE DATABASE copied FROM DISK = " + Quoted(backup) +
                 " WITH MOVE 'round trip' TO " + Quoted(copy) + ", RECOVERY");
  EXPECT_EQ(Listing(client, "copied"), original);
  EXPECT_TRUE(std::filesystem::exists(copy));
  EXPECT_TRUE(std::filesystem::exists(elsewhere_ / "the copy_log.ldf"));
  BatchOutcome help = Ok(client, "EXEC sp_helpdb 'copied'");
  ASSERT_EQ(help.results.size(), 2u);
  ASSERT_EQ(help.results[1].rows.size(), 2u);
  EXPECT_EQ(help.results[1].rows[0].at(2).value_or("").substr(0, copy.string().size()),
            copy.string());

  BatchOutcome headers = Ok(client, "RESTORE HEADERONLY FROM DISK = " + Quoted(backup));
  ASSERT_EQ(headers.results.size(), 1u);
  const ResultSet& header = headers.results[0];
  auto column = [&](const std::string& name) {
    for (size_t i = 0; i < header.columns.size(); ++i) {
      if (header.columns[i] == name) return header.rows.at(0).at(i).value_or("NULL");
    }
    return std::string("no column ") + name;
  };
  ASSERT_EQ(header.rows.size(), 1u);
  EXPECT_EQ(column("DatabaseName"), "round trip");
  EXPECT_EQ(column("BackupName"), "full");
  EXPECT_EQ(column("Position"), "1");
  EXPECT_EQ(column("BackupType"), "1");

  BatchOutcome files = Ok(client, "RESTORE FILELISTONLY FROM DISK = " + Quoted(backup));
  ASSERT_EQ(Rows(files).size(), 2u);
  EXPECT_EQ(Rows(files)[0].substr(0, 11), "round trip|");

  engine.Stop();
  PlainFile plain(copy);
  EXPECT_EQ(plain.Text("PRAGMA integrity_check"), "ok");
  EXPECT_EQ(plain.Text("PRAGMA auto_vacuum"), "2");
  EXPECT_EQ(plain.Text("PRAGMA page_size"), "8192");
}

TEST_F(DatabaseFilesTest, ADetachedDataFileStandsAloneAndAttachesWithoutItsLog) {
  TestEngine engine;
  OdbcClient client(engine.Port(), "sa", "");
  Fill(client, "leaving", 200, 300);
  std::string original = Listing(client, "leaving");
  Ok(client, "EXEC sp_detach_db 'leaving'");

  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(engine.DataFolder())) {
    std::string name = entry.path().filename().string();
    if (name.rfind("leaving", 0) == 0) left.push_back(name);
  }
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"leaving.mdf", "leaving_log.ldf"}));
  EXPECT_EQ(std::filesystem::file_size(engine.DataFolder() / "leaving_log.ldf"), 0u);

  std::filesystem::path moved = elsewhere_ / "moved here.mdf";
  std::filesystem::copy_file(engine.DataFolder() / "leaving.mdf", moved);
  {
    PlainFile plain(moved);
    EXPECT_EQ(plain.Text("SELECT count(*) FROM t"), "200");
    EXPECT_EQ(plain.Text("PRAGMA integrity_check"), "ok");
  }
  BatchOutcome attached =
      Ok(client, "EXEC sp_attach_single_file_db @dbname = 'arrived', @physname = " + Quoted(moved));
  ASSERT_NE(attached.Find(5105), nullptr) << attached.Describe();
  ASSERT_NE(attached.Find(5182), nullptr) << attached.Describe();
  EXPECT_NE(attached.Find(5182)->text.find("moved here_log.ldf"), std::string::npos);
  EXPECT_EQ(Listing(client, "arrived"), original);
  Ok(client, "INSERT INTO arrived..t VALUES (1000, 'new')");

  // The original files attach again under the old name.
  Ok(client, "CREATE DATABASE leaving ON (FILENAME = 'leaving.mdf') FOR ATTACH");
  EXPECT_EQ(Listing(client, "leaving"), original);
}

TEST_F(DatabaseFilesTest, ShrinkReleasesFreedPagesAndKeepsEveryRow) {
  TestEngine engine;
  OdbcClient client(engine.Port(), "sa", "");
  Fill(client, "roomy", 600, 3000);
  Ok(client, "DELETE FROM roomy..t WHERE id % 10 <> 0");
  std::string kept = Listing(client, "roomy");
  Ok(client, "USE roomy DBCC SHRINKFILE (roomy_log) USE master");  // the log's pages reach the file
  std::filesystem::path file = engine.DataFolder() / "roomy.mdf";
  auto before = std::filesystem::file_size(file);

  BatchOutcome shrink = Ok(client, "DBCC SHRINKDATABASE (roomy, 5)");
  ASSERT_NE(shrink.Find(2528), nullptr) << shrink.Describe();
  std::vector<std::string> rows = Rows(shrink);
  ASSERT_FALSE(rows.empty());
  std::vector<long> values;
  size_t start = 0;
  for (size_t bar = rows[0].find('|');; bar = rows[0].find('|', start)) {
    values.push_back(std::stol(rows[0].substr(start, bar - start)));
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  ASSERT_EQ(values.size(), 6u);
  EXPECT_EQ(values[1], 1);  // the data file
  auto after = std::filesystem::file_size(file);
  EXPECT_LT(after, before / 3);
  EXPECT_EQ(static_cast<long>(after / 8192), values[2]);
  EXPECT_EQ(Listing(client, "roomy"), kept);

  // Nothing left to give: the completion message still comes first.
  BatchOutcome again = Ok(client, "DBCC SHRINKDATABASE (roomy, 5, TRUNCATEONLY)");
  ASSERT_EQ(again.messages.size(), 2u) << again.Describe();
  EXPECT_EQ(again.messages[0].native, 2528);
  EXPECT_EQ(again.messages[1].native, 5201);
  EXPECT_TRUE(again.results.empty());
  EXPECT_EQ(Listing(client, "roomy"), kept);
}

TEST_F(DatabaseFilesTest, ShrinkRunsWhileAnotherSessionHoldsAReadSnapshot) {
  TestEngine engine;
  OdbcClient reader(engine.Port(), "sa", "");
  Fill(reader, "shared", 300, 3000);
  Ok(reader, "DELETE FROM shared..t WHERE id >= 30");
  std::string kept = Listing(reader, "shared");
  Ok(reader, "USE shared BEGIN TRAN SELECT count(*) FROM t");
  OdbcClient shrinker(engine.Port(), "sa", "");
  BatchOutcome shrink = Ok(shrinker, "DBCC SHRINKDATABASE (shared, 5)");
  EXPECT_NE(shrink.Find(2528), nullptr) << shrink.Describe();
  EXPECT_EQ(Query(reader, "SELECT count(*) FROM t"), std::vector<std::string>{"30"});
  Ok(reader, "COMMIT USE master");
  EXPECT_EQ(Listing(reader, "shared"), kept);
  EXPECT_EQ(Listing(shrinker, "shared"), kept);
}

TEST_F(DatabaseFilesTest, BackupsAppendedByTwoSessionsAtOnceAllStayInTheFile) {
  TestEngine engine;
  {
    OdbcClient client(engine.Port(), "sa", "");
    Fill(client, "busy", 50, 200);
  }
  std::filesystem::path file = elsewhere_ / "shared.bak";
  auto backups = [&] {
    OdbcClient client(engine.Port(), "sa", "");
    for (int i = 0; i < 3; ++i) Ok(client, "BACKUP DATABASE busy TO DISK = " + Quoted(file));
  };
  std::thread first(backups);
  std::thread second(backups);
  first.join();
  second.join();
  OdbcClient client(engine.Port(), "sa", "");
  BatchOutcome headers = Ok(client, "RESTORE HEADERONLY FROM DISK = " + Quoted(file));
  ASSERT_EQ(headers.results.size(), 1u);
  EXPECT_EQ(headers.results[0].rows.size(), 6u);
  Ok(client, "RESTORE DATABASE last_one FROM DISK = " + Quoted(file) + " WITH FILE = 6");
  EXPECT_EQ(Listing(client, "last_one"), Listing(client, "busy"));
}

// Runs `sql` on its own connection in a thread; the engine is killed under it.
class Interrupted {
 public:
  Interrupted(int port, std::string sql)
      : client_(port, "sa", ""), thread_([this, sql] {
          started_ = true;
          client_.Execute(sql);
        }) {}
  ~Interrupted() { thread_.join(); }
  bool Started() const { return started_; }

 private:
  OdbcClient client_;
  std::atomic<bool> started_{false};
  std::thread thread_;
};

bool PollFor(const std::function<bool()>& condition) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    if (condition()) return true;
    std::this_thread::yield();
  }
  return false;
}

bool ScratchFileExists(const std::filesystem::path& folder) {
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ignored)) {
    std::string name = entry.path().filename().string();
    if (name.find(".image-") != std::string::npos || name.find(".partial-") != std::string::npos)
      return true;
  }
  return false;
}

TEST_F(DatabaseFilesTest, EveryDatabaseIsIntactAfterAKillDuringBackupAndDuringShrink) {
  TestEngine engine;
  std::string count;
  {
    OdbcClient client(engine.Port(), "sa", "");
    Fill(client, "big", 1500, 4000);
    count = Query(client, "SELECT count(*), sum(len(v)) FROM big..t").at(0);
  }
  {
    Interrupted backup(engine.Port(), "BACKUP DATABASE big TO DISK = 'big.bak'");
    EXPECT_TRUE(PollFor([&] { return ScratchFileExists(engine.Home() / "backup"); }));
    engine.Kill();
  }
  engine.Restart();
  {
    OdbcClient client(engine.Port(), "sa", "");
    EXPECT_EQ(Query(client, "SELECT count(*), sum(len(v)) FROM big..t").at(0), count);
    // The next backup to that file clears what the killed one left behind.
    Ok(client, "BACKUP DATABASE big TO DISK = 'big.bak'");
    EXPECT_FALSE(ScratchFileExists(engine.Home() / "backup"));
    Ok(client, "DELETE FROM big..t WHERE id % 20 <> 0");
    count = Query(client, "SELECT count(*), sum(len(v)) FROM big..t").at(0);
  }
  {
    Interrupted shrink(engine.Port(), "DBCC SHRINKDATABASE (big, 0)");
    EXPECT_TRUE(PollFor([&] { return shrink.Started(); }));
    engine.Kill();
  }
  engine.Restart();
  {
    OdbcClient client(engine.Port(), "sa", "");
    EXPECT_EQ(Query(client, "SELECT count(*), sum(len(v)) FROM big..t").at(0), count);
    for (const std::string& name : Query(client, "SELECT name FROM master..sysdatabases")) {
      Ok(client, "USE [" + name + "]");
    }
  }
  engine.Stop();
  for (const auto& entry : std::filesystem::directory_iterator(engine.DataFolder())) {
    if (entry.path().extension() != ".mdf") continue;
    PlainFile plain(entry.path());
    EXPECT_EQ(plain.Text("PRAGMA integrity_check"), "ok") << entry.path();
  }
}

}  // namespace
}  // namespace sqlengine::testing

namespace sqlengine::testing {
namespace {

// The texts of a batch's messages, in order, "number: text".
std::vector<std::string> Messages(const BatchOutcome& outcome) {
  std::vector<std::string> lines;
  for (const DiagnosticRecord& record : outcome.messages)
    lines.push_back(std::to_string(record.native) + ": " + record.text);
  return lines;
}

// Changes `from` to `to` (same length) inside page `page` of a closed file.
void PatchPage(const std::filesystem::path& file, std::int64_t page, const std::string& from,
               const std::string& to) {
  constexpr std::int64_t kPage = 8192;
  std::fstream data(file, std::ios::in | std::ios::out | std::ios::binary);
  std::string bytes(kPage, '\0');
  data.seekg((page - 1) * kPage);
  data.read(bytes.data(), kPage);
  size_t at = bytes.find(from);
  ASSERT_NE(at, std::string::npos) << from << " not on page " << page;
  data.seekp((page - 1) * kPage + static_cast<std::int64_t>(at));
  data.write(to.data(), static_cast<std::streamsize>(to.size()));
}

TEST_F(DatabaseFilesTest, CheckdbFindsNothingInASoundDatabaseAndEachDamageDoneWhileDetached) {
  TestEngine engine;
  OdbcClient client(engine.Port(), "sa", "");
  Ok(client, "CREATE DATABASE chk");
  Ok(client,
     "USE chk CREATE TABLE t (id int IDENTITY(1,1) PRIMARY KEY, code varchar(20), born datetime) "
     "CREATE INDEX ix_code ON t (code) CREATE TABLE u (id int) INSERT INTO u VALUES (1) "
     "DECLARE @i int = 1 WHILE @i <= 20 BEGIN "
     "INSERT INTO t (code, born) VALUES ('code-' + right('000' + cast(@i AS varchar(4)), 4), "
     "'2024-01-02') SET @i = @i + 1 END");

  EXPECT_EQ(Messages(Ok(client, "DBCC CHECKDB")),
            (std::vector<std::string>{
                "2536: DBCC results for 'chk'.", "2536: DBCC results for 't'.",
                "2593: There are 20 rows in 1 pages for object 't'.",
                "2536: DBCC results for 'u'.", "2593: There are 1 rows in 1 pages for object 'u'.",
                "8989: CHECKDB found 0 allocation errors and 0 consistency errors in database 'chk'.",
                "2528: DBCC execution completed. If DBCC printed error messages, contact your system "
                "administrator."}));
  EXPECT_TRUE(Ok(client, "DBCC CHECKDB ('chk') WITH NO_INFOMSGS").messages.empty());
  EXPECT_EQ(Messages(Ok(client, "DBCC CHECKTABLE ('t')")),
            (std::vector<std::string>{
                "2536: DBCC results for 't'.", "2593: There are 20 rows in 1 pages for object 't'.",
                "2528: DBCC execution completed. If DBCC printed error messages, contact your system "
                "administrator."}));
  BatchOutcome unknown = client.Execute("DBCC CHECKTABLE ('nosuch')");
  EXPECT_TRUE(unknown.failed);
  EXPECT_NE(unknown.Find(2501), nullptr) << unknown.Describe();

  Ok(client, "USE master EXEC sp_detach_db 'chk'");
  std::filesystem::path file = engine.DataFolder() / "chk.mdf";
  std::int64_t index_root = 0;
  {
    PlainFile plain(file);
    index_root = std::stoll(plain.Text("SELECT rootpage FROM sqlite_master WHERE name = 'ix_code'"));
    // A catalog row lost and an identity counter set back behind the rows.
    sqlite3_exec(plain.db,
                 "DELETE FROM sqlengine_objects WHERE name = 'u'; "
                 "UPDATE sqlite_sequence SET seq = 5 WHERE name = 't'",
                 nullptr, nullptr, nullptr);
  }
  // One key of the index no longer matches its row.
  PatchPage(file, index_root, "code-0007", "code-x007");
  Ok(client, "CREATE DATABASE chk ON (FILENAME = 'chk.mdf') FOR ATTACH");

  BatchOutcome damaged = client.Execute("DBCC CHECKDB ('chk') WITH NO_INFOMSGS");
  EXPECT_TRUE(damaged.failed);
  std::string all = damaged.Describe();
  const DiagnosticRecord* index = damaged.Find(8951);
  ASSERT_NE(index, nullptr) << all;
  EXPECT_NE(index->text.find("index 'ix_code'"), std::string::npos) << all;
  EXPECT_NE(all.find("Object 'u' has no row in sysobjects."), std::string::npos) << all;
  EXPECT_NE(all.find("The identity of table 't' is at 5, short of the value 20 already in use."),
            std::string::npos)
      << all;
  // Keys out of order hide several rows from the index: one finding each.
  long index_findings = std::count_if(damaged.messages.begin(), damaged.messages.end(),
                                      [](const DiagnosticRecord& m) { return m.native == 8951; });
  std::string in_t = std::to_string(index_findings + 1);
  std::string in_all = std::to_string(index_findings + 2);
  EXPECT_NE(all.find("8990: CHECKDB found 0 allocation errors and " + in_t +
                     " consistency errors in table 't'"),
            std::string::npos)
      << all;
  EXPECT_NE(all.find("8989: CHECKDB found 0 allocation errors and " + in_all +
                     " consistency errors in database 'chk'."),
            std::string::npos)
      << all;
  EXPECT_NE(all.find("8958: repair_rebuild is the minimum repair level for the errors found by "
                     "DBCC CHECKDB (chk)."),
            std::string::npos)
      << all;
  EXPECT_EQ(damaged.messages.back().native, 2528);

  // CHECKTABLE sees the damage of its own table only.
  BatchOutcome table = client.Execute("USE chk DBCC CHECKTABLE ('u')");
  EXPECT_TRUE(table.failed) << table.Describe();
  EXPECT_EQ(table.Find(8951), nullptr);
  BatchOutcome damaged_table = client.Execute("DBCC CHECKTABLE ('dbo.t') WITH NO_INFOMSGS");
  EXPECT_NE(damaged_table.Find(8951), nullptr) << damaged_table.Describe();
}

}  // namespace
}  // namespace sqlengine::testing
