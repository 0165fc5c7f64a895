// The backup and restore window: its layout, the composed statements, and
// backup and restore through the administration objects against a real engine.

#include "velmora/frmsql.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "dbplatform/object.h"
#include "dbplatform/platform.h"
#include "velmora/tests/engine_fixture.h"

namespace velmora_test {
namespace {

namespace fs = std::filesystem;

QString Q(const std::string& text) { return QString::fromStdString(text); }
QString Folder() { return Q(dbplatform::ProgramFolder()); }

TEST(frmSQLWindow, ControlsStandWhereTheTableSaysInTabOrder) {
  velmora::frmSQL window(dbplatform::DefaultFactory());
  struct Row {
    QWidget* control;
    QRect twips;
    QString tooltip;
  };
  const Row table[] = {
      {window.txtSvrName, {1080, 360, 1215, 285}, "1"},
      {window.CompName, {1080, 120, 930, 195}, ""},
      {window.txtDBName, {2760, 360, 1695, 285}, "2"},
      {window.cmdBackup, {1080, 840, 1575, 255}, "3"},
      {window.cmdRestore, {2880, 840, 1575, 255}, "4"},
      {window.txtResult, {120, 1680, 6135, 2175}, "5"},
      {window.cmdClose, {2760, 4080, 975, 255}, ""},
      {window.Label2, {2760, 120, 1155, 195}, ""},
      {window.cmdBK, {1080, 1200, 1575, 255}, ""},
      {window.cmdRT, {2880, 1200, 1575, 255}, ""},
  };
  for (const Row& row : table) {
    SCOPED_TRACE(row.control->metaObject()->className());
    const QRect& t = row.twips;
    EXPECT_EQ(row.control->geometry(),
              QRect(t.x() / 15, t.y() / 15, t.width() / 15, t.height() / 15));
    EXPECT_EQ(row.control->toolTip(), row.tooltip);
  }
  EXPECT_EQ(window.windowTitle(), "Form2");
  EXPECT_EQ(window.size(), QSize(6405 / 15, 4455 / 15));
  EXPECT_EQ(window.txtSvrName->text(), "localhost");
  EXPECT_EQ(window.CompName->text(), "Server Name");
  EXPECT_EQ(window.txtDBName->text(), "TestProjSQL");
  EXPECT_EQ(window.Label2->text(), "Database Name");
  EXPECT_EQ(window.cmdBackup->text(), "SQL - BackUP");
  EXPECT_EQ(window.cmdRestore->text(), "SQL - Restore");
  EXPECT_EQ(window.cmdClose->text(), "Close");
  EXPECT_EQ(window.cmdBK->text(), "SQL-DMO Backup");
  EXPECT_EQ(window.cmdRT->text(), "SQL-DMO Restore");
  EXPECT_EQ(window.ResultText(), "Note: It assumes that the respective server is ON.");
  EXPECT_FALSE(window.txtResult->isReadOnly());
  EXPECT_EQ(window.txtResult->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);

  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  EXPECT_EQ(QApplication::focusWidget(), window.txtSvrName);
  const std::vector<QWidget*> order = {window.txtSvrName, window.txtDBName, window.cmdBackup,
                                       window.cmdRestore, window.txtResult, window.cmdClose,
                                       window.cmdBK,      window.cmdRT};
  for (std::size_t i = 0; i < order.size(); ++i) {
    EXPECT_EQ(QApplication::focusWidget(), order[i]) << "tab stop " << i;
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
  EXPECT_EQ(QApplication::focusWidget(), window.txtSvrName);  // round again
}

TEST(frmSQLWindow, ComposesTheBackupAndRestoreStatements) {
  velmora::frmSQL window(dbplatform::DefaultFactory());
  window.cmdBackup->click();
  EXPECT_EQ(window.ResultText(),
            "Generate SQL for BACKUP:\r\n\r\nConnection To: localhost / TestProjSQL\r\n\r\n"
            "Copy-Paste the following ADO SQL statement: \r\n\r\n"
            "BACKUP DATABASE TestProjSQL to DISK = '" +
                Folder() + "/TestProjSQLDB.bak' with init");
  window.cmdRestore->click();
  EXPECT_EQ(window.ResultText(),
            "Generate SQL for RESTORE:\r\n\r\nConnection To: localhost / TestProjSQL\r\n\r\n"
            "Copy-Paste the following ADO SQL statement: \r\n\r\n"
            "RESTORE DATABASE FROM DISK = '" +
                Folder() + "/TestProjSQL.bak' [WITH REPLACE]");
  EXPECT_EQ(window.txtResult->blockCount(), 7);
}

TEST(frmSQLWindow, EmptyNamesGoIntoTheStatementAsTheyStand) {
  velmora::frmSQL window(dbplatform::DefaultFactory());
  window.txtDBName->clear();
  window.cmdBackup->click();
  EXPECT_TRUE(window.ResultText().endsWith("BACKUP DATABASE  to DISK = '" + Folder() +
                                           "/DB.bak' with init"));
  EXPECT_TRUE(window.ResultText().contains("Connection To: localhost / \r\n"));

  window.txtDBName->setText("Sales");
  window.txtSvrName->clear();
  window.cmdRestore->click();
  EXPECT_TRUE(window.ResultText().contains("\r\nConnection To:  / Sales\r\n"));
  EXPECT_TRUE(window.ResultText().startsWith("Generate SQL for RESTORE:"));
}

// Backs up into the program folder (shared by the test processes), so every
// test uses a database name of its own and removes the file afterwards.
class BackupRestoreTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (IsSkipped()) return;
    name_ = UniqueName("VmBackup");
    backup_file_ = ProgramFolder() / (name_ + "_DB.bak");
    fs::remove(backup_file_);
    form_->cmdDBRB->click();
    window_ = form_->BackupRestoreWindow();
    window_->txtSvrName->setText(Q(ServerName()));
    window_->txtDBName->setText(Q(name_));
  }
  void TearDown() override {
    fs::remove(backup_file_);
    EngineTest::TearDown();
  }
  std::string name_;
  fs::path backup_file_;
  velmora::frmSQL* window_ = nullptr;
};

TEST_F(BackupRestoreTest, BacksUpOnceAndThenSaysItIsAlreadyTaken) {
  if (!EngineBacksUp()) return;
  ExecuteSql("CREATE DATABASE [" + name_ + "]");
  window_->cmdBK->click();
  const QString result = window_->ResultText();
  EXPECT_TRUE(result.startsWith("Generated SQL: \r\n")) << result.toStdString();
  EXPECT_TRUE(result.endsWith("\r\n\r\nBackup of '" + Q(name_) + "' on '" + Q(ServerName()) +
                              "' is successful."))
      << result.toStdString();
  ASSERT_TRUE(fs::exists(backup_file_));
  const auto written = fs::last_write_time(backup_file_);

  window_->cmdBK->click();
  EXPECT_EQ(window_->ResultText(),
            "Backup of '" + Q(name_) + "' on '" + Q(ServerName()) + "' is already taken.");
  EXPECT_EQ(fs::last_write_time(backup_file_), written);
  EXPECT_TRUE(messages_.shown.empty());  // this window reports in its result box only
}

TEST_F(BackupRestoreTest, BackupOfAnUnknownDatabaseShowsTheScriptThenTheProblem) {
  if (!EngineBacksUp()) return;
  window_->cmdBK->click();
  const QString result = window_->ResultText();
  EXPECT_TRUE(result.startsWith("Generated SQL: \r\n")) << result.toStdString();
  EXPECT_TRUE(
      result.contains("\r\n\r\nSome problem occurred while taking the database backup: \r\n\r\n-"))
      << result.toStdString();
  EXPECT_FALSE(fs::exists(backup_file_));
}

TEST_F(BackupRestoreTest, UnreachableServerLeadsWithTheProblemLine) {
  window_->txtSvrName->setText(Q(UnreachableServer()));
  window_->cmdBK->click();
  EXPECT_TRUE(window_->ResultText().startsWith(
      "Some problem occurred while taking the database backup: \r\n\r\n"));
  window_->cmdRT->click();
  EXPECT_TRUE(window_->ResultText().startsWith(
      "Some problem occurred while performing the database restore: \r\n\r\n"));
  EXPECT_FALSE(fs::exists(backup_file_));
}

TEST_F(BackupRestoreTest, RestoreNeedsTheBackupFile) {
  window_->cmdRT->click();
  EXPECT_EQ(window_->ResultText(), "Database backup file for restore doesn't exist.");
}

TEST_F(BackupRestoreTest, RestoresABackupIntoTheNewDatabaseTwice) {
  if (!EngineBacksUp()) return;
  ExecuteSql("CREATE DATABASE [" + name_ + "]");
  ExecuteSql("CREATE TABLE Marker (Note varchar(20))", name_);
  ExecuteSql("INSERT INTO Marker VALUES ('backed up')", name_);
  window_->cmdBK->click();
  ASSERT_TRUE(fs::exists(backup_file_)) << window_->ResultText().toStdString();
  ExecuteSql("INSERT INTO Marker VALUES ('after backup')", name_);

  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    window_->cmdRT->click();
    const QString result = window_->ResultText();
    EXPECT_TRUE(result.startsWith("Generated SQL: \r\n")) << result.toStdString();
    EXPECT_TRUE(result.endsWith("\r\n\r\nRestore of '" + Q(name_) + "_NEW' on '" + Q(ServerName()) +
                                "' is successful."))
        << result.toStdString();
    EXPECT_EQ(QueryColumn("SELECT Note FROM Marker", name_ + "_NEW"),
              std::vector<std::string>{"backed up"});
    EXPECT_TRUE(fs::exists(backup_file_));
  }
  EXPECT_EQ(QueryColumn("SELECT COUNT(*) FROM Marker", name_), std::vector<std::string>{"2"});
}

}  // namespace
}  // namespace velmora_test
