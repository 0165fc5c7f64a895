// Failures a real engine cannot be made to produce: an outside object that
// cannot be created, and closing calls that fail. Each must end the click with
// one report and leave the window usable.

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>

#include "velmora/frmsql.h"
#include "velmora/tests/engine_fixture.h"

namespace velmora_test {
namespace {

const QString kCannotCreate =
    QString::number(dbplatform::kCannotCreateObject) + ", ActiveX component can't create object";

class MissingLibraryTest : public ::testing::Test {
 protected:
  MissingLibraryTest() : factory_(dbplatform::DefaultFactory()), form_(factory_, messages_, end_) {}
  RecordingMessages messages_;
  RecordingEnd end_;
  FaultyFactory factory_;
  velmora::Form1 form_;
};

TEST_F(MissingLibraryTest, EveryOperationReportsOnceWhenItsObjectCannotBeCreated) {
  for (const char* id : {"SQLDMO.SQLServer", "ADODB.Connection", "ADODB.Command",
                         "Scripting.FileSystemObject", "SQLDMO.Backup", "SQLDMO.restore"}) {
    factory_.FailCreating(id);
  }
  // A start that cannot even create its object must not look like a silent success.
  form_.Command1->click();
  form_.cmdConnectToDB->click();
  form_.cmdADD->click();
  form_.cmdAttchDB->click();
  EXPECT_EQ(messages_.Texts(), (std::vector<QString>{kCannotCreate, kCannotCreate, kCannotCreate,
                                                     "ActiveX component can't create object"}));
  messages_.shown.clear();
  form_.cmdKnowDB->click();
  ASSERT_EQ(messages_.shown.size(), 1u);
  EXPECT_EQ(messages_.shown[0].text,
            "The MSDE server on 'localhost' is not ON. Please turn on the server to proceed."
            "\r\n\r\nActiveX component can't create object");

  form_.cmdDBRB->click();
  velmora::frmSQL* window = form_.BackupRestoreWindow();
  window->cmdBK->click();
  EXPECT_EQ(window->ResultText(),
            "Some problem occurred while taking the database backup: \r\n\r\n" + kCannotCreate);
  window->cmdRT->click();
  EXPECT_EQ(
      window->ResultText(),
      "Some problem occurred while performing the database restore: \r\n\r\n" + kCannotCreate);
  EXPECT_TRUE(form_.isEnabled());
  EXPECT_EQ(end_.calls, 0);
}

using ClosingFailureTest = EngineTest;

TEST_F(ClosingFailureTest, AFailingCloseAfterInstallingIsASecondMessage) {
  factory_.FailClosingCalls();
  ExecuteSql("CREATE DATABASE Present");
  form_->Text2->setText("Present");
  Click(form_->cmdAttchDB);
  EXPECT_EQ(messages_.Texts(),
            (std::vector<QString>{"Database already existing.", "close failed"}));
}

TEST_F(ClosingFailureTest, AFailingDisconnectChangesNoOutcome) {
  factory_.FailClosingCalls();
  Click(form_->Command1);
  EXPECT_EQ(messages_.Texts(),
            std::vector<QString>{"Server was on already. Database is connected."});

  messages_.shown.clear();
  Click(form_->cmdKnowDB);
  EXPECT_TRUE(messages_.shown.empty());
  EXPECT_FALSE(ListLines().isEmpty());

  form_->cmdDBRB->click();
  velmora::frmSQL* window = form_->BackupRestoreWindow();
  window->txtSvrName->setText(QString::fromStdString(ServerName()));
  window->txtDBName->setText(QString::fromStdString(UniqueName("VmNoBackup")));
  window->cmdRT->click();
  EXPECT_EQ(window->ResultText(), "Database backup file for restore doesn't exist.");
}

}  // namespace
}  // namespace velmora_test
