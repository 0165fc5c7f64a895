// The login window's own rules: filling from the saved settings, the
// enabling rule, the security options, Cancel, Esc, and a login attempt that
// fails before reaching any server.

#include <gtest/gtest.h>

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QtTest/QTest>

#include "brellow/classic_look.h"
#include "brellow/frmsqllogin.h"
#include "brellow/tests/scripted_objects.h"
#include "brellow/tests/test_seams.h"
#include "classic_ui/tests/screenshots.h"

namespace brellow_test {
namespace {

class LoginWindowTest : public ::testing::Test {
 protected:
  bool SqlControlsEnabled(brellow::frmSQLlogin& login) {
    return login.lblLoginName->isEnabled() && login.lblPassword->isEnabled() &&
           login.txtLoginName->isEnabled() && login.txtPassword->isEnabled();
  }
  bool SqlControlsDisabled(brellow::frmSQLlogin& login) {
    return !login.lblLoginName->isEnabled() && !login.lblPassword->isEnabled() &&
           !login.txtLoginName->isEnabled() && !login.txtPassword->isEnabled();
  }

  ScopedSettingsFolder settings_;
  RecordingMessages messages_;
  brellow::basPublic program_;
  UncreatableObjects no_objects_;
};

TEST_F(LoginWindowTest, FirstRunShowsEmptyBoxesAndNtSecurityAndLoginWaitsForAServerName) {
  brellow::frmSQLlogin login(no_objects_, program_, messages_);
  login.Form_Load();
  login.show();

  EXPECT_EQ(login.txtServerName->text(), QString());
  EXPECT_EQ(login.txtLoginName->text(), QString());
  EXPECT_EQ(login.txtPassword->text(), QString());
  EXPECT_TRUE(login.optNT[0]->isChecked());
  EXPECT_FALSE(login.optNT[1]->isChecked());
  EXPECT_TRUE(SqlControlsDisabled(login));
  EXPECT_EQ(login.focusWidget(), login.txtServerName);
  EXPECT_TRUE(login.tmrLogin->isActive());
  EXPECT_EQ(login.tmrLogin->interval(), 500);

  EXPECT_TRUE(login.cmdLogin->isEnabled()) << "enabled until the first tick";
  EXPECT_TRUE(WaitFor([&] { return !login.cmdLogin->isEnabled(); }, 1500));
  QTest::keyClicks(login.txtServerName, "db1");
  EXPECT_TRUE(WaitFor([&] { return login.cmdLogin->isEnabled(); }, 1500));
  EXPECT_TRUE(messages_.shown.empty());
}

TEST_F(LoginWindowTest, SavedSettingsAreFilledInWithSqlSecurityAndAMaskedPassword) {
  SaveLogin("Servername", QStringLiteral(" db1 "));
  SaveLogin("UserName", QStringLiteral("bob"));
  SaveLogin("Password", QStringLiteral("s3cr;t"));
  SaveLogin("Mode", QStringLiteral("1"));
  brellow::frmSQLlogin login(no_objects_, program_, messages_);
  login.Form_Load();
  login.show();

  EXPECT_EQ(login.txtServerName->text(), QStringLiteral(" db1 "));
  EXPECT_EQ(login.txtLoginName->text(), QStringLiteral("bob"));
  EXPECT_EQ(login.txtPassword->text(), QStringLiteral("s3cr;t"));
  EXPECT_EQ(login.txtPassword->displayText(), QStringLiteral("******"));
  classic_ui_test::SaveScreenshotIfRequested(login, QStringLiteral("login"));
  EXPECT_TRUE(login.optNT[1]->isChecked());
  EXPECT_TRUE(SqlControlsEnabled(login));
  EXPECT_EQ(login.focusWidget(), login.txtServerName) << "Load does not move the focus";
}

TEST_F(LoginWindowTest, SavedModeOtherThanOneChoosesNtSecurity) {
  for (const char* mode : {"0", "2", "x1", "", "-1"}) {
    SaveLogin("Mode", QString::fromLatin1(mode));
    brellow::frmSQLlogin login(no_objects_, program_, messages_);
    login.Form_Load();
    EXPECT_TRUE(login.optNT[0]->isChecked()) << "mode '" << mode << "'";
    EXPECT_TRUE(SqlControlsDisabled(login)) << "mode '" << mode << "'";
  }
  SaveLogin("Mode", QStringLiteral(" 1 "));
  brellow::frmSQLlogin login(no_objects_, program_, messages_);
  login.Form_Load();
  EXPECT_TRUE(login.optNT[1]->isChecked()) << "a mode starting with 1 reads as 1";
}

TEST_F(LoginWindowTest, EnablingRuleCountsSpacesAsTextAndNeverTestsThePassword) {
  brellow::frmSQLlogin login(no_objects_, program_, messages_);
  login.Form_Load();

  login.txtServerName->setText(QStringLiteral("   "));
  login.tmrLogin_Timer();
  EXPECT_TRUE(login.cmdLogin->isEnabled()) << "NT security: a server name of spaces is enough";
  login.txtServerName->clear();
  login.txtLoginName->setText(QStringLiteral("sa"));
  login.tmrLogin_Timer();
  EXPECT_FALSE(login.cmdLogin->isEnabled()) << "NT security needs a server name";

  login.optNT[1]->click();
  login.txtServerName->setText(QStringLiteral("db1"));
  login.txtLoginName->clear();
  login.txtPassword->setText(QStringLiteral("pw"));
  login.tmrLogin_Timer();
  EXPECT_FALSE(login.cmdLogin->isEnabled()) << "SQL security needs a login name";
  login.txtLoginName->setText(QStringLiteral(" "));
  login.txtPassword->clear();
  login.tmrLogin_Timer();
  EXPECT_TRUE(login.cmdLogin->isEnabled()) << "a login name of spaces, no password";
  login.txtServerName->clear();
  login.tmrLogin_Timer();
  EXPECT_FALSE(login.cmdLogin->isEnabled());
}

TEST_F(LoginWindowTest, SwitchingSecurityEnablesTheSqlControlsAndKeepsTheirTexts) {
  brellow::frmSQLlogin login(no_objects_, program_, messages_);
  login.Form_Load();
  login.show();

  login.optNT[1]->click();
  EXPECT_TRUE(SqlControlsEnabled(login));
  EXPECT_FALSE(login.optNT[0]->isChecked());
  EXPECT_EQ(login.focusWidget(), login.txtLoginName);
  login.txtLoginName->setText(QStringLiteral("bob"));
  login.txtPassword->setText(QStringLiteral("pw"));

  login.optNT[0]->click();
  EXPECT_TRUE(SqlControlsDisabled(login));
  EXPECT_FALSE(login.optNT[1]->isChecked());
  EXPECT_EQ(login.txtLoginName->text(), QStringLiteral("bob"));
  EXPECT_EQ(login.txtPassword->text(), QStringLiteral("pw"));
}

TEST_F(LoginWindowTest, CancelAndEscLeaveWithoutAConnectionEvenWhenClosingItFails) {
  brellow::frmSQLlogin login(no_objects_, program_, messages_);
  login.Form_Load();
  login.show();
  program_.strConnect = "stale";
  program_.cnSQL = std::make_unique<ScriptedConnection>(nullptr, /*close_fails=*/true);

  login.cmdCancel->click();
  EXPECT_FALSE(login.isVisible());
  EXPECT_EQ(login.result(), QDialog::Rejected);
  EXPECT_FALSE(login.tmrLogin->isActive());
  EXPECT_EQ(program_.cnSQL, nullptr);
  EXPECT_EQ(program_.strConnect, "");

  brellow::frmSQLlogin second(no_objects_, program_, messages_);
  second.Form_Load();
  second.show();
  second.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&second));
  program_.strConnect = "stale";
  QTest::keyClick(second.txtServerName, Qt::Key_Escape);
  EXPECT_FALSE(second.isVisible());
  EXPECT_FALSE(second.tmrLogin->isActive()) << "Esc runs Cancel, not only a plain reject";
  EXPECT_EQ(program_.strConnect, "");
  EXPECT_TRUE(messages_.shown.empty());
}

TEST_F(LoginWindowTest, FailedAttemptReportsAndReturnsToWaitingWithTheButtonBackAtTheNextTick) {
  brellow::frmSQLlogin* window = nullptr;
  bool disabled_during_attempt = false;
  bool hourglass_during_attempt = false;
  bool timer_stopped_during_attempt = false;
  UncreatableObjects objects([&] {
    disabled_during_attempt = !window->cmdLogin->isEnabled();
    hourglass_during_attempt = window->cursor().shape() == Qt::WaitCursor;
    timer_stopped_during_attempt = !window->tmrLogin->isActive();
  });
  brellow::frmSQLlogin login(objects, program_, messages_);
  window = &login;
  login.Form_Load();
  login.show();
  login.txtServerName->setText(QStringLiteral("db1"));

  login.cmdLogin->click();
  EXPECT_EQ(objects.attempts, 1);
  EXPECT_TRUE(disabled_during_attempt);
  EXPECT_TRUE(hourglass_during_attempt);
  EXPECT_TRUE(timer_stopped_during_attempt);
  ASSERT_EQ(messages_.shown.size(), 1u);
  EXPECT_EQ(
      messages_.shown[0],
      QStringLiteral("Error connecting to server .... ActiveX component can't create object"));
  EXPECT_EQ(program_.strConnect, "");
  EXPECT_EQ(program_.cnSQL, nullptr);
  EXPECT_TRUE(login.isVisible());
  EXPECT_NE(login.cursor().shape(), Qt::WaitCursor);
  EXPECT_TRUE(login.tmrLogin->isActive());
  EXPECT_FALSE(login.cmdLogin->isEnabled());
  EXPECT_TRUE(WaitFor([&] { return login.cmdLogin->isEnabled(); }, 1500));
  EXPECT_EQ(SavedLogin("Servername"), QStringLiteral("<missing>")) << "nothing saved";
}

TEST_F(LoginWindowTest, ControlsSitAtTheirTwipsPositionsInTabOrder) {
  brellow::frmSQLlogin login(no_objects_, program_, messages_);
  EXPECT_EQ(login.windowTitle(), QStringLiteral("SQL Server Login Information"));
  EXPECT_EQ(login.size(), brellow::TwipsSize(6900, 2808));
  EXPECT_EQ(login.txtServerName->geometry(), brellow::TwipsRect(1860, 240, 2772, 312));
  EXPECT_EQ(login.txtLoginName->parentWidget(), login.fraSQL);
  EXPECT_EQ(login.txtPassword->geometry(), brellow::TwipsRect(1680, 660, 2712, 312));
  EXPECT_EQ(login.cmdCancel->geometry(), brellow::TwipsRect(5940, 2280, 852, 432));

  std::vector<QWidget*> chain;
  QWidget* widget = login.txtServerName;
  do {
    if (widget->focusPolicy() & Qt::TabFocus) chain.push_back(widget);
    widget = widget->nextInFocusChain();
  } while (widget != login.txtServerName);
  const std::vector<QWidget*> expected = {login.txtServerName, login.optNT[0],    login.optNT[1],
                                          login.txtLoginName,  login.txtPassword, login.cmdCancel,
                                          login.cmdLogin};
  EXPECT_EQ(chain, expected);
}

}  // namespace
}  // namespace brellow_test
