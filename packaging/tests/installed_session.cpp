// A first session with installed programs, run from the installation's own
// bin folder (the package test copies this program there), so the programs'
// code meets the installed layout: the sqlengine beside them, the shipped
// sample database, the per-user program folder, the registered ODBC driver.
// The engine listens on $INSTALLED_SESSION_PORT and keeps its home in
// $SQLENGINE_HOME; the caller stops it afterwards with the installed
// `sqlengine stop`. The tests run in order: Velmora starts the engine that
// Brellow logs in to.

#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStringList>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "brellow/baspublic.h"
#include "brellow/frmsqllogin.h"
#include "brellow/messages.h"
#include "dbplatform/object.h"
#include "dbplatform/platform.h"
#include "velmora/form1.h"
#include "velmora/frmsql.h"
#include "velmora/list_box.h"
#include "velmora/messages.h"
#include "velmora/program_end.h"

namespace {

namespace fs = std::filesystem;

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

QString ServerName() {
  return QStringLiteral("127.0.0.1,") + QString::fromStdString(Env("INSTALLED_SESSION_PORT"));
}

class RecordedVelmoraMessages : public velmora::Messages {
 public:
  void Show(const QString& text, Icon) override { texts.push_back(text); }
  QStringList texts;
};

class RecordedBrellowMessages : public brellow::Messages {
 public:
  void Show(const QString& text) override { texts.push_back(text); }
  QStringList texts;
};

class NoProgramEnd : public velmora::ProgramEnd {
 public:
  void EndNow() override { ADD_FAILURE() << "the program was ended"; }
};

QStringList Lines(const QAbstractItemView& view) {
  QStringList lines;
  const QAbstractItemModel& model = *view.model();
  for (int row = 0; row < model.rowCount(); ++row) {
    lines.push_back(model.data(model.index(row, 0)).toString());
  }
  return lines;
}

TEST(InstalledVelmora, UsesTheUsersOwnProgramFolderSeededWithTheSampleDatabase) {
  const fs::path user_folder = fs::path(Env("XDG_DATA_HOME")) / "velmora";
  ASSERT_EQ(dbplatform::ProgramFolder(), user_folder.string());
  EXPECT_TRUE(fs::is_regular_file(user_folder / "TestProjSQL.mdf"));
  EXPECT_EQ(fs::file_size(user_folder / "TestProjSQL.mdf"),
            fs::file_size(fs::path(dbplatform::ExecutableFolder()) / ".." / "share" / "velmora" /
                          "TestProjSQL.mdf"));
}

TEST(InstalledVelmora, StartsTheEngineAttachesListsAndBacksUp) {
  RecordedVelmoraMessages messages;
  NoProgramEnd program_end;
  velmora::Form1 form(dbplatform::DefaultFactory(), messages, program_end);
  form.Text1->setText(ServerName());

  form.Command1->click();  // the installed sqlengine, found beside this program
  EXPECT_TRUE(messages.texts.isEmpty()) << messages.texts.join(" / ").toStdString();

  messages.texts.clear();
  form.cmdAttchDB->click();
  ASSERT_GE(messages.texts.size(), 2) << messages.texts.join(" / ").toStdString();
  EXPECT_EQ(messages.texts.front(), "Database do not exist");
  EXPECT_EQ(messages.texts.back(), "Database installed successfully")
      << messages.texts.join(" / ").toStdString();

  messages.texts.clear();
  form.chkTables->setChecked(true);
  form.cmdKnowDB->click();
  EXPECT_TRUE(messages.texts.isEmpty()) << messages.texts.join(" / ").toStdString();
  const QString listing = Lines(*form.List1).join('\n');
  EXPECT_TRUE(listing.contains("TestProjSQL")) << listing.toStdString();
  EXPECT_TRUE(listing.contains("Test")) << listing.toStdString();

  form.cmdDBRB->click();
  velmora::frmSQL* backup_window = form.BackupRestoreWindow();
  ASSERT_NE(backup_window, nullptr);
  backup_window->txtSvrName->setText(ServerName());
  backup_window->cmdBK->click();
  const QString result = backup_window->txtResult->toPlainText();
  EXPECT_TRUE(result.contains("is successful")) << result.toStdString();
  // The engine wrote the backup into the user's folder, not the installation.
  EXPECT_TRUE(fs::is_regular_file(dbplatform::ProgramFolder() + "/TestProjSQL_DB.bak"));
  EXPECT_FALSE(fs::exists(dbplatform::ExecutableFolder() + "/TestProjSQL_DB.bak"));
}

// Run on its own, from a folder without sqlengine and with nothing on PATH.
TEST(VelmoraWithoutEngine, TurnOnSaysTheEngineIsMissing) {
  RecordedVelmoraMessages messages;
  NoProgramEnd program_end;
  velmora::Form1 form(dbplatform::DefaultFactory(), messages, program_end);
  form.Text1->setText(ServerName());
  form.Command1->click();
  ASSERT_EQ(messages.texts.size(), 1) << messages.texts.join(" / ").toStdString();
  EXPECT_TRUE(messages.texts.front().startsWith(
      "Please check the machine name: The specified service does not exist as an installed "
      "service: the program sqlengine was found neither beside this program nor on PATH"))
      << messages.texts.front().toStdString();
}

TEST(InstalledBrellow, LogsInAsSysadminAndRemembersTheLogin) {
  brellow::basPublic program;
  RecordedBrellowMessages messages;
  brellow::frmSQLlogin login(dbplatform::DefaultFactory(), program, messages);
  login.SArequired = true;
  login.Form_Load();
  login.txtServerName->setText(ServerName());
  login.optNT[1]->click();
  login.txtLoginName->setText("sa");
  login.txtPassword->setText("");
  login.cmdLogin_Click();
  EXPECT_TRUE(messages.texts.isEmpty()) << messages.texts.join(" / ").toStdString();
  EXPECT_FALSE(program.strConnect.empty());
  EXPECT_NE(program.cnSQL, nullptr);
  EXPECT_TRUE(fs::is_regular_file(fs::path(Env("XDG_CONFIG_HOME")) / "Brellow" / "Brellow.conf"));
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
