#include "tsql_text.h"

#include <gtest/gtest.h>

#include "backup_restore.h"

namespace dbplatform {
namespace {

TEST(TsqlText, QuotingDoublesTheClosingDelimiter) {
  EXPECT_EQ(QuoteIdentifier("TestProjSQL"), "[TestProjSQL]");
  EXPECT_EQ(QuoteIdentifier("my db]; DROP DATABASE x--"), "[my db]]; DROP DATABASE x--]");
  EXPECT_EQ(QuoteIdentifier(""), "[]");
  EXPECT_EQ(QuoteLiteral("/data/O'Neil's.bak"), "N'/data/O''Neil''s.bak'");
  EXPECT_EQ(QuoteLiteral("h\xC3\xA9"), "N'h\xC3\xA9'");
}

TEST(BackupStatement, SettingsInTheirOrder) {
  auto backup = MakeBackup();
  backup->SetDatabase("TestProjSQL");
  backup->SetPercentCompleteNotification(1);
  backup->SetBackupSetName("");
  backup->SetFiles("/opt/app/TestProjSQL_DB.bak");
  EXPECT_EQ(
      backup->GenerateSQL(),
      "BACKUP DATABASE [TestProjSQL] TO DISK = N'/opt/app/TestProjSQL_DB.bak' WITH STATS = 1");
  backup->SetPercentCompleteNotification(0);
  backup->SetBackupSetName("Nightly 'full'");
  backup->SetDatabase("a]b");
  EXPECT_EQ(backup->GenerateSQL(),
            "BACKUP DATABASE [a]]b] TO DISK = N'/opt/app/TestProjSQL_DB.bak' WITH NAME = "
            "N'Nightly ''full'''");
  backup->SetBackupSetName("");
  EXPECT_EQ(backup->GenerateSQL(),
            "BACKUP DATABASE [a]]b] TO DISK = N'/opt/app/TestProjSQL_DB.bak'");
}

TEST(RestoreStatement, EmptyRestoreAsTargetsACopy) {
  auto restore = MakeRestore();
  restore->SetDatabase("TestProjSQL");
  restore->SetRestoreAs("");
  restore->SetFiles("/opt/app/TestProjSQL_DB.bak");
  restore->SetReplaceDatabase(true);
  EXPECT_EQ(restore->GenerateSQL(),
            "RESTORE DATABASE [TestProjSQL_NEW] FROM DISK = N'/opt/app/TestProjSQL_DB.bak' WITH "
            "REPLACE");
  restore->SetRestoreAs("Other [x]");
  restore->SetReplaceDatabase(false);
  EXPECT_EQ(restore->GenerateSQL(),
            "RESTORE DATABASE [Other [x]]] FROM DISK = N'/opt/app/TestProjSQL_DB.bak'");
}

}  // namespace
}  // namespace dbplatform
