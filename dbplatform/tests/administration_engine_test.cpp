// The administration objects against a real engine over TCP.
#include <gtest/gtest.h>

#include <filesystem>

#include "dbplatform/administration.h"
#include "dbplatform/platform.h"
#include "engine_fixture.h"

namespace dbplatform {
namespace {

namespace fs = std::filesystem;

class Administration : public EngineSuite {
 protected:
  std::unique_ptr<SQLServer> Connected() {
    auto server = CreateObjectAs<SQLServer>(DefaultFactory(), "SQLDMO.SQLServer");
    server->SetLoginTimeout(60);
    server->Connect(Engine().ServerName(), "sa", "");
    return server;
  }

  static bool HasDatabase(SQLServer& server, const std::string& name) {
    DatabaseCollection& databases = server.Databases();
    for (int i = 1; i <= databases.Count(); ++i) {
      if (databases.Item(i).Name() == name) return true;
    }
    return false;
  }

  std::string DataFolder() const { return Engine().DataFolder().string() + "/"; }
};

TEST_F(Administration, DatabasesInServerOrderWithTheirFolder) {
  auto server = Connected();
  DatabaseCollection& databases = server->Databases();
  ASSERT_GE(databases.Count(), 4);
  EXPECT_EQ(databases.Item(1).Name(), "master");
  EXPECT_EQ(databases.Item("MASTER").Name(), "master");
  EXPECT_EQ(databases.Item("master").PrimaryFilePath(), DataFolder());
  EXPECT_EQ(ErrorNumberOf([&] { databases.Item(0); }), static_cast<std::int32_t>(0x80045509));
  EXPECT_NE(ErrorNumberOf([&] { databases.Item("nosuch"); }), 0);
  // An earlier snapshot stays usable while a newer one is fetched.
  Database& first = databases.Item(1);
  server->Databases();
  EXPECT_EQ(first.Name(), "master");
  server->DisConnect();
  server->Close();
}

TEST_F(Administration, RefusedLoginInDmoNumbering) {
  auto server = CreateObjectAs<SQLServer>(DefaultFactory(), "SQLDMO.SQLServer");
  try {
    server->Connect(Engine().ServerName(), "nobody", "");
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.Number(), -2147203048);
    EXPECT_EQ(error.Description(), "Login failed for user 'nobody'.");
  }
  server->DisConnect();
  try {
    server->Databases();
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.Number(), static_cast<std::int32_t>(0x80045800));
  }
}

TEST_F(Administration, TablesOfADatabase) {
  auto connection = Open();
  Run(*connection, "CREATE DATABASE [Sales Two]");
  Run(*connection, "CREATE TABLE [Sales Two]..Orders (id int)");
  Run(*connection, "CREATE TABLE [Sales Two]..Items (id int)");
  Run(*connection, "CREATE VIEW dbo.NotATable AS SELECT 1 AS x");
  auto server = Connected();
  TableCollection& tables = server->Databases().Item("Sales Two").Tables();
  ASSERT_EQ(tables.Count(), 2);
  EXPECT_EQ(tables.Item(1).Name(), "Items");
  EXPECT_EQ(tables.Item(2).Name(), "Orders");
  EXPECT_NE(ErrorNumberOf([&] { tables.Item(3); }), 0);
  EXPECT_EQ(server->Databases().Item("model").Tables().Count(), 0);
  server->Databases().Item("Sales Two").Remove();
  EXPECT_FALSE(HasDatabase(*server, "Sales Two"));
}

TEST_F(Administration, DetachAttachAndRemoveAnAwkwardName) {
  const std::string name = "we]ird 'db";
  auto connection = Open();
  Run(*connection, "CREATE DATABASE [we]]ird 'db]");
  Run(*connection, "CREATE TABLE [we]]ird 'db]..kept (v nvarchar(10))");
  Run(*connection, "INSERT INTO [we]]ird 'db]..kept VALUES (N'safe')");
  connection->Close();

  auto server = Connected();
  std::string data_file = server->Databases().Item(name).PrimaryFilePath() + name + ".mdf";
  server->DetachDB(name, true);
  EXPECT_FALSE(HasDatabase(*server, name));
  ASSERT_TRUE(fs::exists(data_file)) << data_file;

  server->AttachDB(name, data_file);
  ASSERT_TRUE(HasDatabase(*server, name));
  auto check = Open();
  EXPECT_EQ(Scalar(*check, "SELECT v FROM [we]]ird 'db]..kept"), "safe");
  check->Close();

  try {
    server->AttachDB(name, data_file);
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.Number(), kDmoBase + 1801);
    EXPECT_EQ(error.Description(), "Database 'we]ird 'db' already exists.");
  }
  server->Databases().Item(name).Remove();
  EXPECT_FALSE(HasDatabase(*server, name));
  try {
    server->DetachDB(name, true);
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_GT(error.Number(), kDmoBase);
    EXPECT_LT(error.Number(), kDmoBase + 0x10000);
  }
}

TEST_F(Administration, BackupThenRestoreIntoACopy) {
  auto connection = Open();
  Run(*connection, "CREATE DATABASE Kept");
  Run(*connection, "CREATE TABLE Kept..t (v int)");
  Run(*connection, "INSERT INTO Kept..t VALUES (1)");
  fs::path folder = testing_support::MakeTempFolder("dbplatform-backup");
  std::string file = (folder / "Kept_DB.bak").string();

  auto server = Connected();
  auto backup = CreateObjectAs<Backup>(DefaultFactory(), "SQLDMO.Backup");
  backup->SetDatabase("Kept");
  backup->SetPercentCompleteNotification(1);
  backup->SetBackupSetName("");
  backup->SetFiles(file);
  EXPECT_EQ(backup->GenerateSQL(),
            "BACKUP DATABASE [Kept] TO DISK = N'" + file + "' WITH STATS = 1");
  backup->SQLBackup(*server);
  ASSERT_TRUE(fs::exists(file));
  Run(*connection, "INSERT INTO Kept..t VALUES (2)");

  auto restore = CreateObjectAs<Restore>(DefaultFactory(), "SQLDMO.restore");
  restore->SetDatabase("Kept");
  restore->SetRestoreAs("");
  restore->SetFiles(file);
  restore->SetReplaceDatabase(true);
  EXPECT_EQ(restore->GenerateSQL(),
            "RESTORE DATABASE [Kept_NEW] FROM DISK = N'" + file + "' WITH REPLACE");
  restore->SQLRestore(*server);
  restore->SQLRestore(*server);  // again, over the copy
  EXPECT_EQ(Scalar(*connection, "SELECT COUNT(*) FROM Kept_NEW..t"), "1");
  EXPECT_EQ(Scalar(*connection, "SELECT COUNT(*) FROM Kept..t"), "2");

  auto missing = CreateObjectAs<Backup>(DefaultFactory(), "SQLDMO.Backup");
  missing->SetDatabase("NoSuchDb");
  missing->SetFiles((folder / "none.bak").string());
  try {
    missing->SQLBackup(*server);
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_GT(error.Number(), kDmoBase);
    EXPECT_FALSE(error.Description().empty());
  }
  Run(*connection, "DROP DATABASE Kept_NEW");
  Run(*connection, "DROP DATABASE Kept");
  fs::remove_all(folder);
}

TEST_F(Administration, AnUnreadBackupStillCompletes) {
  auto connection = Open();
  Run(*connection, "CREATE DATABASE Unread");
  Run(*connection, "CREATE TABLE Unread..big (v nvarchar(400))");
  Run(*connection,
      "DECLARE @i int SET @i = 0 WHILE @i < 100 BEGIN INSERT INTO Unread..big VALUES (N'" +
          std::string(400, 'x') + "') SET @i = @i + 1 END");
  fs::path folder = testing_support::MakeTempFolder("dbplatform-unread");
  std::string file = (folder / "Unread.bak").string();
  // Megabytes of rows ahead of the backup: the server is still sending them
  // when the set is released after its first row.
  connection->Execute(
      "SELECT a.v, b.v FROM Unread..big a CROSS JOIN Unread..big b; "
      "BACKUP DATABASE Unread TO DISK = N'" +
      file + "'");
  ASSERT_TRUE(fs::exists(file));
  Run(*connection, "RESTORE VERIFYONLY FROM DISK = N'" + file + "'");
  Run(*connection, "DROP DATABASE Unread");
  fs::remove_all(folder);
}

}  // namespace
}  // namespace dbplatform
