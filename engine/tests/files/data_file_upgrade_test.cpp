// Data files made by earlier versions of the engine: attached, restored or
// found at start, they are brought to the current format once, with a copy
// of the file as it was, and left untouched when that fails.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "engine/tests/files/file_test_support.h"
#include "engine/tests/sql/odbc_client.h"
#include "testing/test_engine.h"

namespace sqlengine::testing {
namespace {

using testing_support::TestEngine;

constexpr const char* kCurrentFormat = "1";

// The table's triggers, oldest first (SQLite fires them newest first).
std::string TriggerOrder(PlainFile& file, const std::string& table) {
  return file.Text(
      "SELECT group_concat(name, ',') FROM (SELECT name FROM sqlite_master WHERE type = "
      "'trigger' AND tbl_name = '" +
      table + "' ORDER BY rowid)");
}

// Makes `table`'s identity triggers its newest, as files made before their
// order was kept have them, and marks the file as of that time.
void MakeIdentityTriggersNewest(const std::filesystem::path& data_file, const std::string& table) {
  PlainFile file(data_file);
  for (const char* role : {"mark", "assign"}) {
    std::string name = "sqlengine_identity_" + table + "_" + role;
    std::string sql = file.Text("SELECT sql FROM sqlite_master WHERE name = '" + name + "'");
    ASSERT_EQ(
        sqlite3_exec(file.db, ("DROP TRIGGER \"" + name + "\"").c_str(), nullptr, nullptr, nullptr),
        SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(file.db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sql;
  }
  ASSERT_EQ(sqlite3_exec(file.db, "PRAGMA user_version=0", nullptr, nullptr, nullptr), SQLITE_OK);
  ASSERT_TRUE(TriggerOrder(file, table).ends_with("_mark,sqlengine_identity_" + table + "_assign"));
}

// A table whose identity steps by 5, with length and decimal checks, in a
// database detached to `folder`; its data file.
std::filesystem::path SteppedTableFile(OdbcClient& client, const std::filesystem::path& folder) {
  std::filesystem::path data_file = folder / "stepped.mdf";
  Ok(client, "CREATE DATABASE stepped ON (NAME = stepped, FILENAME = " + Quoted(data_file) + ")");
  Ok(client,
     "USE stepped CREATE TABLE s (id int IDENTITY(10, 5), c char(3), d decimal(5,2)) "
     "INSERT INTO s (c, d) VALUES ('abc', 1.5) USE master");
  Ok(client, "EXEC sp_detach_db 'stepped'");
  return data_file;
}

// What a stepped table must do whatever file it came from.
void ExpectCheckedRows(OdbcClient& client) {
  BatchOutcome refused = client.Execute("INSERT INTO stepped..s (c) VALUES ('toolong')");
  EXPECT_NE(refused.Find(8152), nullptr) << refused.Describe();
  Ok(client, "INSERT INTO stepped..s (c, d) VALUES ('xyz', 2.345)");
  EXPECT_EQ(Query(client, "SELECT id, c, d FROM stepped..s ORDER BY id"),
            (std::vector<std::string>{"10|abc|1.50", "15|xyz|2.35"}));
}

class DataFileUpgradeTest : public ::testing::Test {
 protected:
  void SetUp() override { folder_ = testing_support::MakeTempFolder("old files"); }
  void TearDown() override { std::filesystem::remove_all(folder_); }
  std::filesystem::path folder_;
};

TEST_F(DataFileUpgradeTest, AFileOfTheFirstFormatAttachesWithItsValuesAndKeepsACopy) {
  std::filesystem::path data_file = folder_ / "legacy_numbers.mdf";
  std::filesystem::copy_file(std::filesystem::path(OLD_DATA_FILES) / "legacy_numbers.mdf",
                             data_file);
  TestEngine engine;
  OdbcClient client(engine.Port(), "sa", "");
  Ok(client, "CREATE DATABASE legacy_numbers ON (FILENAME = " + Quoted(data_file) + ") FOR ATTACH");
  EXPECT_EQ(Query(client,
                  "SELECT id, price, fee, rate, small FROM legacy_numbers..amounts WHERE id > 2 "
                  "ORDER BY id"),
            (std::vector<std::string>{"3|0.1000|0.2000|0.3000|0.10", "4|19.9900|NULL|NULL|NULL",
                                      "5|0.0000|0.0000|0.0000|0.00"}));
  EXPECT_EQ(Query(client, "SELECT count(*) FROM legacy_numbers..amounts WHERE price > 0"),
            std::vector<std::string>{"3"});
  Ok(client, "EXEC sp_detach_db 'legacy_numbers'");

  PlainFile upgraded(data_file);
  EXPECT_EQ(upgraded.Text("PRAGMA user_version"), kCurrentFormat);
  EXPECT_EQ(upgraded.Text("SELECT count(*) FROM amounts"), "5");
  std::filesystem::path copy = folder_ / "legacy_numbers.mdf.format0";
  ASSERT_TRUE(std::filesystem::exists(copy));
  PlainFile kept(copy);
  EXPECT_EQ(kept.Text("PRAGMA user_version"), "0");
  EXPECT_EQ(
      kept.Text("SELECT group_concat(price, ',') FROM (SELECT price FROM amounts ORDER BY id)"),
      "922337203685478.0,-922337203685478.0,0.1,19.99,0");
}

TEST_F(DataFileUpgradeTest, AttachPutsTheIdentityTriggersOfAnOldFileFirst) {
  TestEngine engine;
  OdbcClient client(engine.Port(), "sa", "");
  std::filesystem::path data_file = SteppedTableFile(client, folder_);
  MakeIdentityTriggersNewest(data_file, "s");

  Ok(client, "EXEC sp_attach_db 'stepped', " + Quoted(data_file));
  ExpectCheckedRows(client);
  Ok(client, "EXEC sp_detach_db 'stepped'");
  PlainFile upgraded(data_file);
  EXPECT_EQ(upgraded.Text("PRAGMA user_version"), kCurrentFormat);
  EXPECT_TRUE(TriggerOrder(upgraded, "s")
                  .starts_with("sqlengine_identity_s_mark,sqlengine_identity_s_assign,"))
      << TriggerOrder(upgraded, "s");
}

TEST_F(DataFileUpgradeTest, AnOldDatabaseOfTheInstanceIsUpgradedWhenTheEngineStarts) {
  TestEngine engine;
  std::filesystem::path data_file;
  {
    OdbcClient client(engine.Port(), "sa", "");
    data_file = SteppedTableFile(client, engine.DataFolder());
    Ok(client, "EXEC sp_attach_db 'stepped', " + Quoted(data_file));
  }
  ASSERT_EQ(engine.Stop(), 0);
  MakeIdentityTriggersNewest(data_file, "s");
  engine.Restart();
  OdbcClient client(engine.Port(), "sa", "");
  ExpectCheckedRows(client);
  EXPECT_TRUE(std::filesystem::exists(data_file.string() + ".format0"));
  // A current file is left alone: no second copy, no second upgrade.
  std::filesystem::remove(data_file.string() + ".format0");
  ASSERT_EQ(engine.Stop(), 0);
  engine.Restart();
  EXPECT_FALSE(std::filesystem::exists(data_file.string() + ".format0"));
}

// Replaces the image of the only set in backup file `backup` by the data
// file `image`, as a backup made by an earlier version holds its own format.
void ReplaceBackupImage(const std::filesystem::path& backup, const std::filesystem::path& image) {
  constexpr size_t kBlock = 4096;
  std::ifstream in(backup, std::ios::binary);
  std::string header(kBlock, '\0');
  in.read(header.data(), kBlock);
  std::ifstream image_in(image, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(image_in)), std::istreambuf_iterator<char>());
  size_t size_at = header.find("image_size=");
  ASSERT_NE(size_at, std::string::npos);
  size_t line_end = header.find('\n', size_at);
  std::string fields = header.substr(0, size_at) + "image_size=" + std::to_string(bytes.size()) +
                       header.substr(line_end, header.find('\0') - line_end);
  fields.resize(kBlock, '\0');
  bytes.resize((bytes.size() + kBlock - 1) / kBlock * kBlock, '\0');
  std::ofstream out(backup, std::ios::binary | std::ios::trunc);
  out << fields << bytes;
}

TEST_F(DataFileUpgradeTest, ARestoredBackupOfAnOldFileIsUpgradedWithoutACopy) {
  TestEngine engine;
  OdbcClient client(engine.Port(), "sa", "");
  std::filesystem::path data_file = SteppedTableFile(client, folder_);
  Ok(client, "EXEC sp_attach_db 'stepped', " + Quoted(data_file));
  std::filesystem::path backup = folder_ / "stepped.bak";
  Ok(client, "BACKUP DATABASE stepped TO DISK = " + Quoted(backup) + " WITH INIT");
  Ok(client, "EXEC sp_detach_db 'stepped'");
  MakeIdentityTriggersNewest(data_file, "s");
  ReplaceBackupImage(backup, data_file);

  std::filesystem::path restored = folder_ / "restored.mdf";
  Ok(client, "RESTORE DATABASE stepped FROM DISK = " + Quoted(backup) + " WITH MOVE 'stepped' TO " +
                 Quoted(restored));
  ExpectCheckedRows(client);
  EXPECT_FALSE(std::filesystem::exists(restored.string() + ".format0"));
  Ok(client, "EXEC sp_detach_db 'stepped'");
  PlainFile upgraded(restored);
  EXPECT_EQ(upgraded.Text("PRAGMA user_version"), kCurrentFormat);
}

TEST_F(DataFileUpgradeTest, AFailedUpgradeLeavesTheFileAsItWasAndAttachesNothing) {
  TestEngine engine;
  OdbcClient client(engine.Port(), "sa", "");
  std::filesystem::path data_file = SteppedTableFile(client, folder_);
  MakeIdentityTriggersNewest(data_file, "s");
  std::string before;
  {
    // A trigger SQLite loads but will not make again under its name: the
    // upgrade's second step fails after its first one changed the file.
    PlainFile file(data_file);
    std::string old_name = "sqlengine_length_INSERT_s_c";
    ASSERT_EQ(sqlite3_exec(file.db,
                           ("PRAGMA writable_schema=ON; UPDATE sqlite_master SET name = "
                            "'sqlite_kept', sql = replace(sql, '" +
                            old_name + "', 'sqlite_kept') WHERE name = '" + old_name + "'")
                               .c_str(),
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
  }
  {
    PlainFile file(data_file);
    before = TriggerOrder(file, "s");
    ASSERT_NE(before.find("sqlite_kept"), std::string::npos) << before;
  }

  BatchOutcome refused = client.Execute("EXEC sp_attach_db 'stepped', " + Quoted(data_file));
  EXPECT_NE(refused.Find(1813), nullptr) << refused.Describe();
  EXPECT_EQ(Query(client, "SELECT count(*) FROM master..sysdatabases WHERE name = 'stepped'"),
            std::vector<std::string>{"0"});
  EXPECT_FALSE(std::filesystem::exists(data_file.string() + ".format0"));
  PlainFile file(data_file);
  EXPECT_EQ(file.Text("PRAGMA user_version"), "0");
  EXPECT_EQ(TriggerOrder(file, "s"), before);
  EXPECT_EQ(file.Text("SELECT group_concat(c, ',') FROM s"), "abc");
}

TEST_F(DataFileUpgradeTest, AFileOfALaterFormatIsRefusedUntouched) {
  TestEngine engine;
  OdbcClient client(engine.Port(), "sa", "");
  std::filesystem::path data_file = SteppedTableFile(client, folder_);
  {
    PlainFile file(data_file);
    ASSERT_EQ(sqlite3_exec(file.db, "PRAGMA user_version=99", nullptr, nullptr, nullptr),
              SQLITE_OK);
  }
  BatchOutcome refused = client.Execute("EXEC sp_attach_db 'stepped', " + Quoted(data_file));
  EXPECT_NE(refused.Find(1813), nullptr) << refused.Describe();
  PlainFile file(data_file);
  EXPECT_EQ(file.Text("PRAGMA user_version"), "99");
  EXPECT_FALSE(std::filesystem::exists(data_file.string() + ".format99"));
}

TEST_F(DataFileUpgradeTest, NewDataFilesAreMadeInTheCurrentFormat) {
  TestEngine engine;
  OdbcClient client(engine.Port(), "sa", "");
  std::filesystem::path data_file = SteppedTableFile(client, folder_);
  PlainFile file(data_file);
  EXPECT_EQ(file.Text("PRAGMA user_version"), kCurrentFormat);
  EXPECT_FALSE(std::filesystem::exists(data_file.string() + ".format0"));
}

}  // namespace
}  // namespace sqlengine::testing
