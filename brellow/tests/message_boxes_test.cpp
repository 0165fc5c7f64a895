// Brellow's real message boxes show their texts exactly as composed: names
// that look like markup (a typed login name the server's refusal repeats, a
// database name in the shrink report) are shown as they are, never rendered.

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "brellow/frmbrellow.h"
#include "brellow/frmsqllogin.h"
#include "brellow/messages.h"
#include "brellow/tests/engine_test.h"
#include "brellow/tests/sql_session.h"
#include "brellow/tests/test_seams.h"
#include "classic_ui/tests/message_box_reader.h"
#include "dbplatform/object.h"

namespace brellow_test {
namespace {

using MessageBoxTest = EngineTest;

TEST_F(MessageBoxTest, ARefusedLoginNameThatLooksLikeMarkupIsShownAsTyped) {
  ScopedSettingsFolder settings;
  brellow::basPublic program;
  brellow::MessageBoxes boxes;
  brellow::frmSQLlogin login(dbplatform::DefaultFactory(), program, boxes);
  login.Form_Load();
  login.show();
  // The login name travels in the connection text, where ";" would end it.
  const QString typed = QStringLiteral("<b>x</b>&amp");
  login.optNT[1]->click();
  login.txtServerName->setText(QString::fromStdString(engine_->ServerName()));
  login.txtLoginName->setText(typed);
  login.txtPassword->setText(QStringLiteral("wrong"));

  const auto shown = classic_ui_test::ReadMessageBoxes([&] { login.cmdLogin->click(); });

  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].title, "Brellow");
  EXPECT_TRUE(shown[0].displayed_text.startsWith("Error connecting to server .... "))
      << shown[0].displayed_text.toStdString();
  EXPECT_TRUE(shown[0].displayed_text.contains("Login failed for user '" + typed + "'"))
      << shown[0].displayed_text.toStdString();
  EXPECT_EQ(shown[0].displayed_text, shown[0].raw_text);
}

TEST_F(MessageBoxTest, TheShrinkReportShowsADatabaseNameThatLooksLikeMarkupAsItIs) {
  ScopedSettingsFolder settings;
  const QString name = QStringLiteral("&lt;<b>x");
  SqlSession(engine_->ServerName()).Run("CREATE DATABASE [" + name.toStdString() + "]");
  brellow::basPublic program;
  brellow::MessageBoxes boxes;
  RecordingEnd end;
  brellow::frmBrellow window(dbplatform::DefaultFactory(), program, boxes, end);
  const QString server = QString::fromStdString(engine_->ServerName());
  WhenLoginOpens([&](brellow::frmSQLlogin& login) {
    login.optNT[1]->click();
    login.txtServerName->setText(server);
    login.txtLoginName->setText(QStringLiteral("sa"));
    login.cmdLogin->click();
  });
  window.Form_Load();
  ASSERT_EQ(end.calls, 0);
  window.show();

  const auto shown = classic_ui_test::ReadMessageBoxes([&] { window.cmdShrink->click(); });

  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].displayed_text,
            "Selected databases shrunk OK.\n\n" + name + " - OK.\ntempdb - OK.\n");
}

}  // namespace
}  // namespace brellow_test
