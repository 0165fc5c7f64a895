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

constexpr const char* kCurrentFormat = "7";

// The table's triggers, oldest first (SQLite fires them newest first).
std::string TriggerOrder(PlainFile& file, const std::string& table) {
  return file.Text(
      "SELECT group_concat(name, ',') FROM (SELECT name FROM sqlite_master WHERE type = "
      "'trigger' AND tbl_name = '" +
      table + "' ORDER BY rowid)");
}

std::string FileBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A copy, at `to`, of the data file an engine of format 1 made (see
// exact_numbers_format1.sql): decimal and money columns held as doubles, a
// DEFAULT, CHECKs, a computed column and an index over them, a view and a
// procedure that compute with them, and an identity table `s`.
std::filesystem::path FormatOneFile(const std::filesystem::path& to) {
  std::filesystem::copy_file(std::filesystem::path(OLD_DATA_FILES) / "exact_numbers_format1.mdf",
                             to, std::filesystem::copy_options::overwrite_existing);
  return to;
}

// Makes the format-1 file at `data_file` one of format 0: that format had
// the identity triggers of `table` as its newest, and nothing else differed.
void MakeFormatZero(const std::filesystem::path& data_file, const std::string& table) {
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

// What the identity table `s` of `database` must do whatever file it came from.
void ExpectCheckedRows(OdbcClient& client, const std::string& database) {
  BatchOutcome refused = client.Execute("INSERT INTO " + database + "..s (c) VALUES ('toolong')");
  EXPECT_NE(refused.Find(8152), nullptr) << refused.Describe();
  Ok(client, "INSERT INTO " + database + "..s (c, d) VALUES ('xyz', 2.345)");
  EXPECT_EQ(Query(client, "SELECT id, c, d FROM " + database + "..s ORDER BY id"),
            (std::vector<std::string>{"10|abc|1.50", "15|xyz|2.35"}));
}

// The rows of the format-1 file's ledger as they must read once upgraded:
// each value the double it was stored as, at its column's scale, money's
// edges as the edges themselves.
const std::vector<std::string> kLedgerRows = {
    "1|922337203685477.5807|214748.3647|9999999.99|12345678901.2345|"
    "1234567890123456850245451776.0000000000|4999999.9950000000000",
    "2|-922337203685477.5808|-214748.3648|-999999.99|-0.0001|-0.0000000001|-499999.9950000000000",
    "3|0.1000|0.2000|0.30|12345678901234.5680|0.1000000000|0.1500000000000",
    "4|19.9900|NULL|1.05|NULL|NULL|0.5250000000000",
    "5|0.0000|0.0000|0.00|0.0000|0.0000000000|0.0000000000000",
    "6|12.5000|1.2345|-12.34|3.1416|100000000000.0000000000|-6.1700000000000",
    "7|1234.5678|-0.0001|7.77|-1.5000|123456789.1234567900|3.8850000000000"};

// What the ledger of `database`, come from the format-1 file, must read and do.
void ExpectLedger(OdbcClient& client, const std::string& database) {
  const std::string ledger = database + "..ledger";
  EXPECT_EQ(Query(client, "SELECT id, amount, fee, price, rate, big, half FROM " + ledger +
                              " ORDER BY id"),
            kLedgerRows);
  // The view and the procedure compute with the exact values.
  EXPECT_EQ(Query(client, "USE " + database +
                              " SELECT id, doubled, price_rate FROM ledger_view WHERE id IN (3, 7) "
                              "ORDER BY id USE master"),
            (std::vector<std::string>{"3|0.2000|12345678901234.8680", "7|2469.1356|6.2700"}));
  EXPECT_EQ(Query(client, "EXEC " + database + "..ledger_total 0"),
            (std::vector<std::string>{"5|10000009.11|922337203685477.5807"}));
  // The index orders negative and positive values.
  EXPECT_EQ(Query(client, "SELECT id FROM " + ledger + " WHERE price < 1 ORDER BY price"),
            (std::vector<std::string>{"2", "6", "5", "3"}));
  // The DEFAULT and the CHECKs hold in the stored form.
  Ok(client, "INSERT INTO " + ledger + " (id, price, rate) VALUES (8, -1000000.00, -99.99)");
  EXPECT_EQ(Query(client, "SELECT amount, price, rate FROM " + ledger + " WHERE id = 8"),
            std::vector<std::string>{"12.5000|-1000000.00|-99.9900"});
  BatchOutcome price = client.Execute("INSERT INTO " + ledger + " (id, price) VALUES (9, -1000000.01)");
  EXPECT_NE(price.Find(547), nullptr) << price.Describe();
  BatchOutcome rate = client.Execute("INSERT INTO " + ledger + " (id, rate) VALUES (9, -100.01)");
  EXPECT_NE(rate.Find(547), nullptr) << rate.Describe();
  Ok(client, "DELETE FROM " + ledger + " WHERE id = 8");
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

TEST_F(DataFileUpgradeTest, AFileOfFormatOneHoldsItsNumbersExactlyOnceUpgraded) {
  std::filesystem::path data_file = FormatOneFile(folder_ / "exact_numbers.mdf");
  std::string original = FileBytes(data_file);
  TestEngine engine;
  OdbcClient client(engine.Port(), "sa", "");
  Ok(client, "EXEC sp_attach_db 'exact_numbers', " + Quoted(data_file));
  ExpectLedger(client, "exact_numbers");
  ExpectCheckedRows(client, "exact_numbers");
  Ok(client, "EXEC sp_detach_db 'exact_numbers'");

  {
    PlainFile upgraded(data_file);
    EXPECT_EQ(upgraded.Text("PRAGMA user_version"), kCurrentFormat);
    // money and decimal(p <= 18) hold their value times 10^scale; a wider
    // decimal an ordered 16-byte key.
    EXPECT_EQ(upgraded.Text("SELECT amount || ',' || fee || ',' || price || ',' || typeof(big) "
                            "FROM ledger WHERE id = 1"),
              "9223372036854775807,2147483647,999999999,blob");
  }
  // The file as it was is kept beside it, once.
  std::filesystem::path copy = data_file.string() + ".format1";
  ASSERT_TRUE(std::filesystem::exists(copy));
  EXPECT_EQ(FileBytes(copy), original);
  std::filesystem::remove(copy);
  Ok(client, "EXEC sp_attach_db 'exact_numbers', " + Quoted(data_file));
  EXPECT_EQ(Query(client, "SELECT amount FROM exact_numbers..ledger WHERE id = 2"),
            std::vector<std::string>{"-922337203685477.5808"});
  Ok(client, "EXEC sp_detach_db 'exact_numbers'");
  EXPECT_FALSE(std::filesystem::exists(copy));
}

TEST_F(DataFileUpgradeTest, ViewsTheTokenRewriterMadeAnswerExactlyOnceUpgraded) {
  std::filesystem::path data_file = FormatOneFile(folder_ / "exact_numbers.mdf");
  {
    // As the token rewriter stored the views it made: its statement, which
    // for the first two is T-SQL still, and SQLite's own SQL for the third.
    PlainFile file(data_file);
    for (const char* view :
         {"CREATE VIEW cheap AS SELECT id , price , amount FROM ledger WHERE price < 1",
          "CREATE VIEW both_prices (id, value) AS SELECT id , price FROM ledger UNION ALL "
          "SELECT id , '0.5' FROM ledger WHERE id = 3",
          "CREATE VIEW first_big AS SELECT big FROM ledger ORDER BY big LIMIT 1"}) {
      ASSERT_EQ(sqlite3_exec(file.db, view, nullptr, nullptr, nullptr), SQLITE_OK) << view;
    }
  }
  TestEngine engine;
  OdbcClient client(engine.Port(), "sa", "");
  Ok(client, "EXEC sp_attach_db 'exact_numbers', " + Quoted(data_file));
  EXPECT_EQ(Query(client, "USE exact_numbers SELECT id, price, amount FROM cheap WHERE price > -1 "
                          "ORDER BY price USE master"),
            (std::vector<std::string>{"5|0.00|0.0000", "3|0.30|0.1000"}));
  EXPECT_EQ(Query(client, "USE exact_numbers SELECT SUM(value), MIN(value) FROM both_prices "
                          "USE master"),
            (std::vector<std::string>{"8999997.28|-999999.99"}));
  // A view the front end does not read stays refused rather than computing
  // with the stored integers and keys.
  BatchOutcome refused = client.Execute("USE exact_numbers SELECT big FROM first_big");
  EXPECT_NE(refused.Find(8180), nullptr) << refused.Describe();
  Ok(client, "USE master EXEC sp_detach_db 'exact_numbers'");
}

TEST_F(DataFileUpgradeTest, ViewsAnOlderEngineStoredAsTheirStatementAreReadListedAndDropped) {
  TestEngine engine;
  OdbcClient client(engine.Port(), "sa", "");
  std::filesystem::path data_file = folder_ / "older_views.mdf";
  Ok(client, "CREATE DATABASE older_views ON (NAME = older_views, FILENAME = " +
                 Quoted(data_file) + ")");
  Ok(client,
     "USE older_views CREATE TABLE ledger (id int, price decimal(10,2), note varchar(10)) "
     "INSERT INTO ledger VALUES (1, 0.25, 'a') INSERT INTO ledger VALUES (2, 7.50, 'b') "
     "INSERT INTO ledger VALUES (3, 0.75, NULL) USE master");
  Ok(client, "EXEC sp_detach_db 'older_views'");
  {
    // Written as older engines stored a view: its statement, no comments of
    // the front end's. The first two read as T-SQL; the third is SQLite's own.
    PlainFile file(data_file);
    for (const char* view :
         {"CREATE VIEW cheap AS SELECT id , price , note FROM ledger WHERE price < 1",
          "CREATE VIEW renamed (item, cost) AS SELECT id , price * 2 FROM ledger",
          "CREATE VIEW first_one AS SELECT id FROM ledger ORDER BY id LIMIT 1"}) {
      ASSERT_EQ(sqlite3_exec(file.db, view, nullptr, nullptr, nullptr), SQLITE_OK) << view;
    }
  }
  Ok(client, "EXEC sp_attach_db 'older_views', " + Quoted(data_file));
  Ok(client, "USE older_views");
  // Read through the front end: the exact column's values, not its stored
  // form, under the view's own names and its query's types.
  EXPECT_EQ(Query(client, "SELECT id, price, note FROM cheap ORDER BY id"),
            (std::vector<std::string>{"1|0.25|a", "3|0.75|NULL"}));
  EXPECT_EQ(Query(client, "SELECT item, cost FROM renamed WHERE cost > 1 ORDER BY item"),
            (std::vector<std::string>{"2|15.00", "3|1.50"}));
  EXPECT_EQ(Query(client, "SELECT SUM(cost) FROM renamed"), (std::vector<std::string>{"17.00"}));
  // One that reads as no T-SQL is refused, never answered from SQLite's text.
  BatchOutcome refused = client.Execute("SELECT id FROM first_one");
  EXPECT_NE(refused.Find(8180), nullptr) << refused.Describe();
  // Listed as views, their text as stored.
  EXPECT_EQ(Query(client, "SELECT name FROM sysobjects WHERE xtype = 'V' ORDER BY name"),
            (std::vector<std::string>{"cheap", "first_one", "renamed"}));
  EXPECT_EQ(Query(client, "SELECT TABLE_NAME FROM INFORMATION_SCHEMA.VIEWS ORDER BY TABLE_NAME"),
            (std::vector<std::string>{"cheap", "first_one", "renamed"}));
  EXPECT_EQ(Query(client, "EXEC sp_helptext 'cheap'"),
            (std::vector<std::string>{
                "CREATE VIEW cheap AS SELECT id , price , note FROM ledger WHERE price < 1"}));
  // No column types were kept with them: the catalog binds their queries
  // (price * 2 of a decimal(10,2) is (21,2); a computed column, never
  // sql_variant).
  EXPECT_EQ(Query(client,
                  "SELECT c.name, t.name, c.length, c.xprec, c.xscale FROM syscolumns c "
                  "JOIN systypes t ON t.xusertype = c.xusertype WHERE c.id = OBJECT_ID('renamed') "
                  "AND c.xtype NOT IN (106, 108) UNION ALL SELECT name, 'exact', length, xprec, "
                  "xscale FROM syscolumns WHERE id = OBJECT_ID('renamed') AND xtype IN (106, 108)"),
            (std::vector<std::string>{"item|int|4|10|0", "cost|exact|13|21|2"}));
  EXPECT_EQ(Query(client, "SELECT COLUMN_NAME, CHARACTER_MAXIMUM_LENGTH FROM "
                          "INFORMATION_SCHEMA.COLUMNS WHERE TABLE_NAME = 'cheap' AND "
                          "COLUMN_NAME = 'note'"),
            (std::vector<std::string>{"note|10"}));
  // Dropped like any view.
  Ok(client, "DROP VIEW cheap DROP VIEW renamed, first_one");
  EXPECT_EQ(Query(client, "SELECT count(*) FROM sysobjects WHERE xtype = 'V'"),
            (std::vector<std::string>{"0"}));
  Ok(client, "USE master EXEC sp_detach_db 'older_views'");
}

TEST_F(DataFileUpgradeTest, ChecksSwitchedOffInAnOldFileCheckTheStoredFormOnceOnAgain) {
  std::filesystem::path data_file = FormatOneFile(folder_ / "exact_numbers.mdf");
  {
    // Both CHECKs of the ledger as NOCHECK CONSTRAINT leaves them: in comments.
    PlainFile file(data_file);
    std::string sql = file.Text("SELECT sql FROM sqlite_master WHERE name = 'ledger'");
    auto disable = [&](const std::string& column, const std::string& clause) {
      std::size_t at = sql.find(clause);
      ASSERT_NE(at, std::string::npos) << sql;
      // A table-level one leaves its comma behind.
      std::string kept = clause.starts_with(", ") ? clause.substr(2) : clause;
      for (std::size_t k = 0; (k = kept.find("/*", k)) != std::string::npos; k += 3)
        kept.replace(k, 2, "/\\*");
      for (std::size_t k = 0; (k = kept.find("*/", k)) != std::string::npos; k += 3)
        kept.replace(k, 2, "*\\/");
      sql.replace(at, clause.size(), "/*sqlengine_disabled \"" + column + "\" " + kept + " */");
    };
    disable("price",
            "CONSTRAINT ck_ledger_price CHECK ((\"price\" >= -1000000.00)) "
            "/*sqlengine_tsql (price >= -1000000.00)*/");
    disable("",
            ", CONSTRAINT ck_ledger_rate CHECK (((\"rate\" * 10) > -1000)) "
            "/*sqlengine_tsql (rate %2A 10 > -1000)*/");
    std::string version = file.Text("PRAGMA schema_version");
    for (const std::string& step :
         {std::string("PRAGMA writable_schema = ON"),
          "UPDATE sqlite_master SET sql = " + std::string("'") +
              [&] {
                std::string quoted;
                for (char c : sql) quoted += c == '\'' ? std::string("''") : std::string(1, c);
                return quoted;
              }() +
              "' WHERE name = 'ledger'",
          "PRAGMA schema_version = " + std::to_string(std::stoi(version) + 1),
          std::string("PRAGMA writable_schema = OFF")}) {
      ASSERT_EQ(sqlite3_exec(file.db, step.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
          << step << ": " << sqlite3_errmsg(file.db);
    }
  }
  TestEngine engine;
  OdbcClient client(engine.Port(), "sa", "");
  Ok(client, "EXEC sp_attach_db 'exact_numbers', " + Quoted(data_file));
  const std::string ledger = "exact_numbers..ledger";
  // Off: anything goes in.
  Ok(client, "INSERT INTO " + ledger + " (id, price, rate) VALUES (8, -2000000.00, -200)");
  Ok(client, "DELETE FROM " + ledger + " WHERE id = 8");
  Ok(client, "USE exact_numbers ALTER TABLE ledger CHECK CONSTRAINT ALL USE master");
  // On again: the bounds are the written ones, at each column's scale.
  Ok(client, "INSERT INTO " + ledger + " (id, price, rate) VALUES (8, -1000000.00, -99.99)");
  BatchOutcome price =
      client.Execute("INSERT INTO " + ledger + " (id, price) VALUES (9, -1000000.01)");
  EXPECT_NE(price.Find(547), nullptr) << price.Describe();
  BatchOutcome rate = client.Execute("INSERT INTO " + ledger + " (id, rate) VALUES (9, -100.01)");
  EXPECT_NE(rate.Find(547), nullptr) << rate.Describe();
  Ok(client, "EXEC sp_detach_db 'exact_numbers'");
}

TEST_F(DataFileUpgradeTest, AttachPutsTheIdentityTriggersOfAnOldFileFirst) {
  std::filesystem::path data_file = FormatOneFile(folder_ / "exact_numbers.mdf");
  MakeFormatZero(data_file, "s");
  TestEngine engine;
  OdbcClient client(engine.Port(), "sa", "");
  Ok(client, "EXEC sp_attach_db 'exact_numbers', " + Quoted(data_file));
  ExpectCheckedRows(client, "exact_numbers");
  ExpectLedger(client, "exact_numbers");
  Ok(client, "EXEC sp_detach_db 'exact_numbers'");
  PlainFile upgraded(data_file);
  EXPECT_EQ(upgraded.Text("PRAGMA user_version"), kCurrentFormat);
  EXPECT_TRUE(TriggerOrder(upgraded, "s")
                  .starts_with("sqlengine_identity_s_mark,sqlengine_identity_s_assign,"))
      << TriggerOrder(upgraded, "s");
  EXPECT_TRUE(std::filesystem::exists(data_file.string() + ".format0"));
}

TEST_F(DataFileUpgradeTest, AnOldDatabaseOfTheInstanceIsUpgradedWhenTheEngineStarts) {
  TestEngine engine;
  std::filesystem::path data_file = engine.DataFolder() / "exact_numbers.mdf";
  {
    OdbcClient client(engine.Port(), "sa", "");
    Ok(client, "EXEC sp_attach_db 'exact_numbers', " + Quoted(FormatOneFile(data_file)));
  }
  // The instance holds the file as an engine of format 1 left it.
  ASSERT_EQ(engine.Stop(), 0);
  FormatOneFile(data_file);
  std::filesystem::remove(data_file.string() + ".format1");
  engine.Restart();
  {
    OdbcClient client(engine.Port(), "sa", "");
    ExpectLedger(client, "exact_numbers");
    ExpectCheckedRows(client, "exact_numbers");
  }
  EXPECT_TRUE(std::filesystem::exists(data_file.string() + ".format1"));
  // A current file is left alone: no second copy, no second upgrade.
  std::filesystem::remove(data_file.string() + ".format1");
  ASSERT_EQ(engine.Stop(), 0);
  engine.Restart();
  EXPECT_FALSE(std::filesystem::exists(data_file.string() + ".format1"));
  OdbcClient client(engine.Port(), "sa", "");
  EXPECT_EQ(Query(client, "SELECT sum(amount) FROM exact_numbers..ledger WHERE id > 2"),
            std::vector<std::string>{"1267.1578"});
}

// Replaces the image of the only set in backup file `backup` by the data
// file `image`, as a backup made by an earlier version holds its own format.
void ReplaceBackupImage(const std::filesystem::path& backup, const std::filesystem::path& image) {
  constexpr size_t kBlock = 4096;
  std::ifstream in(backup, std::ios::binary);
  std::string header(kBlock, '\0');
  in.read(header.data(), kBlock);
  std::string bytes = FileBytes(image);
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
  std::filesystem::path data_file = FormatOneFile(folder_ / "exact_numbers.mdf");
  Ok(client, "EXEC sp_attach_db 'exact_numbers', " + Quoted(data_file));
  std::filesystem::path backup = folder_ / "exact_numbers.bak";
  Ok(client, "BACKUP DATABASE exact_numbers TO DISK = " + Quoted(backup) + " WITH INIT");
  Ok(client, "EXEC sp_detach_db 'exact_numbers'");
  ReplaceBackupImage(backup, FormatOneFile(folder_ / "image.mdf"));

  std::filesystem::path restored = folder_ / "restored.mdf";
  Ok(client, "RESTORE DATABASE exact_numbers FROM DISK = " + Quoted(backup) +
                 " WITH MOVE 'exact_numbers' TO " + Quoted(restored));
  ExpectLedger(client, "exact_numbers");
  ExpectCheckedRows(client, "exact_numbers");
  EXPECT_FALSE(std::filesystem::exists(restored.string() + ".format1"));
  Ok(client, "EXEC sp_detach_db 'exact_numbers'");
  PlainFile upgraded(restored);
  EXPECT_EQ(upgraded.Text("PRAGMA user_version"), kCurrentFormat);
}

// Attaching `data_file`, whose upgrade fails, is refused and leaves every
// byte of it as it was.
void ExpectRefusedUntouched(OdbcClient& client, const std::filesystem::path& data_file,
                            const std::string& format) {
  std::string before = FileBytes(data_file);
  BatchOutcome refused = client.Execute("EXEC sp_attach_db 'exact_numbers', " + Quoted(data_file));
  EXPECT_NE(refused.Find(1813), nullptr) << refused.Describe();
  EXPECT_EQ(Query(client, "SELECT count(*) FROM master..sysdatabases WHERE name = 'exact_numbers'"),
            std::vector<std::string>{"0"});
  EXPECT_FALSE(std::filesystem::exists(data_file.string() + ".format" + format));
  EXPECT_TRUE(FileBytes(data_file) == before) << "the refused file was changed";
}

TEST_F(DataFileUpgradeTest, AFailedUpgradeLeavesTheFileAsItWasAndAttachesNothing) {
  TestEngine engine;
  OdbcClient client(engine.Port(), "sa", "");
  std::filesystem::path data_file = FormatOneFile(folder_ / "exact_numbers.mdf");
  MakeFormatZero(data_file, "s");
  {
    // A trigger SQLite loads but will not make again under its name: the
    // upgrade's first step fails after it changed the file.
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
  ExpectRefusedUntouched(client, data_file, "0");
}

TEST_F(DataFileUpgradeTest, AValueTheStoredFormCannotHoldFailsTheUpgradeUntouched) {
  TestEngine engine;
  OdbcClient client(engine.Port(), "sa", "");
  std::filesystem::path data_file = FormatOneFile(folder_ / "exact_numbers.mdf");
  {
    // A double no money holds, written behind the engine's back: the
    // conversion of the last column fails after the others were converted.
    PlainFile file(data_file);
    // The column's rounding trigger asks the engine's function; here it
    // keeps the value as it is.
    auto keep = [](sqlite3_context* context, int, sqlite3_value** arguments) {
      sqlite3_result_value(context, arguments[0]);
    };
    sqlite3_create_function(file.db, "sqlengine_decimal", 2, SQLITE_UTF8, nullptr, keep, nullptr,
                            nullptr);
    ASSERT_EQ(sqlite3_exec(file.db, "UPDATE s SET d = 1e30 WHERE id = 10", nullptr, nullptr,
                           nullptr),
              SQLITE_OK)
        << sqlite3_errmsg(file.db);
  }
  ExpectRefusedUntouched(client, data_file, "1");
  PlainFile file(data_file);
  EXPECT_EQ(file.Text("SELECT amount FROM ledger WHERE id = 3"), "0.1");
}

// A file of format 2 (see character_keys_format2.sql) declared its character
// columns NOCASE or BINARY: keys folded ASCII letters only and counted
// trailing spaces. Upgraded, its keys follow the server's collation; a table
// whose rows already repeat a key under it keeps its former declaration,
// every row, and is named to the client, until the repeated rows are gone
// and DBCC DBREINDEX moves it.
TEST_F(DataFileUpgradeTest, CharacterKeysFollowTheServersCollationOnceUpgraded) {
  std::filesystem::path data_file = folder_ / "character_keys.mdf";
  std::filesystem::copy_file(std::filesystem::path(OLD_DATA_FILES) / "character_keys_format2.mdf",
                             data_file);
  TestEngine engine;
  OdbcClient client(engine.Port(), "sa", "");
  BatchOutcome attached = Ok(client, "EXEC sp_attach_db 'character_keys', " + Quoted(data_file));
  const DiagnosticRecord* kept = attached.Find(50000);
  ASSERT_NE(kept, nullptr) << attached.Describe();
  EXPECT_NE(kept->text.find("table 'repeated' keeps its former comparison"), std::string::npos)
      << attached.Describe();
  EXPECT_EQ(attached.Describe().find("'people'"), std::string::npos) << attached.Describe();
  EXPECT_TRUE(std::filesystem::exists(data_file.string() + ".format2"));

  Ok(client, "USE character_keys");
  // Keys compare without case and trailing spaces, accents counted, also
  // beyond ASCII; the indexes were built again in that order.
  for (const char* repeated : {"INSERT INTO people VALUES ('ANN  ', NULL)",
                               "INSERT INTO people VALUES ('Bob', NULL)",
                               "INSERT INTO codes VALUES ('ab  ', 'again')"}) {
    BatchOutcome refused = client.Execute(repeated);
    EXPECT_NE(refused.Find(2627), nullptr) << repeated << "\n" << refused.Describe();
  }
  Ok(client, "INSERT INTO codes VALUES ('Ab', 'mixed')");
  Ok(client, "INSERT INTO people VALUES ('Äda', N'ÄRHUS')");
  // The _CS column, declared BINARY then, keeps ordering by the bytes (its
  // index was built so), unlike a _CS column made now.
  EXPECT_EQ(Query(client, "SELECT code FROM codes ORDER BY code"),
            (std::vector<std::string>{"AB  ", "Ab  ", "ab  "}));
  EXPECT_EQ(Query(client, "SELECT code FROM codes WHERE code > 'Ab' ORDER BY code"),
            (std::vector<std::string>{"ab  "}));
  Ok(client, "CREATE TABLE codes_now (code char(4) COLLATE Latin1_General_CS_AS PRIMARY KEY)");
  Ok(client, "INSERT INTO codes_now SELECT code FROM codes");
  EXPECT_EQ(Query(client, "SELECT code FROM codes_now ORDER BY code"),
            (std::vector<std::string>{"ab  ", "Ab  ", "AB  "}));
  EXPECT_EQ(Query(client, "SELECT name FROM people WHERE name = 'BOB '"),
            std::vector<std::string>{"bob"});
  EXPECT_EQ(Query(client, "SELECT name FROM people WHERE city = N'ärhus' ORDER BY name"),
            (std::vector<std::string>{"Äda", "bob"}));
  EXPECT_EQ(Query(client, "SELECT name FROM people ORDER BY city, name"),
            (std::vector<std::string>{"dee", "Äda", "bob", "Cid", "Eva", "Ann"}));
  // The view's query is made again: Unicode data reads 'ß' as "ss".
  EXPECT_EQ(Query(client, "SELECT name FROM street_people"), std::vector<std::string>{"Eva"});

  // The table whose rows repeat a key keeps them all, and its former rules.
  EXPECT_EQ(Query(client, "SELECT COUNT(*) FROM repeated"), std::vector<std::string>{"3"});
  BatchOutcome still = client.Execute("DBCC DBREINDEX ('repeated')");
  EXPECT_TRUE(still.failed);
  EXPECT_NE(still.Describe().find("repeat a key"), std::string::npos) << still.Describe();
  Ok(client, "DELETE FROM repeated WHERE n = 2 DBCC DBREINDEX ('repeated')");
  BatchOutcome moved = client.Execute("INSERT INTO repeated VALUES ('B ', 4)");
  EXPECT_NE(moved.Find(2627), nullptr) << moved.Describe();
  Ok(client, "USE master EXEC sp_detach_db 'character_keys'");

  PlainFile upgraded(data_file);
  EXPECT_EQ(upgraded.Text("PRAGMA user_version"), kCurrentFormat);
  EXPECT_EQ(upgraded.Text("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name IN "
                          "('people', 'codes', 'repeated') AND (sql LIKE '%COLLATE NOCASE%' OR "
                          "sql LIKE '%COLLATE BINARY%')"),
            "0");
  EXPECT_EQ(upgraded.Text("SELECT sql FROM sqlite_master WHERE name = 'street_people'")
                .find("NOCASE"),
            std::string::npos);
  EXPECT_NE(upgraded.Text("SELECT sql FROM sqlite_master WHERE name = 'codes'")
                .find("code char(4) COLLATE sqlengine_cs"),
            std::string::npos);
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

// Format 4 kept a character column within its length by triggers that
// refused a longer value whatever the session's settings; the upgrade makes
// them again, so that SET ANSI_WARNINGS OFF cuts the value as SQL Server does.
TEST_F(DataFileUpgradeTest, FormatFourLengthTriggersAreMadeAgainToHonourAnsiWarnings) {
  TestEngine engine;
  OdbcClient client(engine.Port(), "sa", "");
  std::filesystem::path data_file = SteppedTableFile(client, folder_);
  {
    PlainFile file(data_file);
    const std::string refused =
        "RAISE(ABORT, 'sqlengine:8152:String or binary data would be truncated.')";
    for (const char* event : {"INSERT", "UPDATE"}) {
      std::string name = std::string("sqlengine_length_") + event + "_s_c";
      std::string sql = file.Text("SELECT sql FROM sqlite_master WHERE name = '" + name + "'");
      size_t call = sql.find("sqlengine_fitted_length(");
      ASSERT_NE(call, std::string::npos) << sql;
      sql.replace(call, sql.find(')', call) + 1 - call, refused);
      ASSERT_EQ(sqlite3_exec(file.db, ("DROP TRIGGER \"" + name + "\"").c_str(), nullptr,
                             nullptr, nullptr),
                SQLITE_OK);
      ASSERT_EQ(sqlite3_exec(file.db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sql;
    }
    ASSERT_EQ(sqlite3_exec(file.db, "PRAGMA user_version=4", nullptr, nullptr, nullptr), SQLITE_OK);
  }
  Ok(client, "EXEC sp_attach_db 'stepped', " + Quoted(data_file));
  ExpectCheckedRows(client, "stepped");
  Ok(client, "SET ANSI_WARNINGS OFF INSERT INTO stepped..s (c) VALUES ('cut') "
             "UPDATE stepped..s SET c = 'shortened' WHERE c = 'cut' "
             "INSERT INTO stepped..s (c) VALUES ('toolong') SET ANSI_WARNINGS ON");
  EXPECT_EQ(Query(client, "SELECT id, c FROM stepped..s WHERE id > 15 ORDER BY id"),
            (std::vector<std::string>{"20|sho", "25|too"}));
  Ok(client, "EXEC sp_detach_db 'stepped'");
  PlainFile upgraded(data_file);
  EXPECT_EQ(upgraded.Text("PRAGMA user_version"), kCurrentFormat);
  EXPECT_EQ(upgraded.Text("SELECT count(*) FROM sqlite_master WHERE type = 'trigger' AND "
                          "sql LIKE '%sqlengine_fitted_length(%'"),
            "2");
  EXPECT_EQ(upgraded.Text("SELECT count(*) FROM sqlite_master WHERE sql LIKE '%RAISE(ABORT%8152%'"),
            "0");
}

// Format 5 had no trigger to move an engine-kept identity past an explicit
// value: the counter went on from below it, towards the value itself.
TEST_F(DataFileUpgradeTest, FormatFiveIdentitiesFollowExplicitValuesOnceUpgraded) {
  TestEngine engine;
  OdbcClient client(engine.Port(), "sa", "");
  std::filesystem::path data_file = SteppedTableFile(client, folder_);
  {
    PlainFile file(data_file);
    ASSERT_EQ(sqlite3_exec(file.db, "DROP TRIGGER sqlengine_identity_s_follow", nullptr, nullptr,
                           nullptr),
              SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(file.db, "PRAGMA user_version=5", nullptr, nullptr, nullptr), SQLITE_OK);
  }
  Ok(client, "EXEC sp_attach_db 'stepped', " + Quoted(data_file));
  Ok(client, "SET IDENTITY_INSERT stepped..s ON "
             "INSERT INTO stepped..s (id, c) VALUES (100, 'set') "
             "SET IDENTITY_INSERT stepped..s OFF "
             "INSERT INTO stepped..s (c) VALUES ('new')");
  EXPECT_EQ(Query(client, "SELECT id, c FROM stepped..s ORDER BY id"),
            (std::vector<std::string>{"10|abc", "100|set", "105|new"}));
  Ok(client, "EXEC sp_detach_db 'stepped'");
  PlainFile upgraded(data_file);
  EXPECT_EQ(upgraded.Text("PRAGMA user_version"), kCurrentFormat);
}

// Format 6 let a unique key with a NULL repeat. Once upgraded the keys hold
// NULL as one value; rows that already repeat such a key stay, named in a note.
TEST_F(DataFileUpgradeTest, FormatSixKeysTakeOneNullOnceUpgraded) {
  TestEngine engine;
  OdbcClient client(engine.Port(), "sa", "");
  std::filesystem::path data_file = folder_ / "nulls.mdf";
  Ok(client, "CREATE DATABASE nulls ON (NAME = nulls, FILENAME = " + Quoted(data_file) + ")");
  Ok(client,
     "USE nulls CREATE TABLE kept (n int, c int) CREATE TABLE keyed (n int, c int UNIQUE) "
     "INSERT INTO kept VALUES (1, NULL) INSERT INTO kept VALUES (2, NULL) USE master");
  Ok(client, "EXEC sp_detach_db 'nulls'");
  {
    PlainFile file(data_file);
    for (const char* sql :
         {"CREATE UNIQUE INDEX \"ix_kept\" ON \"kept\" (\"c\")",
          "DROP TRIGGER \"sqlengine_null_keys_INSERT_keyed\"",
          "DROP TRIGGER \"sqlengine_null_keys_UPDATE_keyed\"", "PRAGMA user_version=6"}) {
      ASSERT_EQ(sqlite3_exec(file.db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sql;
    }
  }
  BatchOutcome attached = Ok(client, "EXEC sp_attach_db 'nulls', " + Quoted(data_file));
  const DiagnosticRecord* note = attached.Find(50000);
  ASSERT_NE(note, nullptr) << attached.Describe();
  EXPECT_NE(note->text.find("table 'kept' holds the key (NULL)"), std::string::npos)
      << attached.Describe();
  EXPECT_EQ(attached.Describe().find("'keyed'"), std::string::npos) << attached.Describe();
  EXPECT_EQ(Query(client, "SELECT count(*) FROM nulls..kept"), std::vector<std::string>{"2"});
  BatchOutcome third = client.Execute("INSERT INTO nulls..kept VALUES (3, NULL)");
  EXPECT_NE(third.Find(2601), nullptr) << third.Describe();
  Ok(client, "INSERT INTO nulls..keyed VALUES (1, NULL)");
  BatchOutcome second = client.Execute("INSERT INTO nulls..keyed VALUES (2, NULL)");
  EXPECT_NE(second.Find(2627), nullptr) << second.Describe();
  Ok(client, "EXEC sp_detach_db 'nulls'");
  PlainFile upgraded(data_file);
  EXPECT_EQ(upgraded.Text("PRAGMA user_version"), kCurrentFormat);
}

TEST_F(DataFileUpgradeTest, NewDataFilesAreMadeInTheCurrentFormat) {
  TestEngine engine;
  OdbcClient client(engine.Port(), "sa", "");
  std::filesystem::path data_file = SteppedTableFile(client, folder_);
  PlainFile file(data_file);
  EXPECT_EQ(file.Text("PRAGMA user_version"), kCurrentFormat);
  EXPECT_FALSE(std::filesystem::exists(data_file.string() + ".format0"));
}

// A master file of an engine that kept no server user ids: its logins get
// theirs when the engine opens it, sa 1.
TEST_F(DataFileUpgradeTest, TheLoginsOfAnOlderMasterAreNumbered) {
  TestEngine engine;
  {
    OdbcClient client(engine.Port(), "sa", "");
    Ok(client, "EXEC sp_addlogin 'older', 'Older-1'");
  }
  ASSERT_EQ(engine.Stop(), 0);
  {
    PlainFile master(engine.DataFolder() / "master.mdf");
    master.Text("ALTER TABLE sqlengine_logins DROP COLUMN suid");
    ASSERT_EQ(master.Text("SELECT count(*) FROM pragma_table_info('sqlengine_logins') "
                          "WHERE name = 'suid'"),
              "0");
  }
  engine.Restart();
  OdbcClient client(engine.Port(), "sa", "");
  EXPECT_EQ(Query(client, "SELECT name, suid FROM master..syslogins ORDER BY suid"),
            (std::vector<std::string>{"sa|1", "older|2"}));
}

}  // namespace
}  // namespace sqlengine::testing
