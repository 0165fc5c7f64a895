// Brellow's windows as a user reads them, at the scale factor this process
// runs with (ctest runs these tests once per factor: 1, 1.25, 1.5 and 2):
// every caption and default text is readable in full in its control, the
// long shrink methods on two lines where they need them.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QRadioButton>

#include "brellow/frmbrellow.h"
#include "brellow/frmsqllogin.h"
#include "brellow/tests/main_window_fixture.h"
#include "brellow/tests/scripted_objects.h"
#include "brellow/tests/test_seams.h"
#include "classic_ui/tests/caption_fit.h"
#include "classic_ui/tests/screenshots.h"

namespace brellow_test {
namespace {

using classic_ui_test::CaptionMisfits;
using classic_ui_test::MeasuredTextCount;
using classic_ui_test::Misfit;

void ExpectEveryTextFits(QWidget& window, int text_count) {
  SCOPED_TRACE(window.objectName().toStdString());
  ASSERT_DOUBLE_EQ(qApp->devicePixelRatio(), classic_ui_test::RequestedScaleFactor());
  EXPECT_EQ(MeasuredTextCount(window), text_count);
  for (const Misfit& misfit : CaptionMisfits(window)) {
    ADD_FAILURE() << misfit.control.toStdString() << " '" << misfit.text.toStdString() << "' needs "
                  << misfit.needed.width() << "x" << misfit.needed.height() << " but has "
                  << misfit.room.width() << "x" << misfit.room.height();
  }
}

class WindowTextsTest : public OfflineWindowTest {};

TEST_F(WindowTextsTest, EveryCaptionOfTheLoginWindowFits) {
  ScopedSettingsFolder settings;
  SaveLogin("Servername", QStringLiteral("a-server-name"));
  SaveLogin("UserName", QStringLiteral("a-login"));
  SaveLogin("Password", QStringLiteral("secret"));
  brellow::frmSQLlogin login(objects_, program_, messages_);
  login.Form_Load();
  login.show();
  ExpectEveryTextFits(login, 10);
  classic_ui_test::SaveScreenshotIfRequested(
      login, QStringLiteral("frmSQLlogin@") + QString::number(qApp->devicePixelRatio()));
}

TEST_F(WindowTextsTest, EveryCaptionOfTheMainWindowFits) {
  List({"master2", "sales"});
  window_.show();
  ExpectEveryTextFits(window_, 8);
  classic_ui_test::SaveScreenshotIfRequested(
      window_, QStringLiteral("frmBrellow@") + QString::number(qApp->devicePixelRatio()));
}

}  // namespace
}  // namespace brellow_test
