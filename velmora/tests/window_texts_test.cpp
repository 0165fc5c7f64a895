// Velmora's windows as a user reads them, at the scale factor this process
// runs with (ctest runs these tests once per factor: 1, 1.25, 1.5 and 2):
// every caption and default text is readable in full in its control, in the
// face chosen for that scale.

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "classic_ui/classic_font.h"
#include "classic_ui/tests/caption_fit.h"
#include "classic_ui/tests/screenshots.h"
#include "dbplatform/object.h"
#include "velmora/form1.h"
#include "velmora/frmsql.h"
#include "velmora/tests/test_seams.h"

namespace velmora_test {
namespace {

using classic_ui_test::CaptionMisfits;
using classic_ui_test::MeasuredTextCount;
using classic_ui_test::Misfit;

void ExpectEveryTextFits(QWidget& window, int text_count) {
  SCOPED_TRACE(window.objectName().toStdString());
  EXPECT_EQ(MeasuredTextCount(window), text_count);
  for (const Misfit& misfit : CaptionMisfits(window)) {
    ADD_FAILURE() << misfit.control.toStdString() << " '" << misfit.text.toStdString() << "' needs "
                  << misfit.needed.width() << "x" << misfit.needed.height() << " but has "
                  << misfit.room.width() << "x" << misfit.room.height();
  }
}

class WindowTextsTest : public ::testing::Test {
 protected:
  WindowTextsTest() : form_(dbplatform::DefaultFactory(), messages_, end_) {}
  RecordingMessages messages_;
  RecordingEnd end_;
  velmora::Form1 form_;
};

TEST_F(WindowTextsTest, RunAtTheRequestedScaleInTheFaceMadeForIt) {
  ASSERT_DOUBLE_EQ(qApp->devicePixelRatio(), classic_ui_test::RequestedScaleFactor());
  ASSERT_TRUE(QFile::exists(QString::fromLatin1(classic_ui::kBitmapSansPath)));
  ASSERT_TRUE(QFile::exists(QString::fromLatin1(classic_ui::kScalableSansPath)));
  const QString regular =
      qApp->devicePixelRatio() == 1.0 ? QStringLiteral("MS Sans Serif") : QStringLiteral("Tahoma");
  for (QWidget* control : {static_cast<QWidget*>(form_.Text1), static_cast<QWidget*>(form_.cmdExit),
                           static_cast<QWidget*>(form_.Label2)}) {
    EXPECT_EQ(QFontInfo(control->font()).family(), regular) << control->objectName().toStdString();
  }
  // Bold is the scalable face at every scale: the bitmap strikes have none.
  for (QWidget* control :
       {static_cast<QWidget*>(form_.Label1), static_cast<QWidget*>(form_.Frame1)}) {
    const QFontInfo bold(control->font());
    EXPECT_EQ(bold.family(), "Tahoma") << control->objectName().toStdString();
    EXPECT_TRUE(bold.bold()) << control->objectName().toStdString();
  }
}

TEST_F(WindowTextsTest, EveryCaptionAndDefaultTextFitsItsControl) {
  form_.show();
  form_.cmdDBRB->click();
  velmora::frmSQL* backup = form_.BackupRestoreWindow();
  ASSERT_NE(backup, nullptr);
  ExpectEveryTextFits(form_, 23);
  ExpectEveryTextFits(*backup, 10);

  const QString scale = QString::number(qApp->devicePixelRatio());
  classic_ui_test::SaveScreenshotIfRequested(form_, QStringLiteral("Form1@") + scale);
  classic_ui_test::SaveScreenshotIfRequested(*backup, QStringLiteral("frmSQL@") + scale);
}

TEST_F(WindowTextsTest, ATooLongTextIsReported) {
  // The measure itself: a caption that cannot fit must be caught.
  form_.cmdExit->setText(QStringLiteral("EXIT THE PROGRAM NOW"));
  form_.Text1->setText(QStringLiteral("a-computer-name-longer-than-its-box"));
  std::vector<QString> misfits;
  for (const Misfit& misfit : CaptionMisfits(form_)) misfits.push_back(misfit.control);
  EXPECT_EQ(misfits, (std::vector<QString>{"Text1", "cmdExit"}))
      << "in the window's order of creation";
}

}  // namespace
}  // namespace velmora_test
