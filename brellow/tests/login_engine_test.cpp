// Login attempts against a real engine: the connection, the test query, the
// sysadmin check and the settings saved on success only.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include "brellow/connection_text.h"
#include "brellow/frmsqllogin.h"
#include "brellow/program_info.h"
#include "brellow/settings_store.h"
#include "brellow/tests/engine_test.h"
#include "brellow/tests/sql_session.h"
#include "brellow/tests/test_seams.h"
#include "dbplatform/value.h"

namespace brellow_test {
namespace {

constexpr char kPrivilegeMessage[] =
    "This application requires SQL 'sysadmin' privileges ... Please contact system "
    "administrator for more information.";

class LoginEngineTest : public EngineTest {
 protected:
  LoginEngineTest() : login_(dbplatform::DefaultFactory(), program_, messages_) {
    login_.SArequired = true;
    login_.Form_Load();
    login_.show();
  }

  void FillSqlLogin(const QString& server, const QString& name, const QString& password) {
    login_.optNT[1]->click();
    login_.txtServerName->setText(server);
    login_.txtLoginName->setText(name);
    login_.txtPassword->setText(password);
  }

  void ExpectBackToWaitingWithNothingSaved() {
    EXPECT_TRUE(login_.isVisible());
    EXPECT_EQ(program_.strConnect, "");
    EXPECT_EQ(program_.cnSQL, nullptr);
    EXPECT_TRUE(login_.tmrLogin->isActive());
    EXPECT_NE(login_.cursor().shape(), Qt::WaitCursor);
    EXPECT_TRUE(WaitFor([&] { return login_.cmdLogin->isEnabled(); }, 1500));
    for (const char* key : {"Servername", "UserName", "Password", "Mode"}) {
      EXPECT_EQ(SavedLogin(key), QStringLiteral("<missing>")) << key;
    }
  }

  // One message: the connect error with the driver's reason after it.
  void ExpectConnectErrorAndBackToWaiting() {
    ASSERT_EQ(messages_.shown.size(), 1u);
    const QString prefix = QStringLiteral("Error connecting to server .... ");
    EXPECT_TRUE(messages_.shown[0].startsWith(prefix)) << messages_.shown[0].toStdString();
    EXPECT_GT(messages_.shown[0].size(), prefix.size()) << "the driver's reason follows";
    ExpectBackToWaitingWithNothingSaved();
  }

  ScopedSettingsFolder settings_;
  RecordingMessages messages_;
  brellow::basPublic program_;
  brellow::frmSQLlogin login_;
};

TEST_F(LoginEngineTest, SaLoginConnectsWithTrimmedTextsAndSavesThemAsTyped) {
  const QString server =
      QStringLiteral("  ") + QString::fromStdString(engine_->ServerName()) + QStringLiteral(" ");
  FillSqlLogin(server, QStringLiteral(" sa "), QString());

  login_.cmdLogin->click();

  EXPECT_TRUE(messages_.shown.empty()) << messages_.shown.front().toStdString();
  EXPECT_FALSE(login_.isVisible());
  EXPECT_EQ(program_.strConnect,
            "Provider=SQLOLEDB.1;Persist Security Info=False;User ID=sa;Password=;"
            "Initial Catalog=master;Data Source=" +
                engine_->ServerName() + ";");
  ASSERT_NE(program_.cnSQL, nullptr);
  auto current = program_.cnSQL->Execute("SELECT DB_NAME()");
  EXPECT_EQ(dbplatform::ToText(current->Fields().Item(0).GetValue()), "master");
  current->Close();

  EXPECT_EQ(SavedLogin("Servername"), server);
  EXPECT_EQ(SavedLogin("UserName"), QStringLiteral(" sa "));
  EXPECT_EQ(SavedLogin("Password"), QString());
  EXPECT_EQ(SavedLogin("Mode"), QStringLiteral("1"));
  struct stat file_status {};
  ASSERT_EQ(stat(brellow::SettingsFileName(QString::fromLatin1(brellow::kProgramName))
                     .toLocal8Bit()
                     .constData(),
                 &file_status),
            0);
  EXPECT_EQ(file_status.st_mode & 0777, 0600u) << "the file holds a password";
}

TEST_F(LoginEngineTest, WrongPasswordIsAConnectErrorAndLeavesTheWindowWaiting) {
  SqlSession(engine_->ServerName()).Run("CREATE LOGIN clerk WITH PASSWORD = 'right'");
  FillSqlLogin(QString::fromStdString(engine_->ServerName()), QStringLiteral("clerk"),
               QStringLiteral("wrong"));

  login_.cmdLogin->click();

  ExpectConnectErrorAndBackToWaiting();
}

TEST_F(LoginEngineTest, LoginWithoutSysadminIsRefusedAndClosedThenAllowedWhenNotRequired) {
  SqlSession(engine_->ServerName()).Run("CREATE LOGIN clerk WITH PASSWORD = 'x'");
  FillSqlLogin(QString::fromStdString(engine_->ServerName()), QStringLiteral("clerk"),
               QStringLiteral("x"));

  login_.cmdLogin->click();
  ASSERT_EQ(messages_.shown.size(), 1u);
  EXPECT_EQ(messages_.shown[0], QString::fromLatin1(kPrivilegeMessage));
  ExpectBackToWaitingWithNothingSaved();

  login_.SArequired = false;
  login_.cmdLogin->click();
  EXPECT_EQ(messages_.shown.size(), 1u) << "no second message";
  EXPECT_FALSE(login_.isVisible());
  EXPECT_NE(program_.strConnect, "");
  ASSERT_NE(program_.cnSQL, nullptr);
  EXPECT_EQ(SavedLogin("UserName"), QStringLiteral("clerk"));
}

TEST_F(LoginEngineTest, NtSecurityLeavesTheSqlLoginOutAndReportsTheDriversReason) {
  EXPECT_EQ(brellow::BrellowConnectString(true, QStringLiteral(" host,1433 "), QStringLiteral("sa"),
                                          QStringLiteral("pw")),
            "Provider=SQLOLEDB.1;Persist Security Info=False;Integrated Security=SSPI;"
            "Initial Catalog=master;Data Source=host,1433;");
  EXPECT_EQ(brellow::BrellowConnectString(false, QStringLiteral("host"), QStringLiteral(" u "),
                                          QStringLiteral(" p w ")),
            "Provider=SQLOLEDB.1;Persist Security Info=False;User ID=u;Password=p w;"
            "Initial Catalog=master;Data Source=host;");

  // Without a Kerberos ticket the trusted connection cannot be made.
  login_.txtServerName->setText(QString::fromStdString(engine_->ServerName()));
  login_.txtLoginName->setText(QStringLiteral("sa"));
  login_.cmdLogin->click();
  ExpectConnectErrorAndBackToWaiting();
}

TEST_F(LoginEngineTest, UnreachableServerIsAConnectError) {
  const std::string server = engine_->ServerName();
  engine_->Stop();
  FillSqlLogin(QString::fromStdString(server), QStringLiteral("sa"), QString());
  login_.cmdLogin->click();
  ExpectConnectErrorAndBackToWaiting();
}

}  // namespace
}  // namespace brellow_test
