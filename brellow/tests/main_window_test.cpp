// Brellow's start and its database list window against a real engine.

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest/QTest>

#include "brellow/classic_look.h"
#include "brellow/tests/main_window_fixture.h"
#include "brellow/tests/sql_session.h"

namespace brellow_test {
namespace {

TEST_F(MainWindowTest, StartLogsInThenListsTheUserDatabasesSortedByName) {
  SqlSession sa(engine_->ServerName());
  for (const char* name : {"zeta", "Alpha", "mid"}) sa.Run(std::string("CREATE DATABASE ") + name);

  LoadAsSa();

  EXPECT_EQ(end_.calls, 0);
  EXPECT_TRUE(messages_.shown.empty());
  EXPECT_EQ(window_.windowTitle(), QStringLiteral("Brellow V1.0.1"));
  EXPECT_EQ(login_caption_, QStringLiteral("SQL Server Login Information - Brellow V1.0.1"));
  EXPECT_TRUE(login_sa_required_);
  const std::vector<QString> expected = {QStringLiteral("Alpha"), QStringLiteral("mid"),
                                         QStringLiteral("tempdb"), QStringLiteral("zeta")};
  EXPECT_EQ(Entries(), expected) << "master, msdb and model are left out";
  EXPECT_TRUE(window_.isVisible());
  EXPECT_TRUE(window_.optWhich[0]->isChecked());
  EXPECT_TRUE(window_.optType[0]->isChecked());
  EXPECT_FALSE(window_.lstDatabases->isEnabled());
  EXPECT_TRUE(SelectedEntries().empty());
  EXPECT_TRUE(window_.cmdShrink->isEnabled());
  EXPECT_EQ(window_.focusWidget(), window_.cmdShrink);

  brellow::frmSQLlogin next_start(dbplatform::DefaultFactory(), program_, messages_);
  next_start.Form_Load();
  EXPECT_EQ(next_start.txtServerName->text().toStdString(), engine_->ServerName());
  EXPECT_TRUE(next_start.optNT[1]->isChecked());
  EXPECT_EQ(next_start.txtLoginName->text(), QStringLiteral("sa"));
}

TEST_F(OfflineWindowTest, CancelledOrClosedLoginEndsTheProgramWithoutShowingTheWindow) {
  QString login_caption;
  bool sa_required = false;
  WhenLoginOpens([&](brellow::frmSQLlogin& login) {
    login_caption = login.windowTitle();
    sa_required = login.SArequired;
    login.cmdCancel->click();
  });
  window_.Form_Load();
  EXPECT_EQ(login_caption, QStringLiteral("SQL Server Login Information - Brellow V1.0.1"));
  EXPECT_TRUE(sa_required);
  EXPECT_EQ(window_.windowTitle(), QStringLiteral("Brellow V1.0.1"));
  EXPECT_EQ(end_.calls, 1);
  EXPECT_FALSE(window_.isVisible());
  EXPECT_TRUE(messages_.shown.empty());
  EXPECT_EQ(program_.strConnect, "");
  EXPECT_EQ(window_.lstDatabases->count(), 0);

  WhenLoginOpens([](brellow::frmSQLlogin& login) { login.close(); });
  window_.Form_Load();
  EXPECT_EQ(end_.calls, 2);
  EXPECT_FALSE(window_.isVisible());
  EXPECT_TRUE(messages_.shown.empty());
}

TEST_F(MainWindowTest, RefusedLoginThenCancelEndsTheProgram) {
  SqlSession(engine_->ServerName()).Run("CREATE LOGIN clerk WITH PASSWORD = 'x'");
  const QString server = QString::fromStdString(engine_->ServerName());
  LoadWith([server](brellow::frmSQLlogin& login) {
    login.optNT[1]->click();
    login.txtServerName->setText(server);
    login.txtLoginName->setText(QStringLiteral("clerk"));
    login.txtPassword->setText(QStringLiteral("x"));
    login.cmdLogin->click();
    login.cmdCancel->click();
  });
  ASSERT_EQ(messages_.shown.size(), 1u);
  EXPECT_TRUE(messages_.shown[0].startsWith(QStringLiteral("This application requires SQL")));
  EXPECT_EQ(end_.calls, 1);
  EXPECT_FALSE(window_.isVisible());
}

TEST_F(MainWindowTest, FailedListQueryEndsTheProgramWithItsMessage) {
  LoadAsSa([this](brellow::frmSQLlogin&) { engine_->Kill(); });
  ASSERT_EQ(messages_.shown.size(), 1u);
  EXPECT_EQ(messages_.shown[0], QStringLiteral("Cannot read database list ... exiting."));
  EXPECT_EQ(end_.calls, 1);
  EXPECT_FALSE(window_.isVisible());
}

TEST_F(MainWindowTest, WhichDatabasesAndListClicksDecideWhetherShrinkCanRun) {
  SqlSession sa(engine_->ServerName());
  for (const char* name : {"sales", "stock"}) sa.Run(std::string("CREATE DATABASE ") + name);
  LoadAsSa();
  ASSERT_EQ(end_.calls, 0);

  window_.optWhich[1]->click();
  EXPECT_TRUE(window_.lstDatabases->isEnabled());
  EXPECT_FALSE(window_.cmdShrink->isEnabled()) << "nothing selected";
  ClickEntry(QStringLiteral("sales"));
  EXPECT_EQ(SelectedEntries(), std::vector<QString>{QStringLiteral("sales")});
  EXPECT_TRUE(window_.cmdShrink->isEnabled());
  ClickEntry(QStringLiteral("stock"));
  ClickEntry(QStringLiteral("sales"));
  EXPECT_EQ(SelectedEntries(), std::vector<QString>{QStringLiteral("stock")}) << "clicks toggle";
  EXPECT_TRUE(window_.cmdShrink->isEnabled());
  ClickEntry(QStringLiteral("stock"));
  EXPECT_FALSE(window_.cmdShrink->isEnabled()) << "last selected entry deselected";

  ClickEntry(QStringLiteral("sales"));
  window_.optWhich[0]->click();
  EXPECT_FALSE(window_.lstDatabases->isEnabled());
  EXPECT_TRUE(window_.cmdShrink->isEnabled());
  EXPECT_EQ(SelectedEntries(), std::vector<QString>{QStringLiteral("sales")})
      << "the selection is left as it was";
}

TEST_F(MainWindowTest, CloseAndEscEndTheProgram) {
  LoadAsSa();
  ASSERT_EQ(end_.calls, 0);
  window_.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window_));
  QTest::keyClick(&window_, Qt::Key_Escape);
  EXPECT_EQ(end_.calls, 1);
  EXPECT_FALSE(window_.isVisible());

  window_.show();
  window_.cmdClose->click();
  EXPECT_EQ(end_.calls, 2);
  EXPECT_FALSE(window_.isVisible());
  EXPECT_TRUE(messages_.shown.empty());
}

}  // namespace
}  // namespace brellow_test
