// Form1 as it opens: every control where the layout table puts it, with its
// text, font, focus order and colour; the single backup and restore window;
// how the program ends.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "dbplatform/object.h"
#include "velmora/form1.h"
#include "velmora/frmsql.h"
#include "velmora/list_box.h"
#include "velmora/tests/test_seams.h"

namespace velmora_test {
namespace {

struct Placement {
  const char* name;
  QWidget* control;
  QWidget* container;
  QRect twips;
  QString text;  // caption or initial text
  bool bold;
  bool sized_to_text = false;
};

QString TextOf(QWidget* control) {
  if (auto* label = qobject_cast<QLabel*>(control)) return label->text();
  if (auto* box = qobject_cast<QLineEdit*>(control)) return box->text();
  if (auto* button = qobject_cast<QAbstractButton*>(control)) return button->text();
  if (auto* frame = qobject_cast<QGroupBox*>(control)) return frame->title();
  return {};
}

QRect Pixels(const QRect& twips) {
  return {twips.x() / 15, twips.y() / 15, twips.width() / 15, twips.height() / 15};
}

// The widgets that take the focus by Tab, in the window's focus chain.
std::vector<QWidget*> TabOrder(QWidget* window, QWidget* first) {
  std::vector<QWidget*> order;
  QWidget* widget = first;
  do {
    if ((widget->focusPolicy() & Qt::TabFocus) && widget->window() == window) {
      order.push_back(widget);
    }
    widget = widget->nextInFocusChain();
  } while (widget != first);
  return order;
}

class Form1LayoutTest : public ::testing::Test {
 protected:
  Form1LayoutTest() : factory_(dbplatform::DefaultFactory()), form_(factory_, messages_, end_) {}
  RecordingMessages messages_;
  RecordingEnd end_;
  FaultyFactory factory_;
  velmora::Form1 form_;
};

TEST_F(Form1LayoutTest, ControlsStandWhereTheTableSays) {
  velmora::Form1& f = form_;
  const Placement table[] = {
      {"Label1", f.Label1, &f, {240, 120, 1410, 195}, "Computer Name:", true, true},
      {"Text1", f.Text1, &f, {240, 360, 1095, 285}, "localhost", false},
      {"Command1", f.Command1, &f, {1560, 360, 2055, 255}, "Turn On MSDE Service", false},
      {"cmdAttchDB", f.cmdAttchDB, &f, {240, 840, 1575, 255}, "Attach DB", false},
      {"cmdDetachDB", f.cmdDetachDB, &f, {2040, 840, 1575, 255}, "Detach DB", false},
      {"Frame1", f.Frame1, &f, {3960, 120, 4455, 855}, "Delete Database If Exists", true},
      {"Label2", f.Label2, f.Frame1, {120, 360, 1155, 195}, "Database Name", false},
      {"Text2", f.Text2, f.Frame1, {1320, 360, 1455, 285}, "TestProjSQL", false},
      {"Command2", f.Command2, f.Frame1, {2880, 360, 1335, 255}, "Delete DB", false},
      {"txtSQL", f.txtSQL, &f, {240, 1320, 4815, 285}, "Select * from Test", false},
      {"cmdConnectToDB",
       f.cmdConnectToDB,
       &f,
       {5280, 1320, 2055, 255},
       "Execute SQL statement",
       false},
      {"List1", f.List1, &f, {240, 1800, 4815, 1620}, "", false},
      {"Frame2", f.Frame2, &f, {5280, 1800, 3135, 1575}, "Add/Delete Operation", true},
      {"Label4", f.Label4, f.Frame2, {120, 360, 465, 195}, "Name:", false, true},
      {"txtName", f.txtName, f.Frame2, {120, 600, 1335, 285}, "Lena T", false},
      {"Label5", f.Label5, f.Frame2, {1800, 360, 555, 195}, "Position", false, true},
      {"txtPos", f.txtPos, f.Frame2, {1800, 600, 1215, 285}, "Monitor", false},
      {"cmdADD", f.cmdADD, f.Frame2, {120, 1080, 1095, 255}, "ADD", false},
      {"cmdDel", f.cmdDel, f.Frame2, {1800, 1080, 1095, 255}, "DELETE", false},
      {"Frame3", f.Frame3, &f, {240, 3600, 6015, 735}, "Server Information", true},
      {"cmdKnowDB", f.cmdKnowDB, f.Frame3, {240, 360, 1935, 255}, "Available Databases", false},
      {"chkTables", f.chkTables, f.Frame3, {2400, 360, 1335, 255}, "Show Tables", false},
      {"cmdDBRB", f.cmdDBRB, f.Frame3, {3840, 360, 2055, 255}, "DB Restore/BackUP", false},
      {"cmdExit", f.cmdExit, &f, {6960, 3840, 855, 255}, "EXIT", false},
  };
  for (const Placement& p : table) {
    SCOPED_TRACE(p.name);
    EXPECT_EQ(p.control->parentWidget(), p.container);
    if (p.sized_to_text) {
      // Grown, from its place, to fit its text in this platform's font.
      EXPECT_EQ(p.control->pos(), Pixels(p.twips).topLeft());
      EXPECT_GE(p.control->width(),
                std::max(Pixels(p.twips).width(), p.control->sizeHint().width()));
      EXPECT_EQ(p.control->height(),
                std::max(Pixels(p.twips).height(), p.control->sizeHint().height()));
    } else {
      EXPECT_EQ(p.control->geometry(), Pixels(p.twips));
    }
    EXPECT_EQ(TextOf(p.control), p.text);
    EXPECT_EQ(p.control->font().bold(), p.bold);
    EXPECT_DOUBLE_EQ(p.control->font().pointSizeF(), 8.25);
    if (auto* button = qobject_cast<QPushButton*>(p.control)) {
      EXPECT_FALSE(button->isDefault());
      EXPECT_FALSE(button->autoDefault());
    }
  }
  EXPECT_EQ(f.windowTitle(), "MSDE Example");
  EXPECT_EQ(f.size(), QSize(8610 / 15, 4455 / 15));
  EXPECT_EQ(f.List1->Count(), 0);
  EXPECT_EQ(f.List1->selectionMode(), QAbstractItemView::SingleSelection);
  EXPECT_EQ(f.chkTables->checkState(), Qt::Unchecked);
}

TEST_F(Form1LayoutTest, FocusStartsInText1AndTabFollowsTheTable) {
  velmora::Form1& f = form_;
  f.show();
  f.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
  EXPECT_EQ(QApplication::focusWidget(), f.Text1);
  const std::vector<QWidget*> expected = {
      f.Text1,  f.Command1,       f.cmdAttchDB, f.cmdDetachDB, f.Text2,  f.Command2,
      f.txtSQL, f.cmdConnectToDB, f.List1,      f.txtName,     f.txtPos, f.cmdADD,
      f.cmdDel, f.cmdKnowDB,      f.chkTables,  f.cmdExit,     f.cmdDBRB};
  EXPECT_EQ(TabOrder(&f, f.Text1), expected);
}

TEST_F(Form1LayoutTest, ExitButtonIsPaintedLightOrange) {
  form_.show();
  const QImage image = form_.cmdExit->grab().toImage();
  const QColor sample = image.pixelColor(image.width() / 8, image.height() / 2);
  EXPECT_NEAR(sample.red(), 255, 24);
  EXPECT_NEAR(sample.green(), 224, 24);
  EXPECT_NEAR(sample.blue(), 192, 24);
  EXPECT_GT(sample.red(), sample.blue() + 30);
}

TEST_F(Form1LayoutTest, OneBackupWindowThatComesBackWithItsInitialTexts) {
  form_.show();
  form_.cmdDBRB->click();
  QPointer<velmora::frmSQL> first = form_.BackupRestoreWindow();
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(first->isVisible());
  EXPECT_EQ(first->parentWidget(), nullptr);
  EXPECT_FALSE(first->isModal());
  first->txtDBName->setText("Typed");
  form_.cmdDBRB->click();
  EXPECT_EQ(form_.BackupRestoreWindow(), first.data());
  EXPECT_EQ(first->txtDBName->text(), "Typed");

  first->cmdClose->click();
  QTRY_VERIFY(first.isNull());  // deleted once closed
  form_.cmdDBRB->click();
  velmora::frmSQL* second = form_.BackupRestoreWindow();
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->txtDBName->text(), "TestProjSQL");
  EXPECT_EQ(second->txtSvrName->text(), "localhost");
}

TEST_F(Form1LayoutTest, ExitEndsTheProgramWithTheBackupWindowOpen) {
  form_.show();
  form_.cmdDBRB->click();
  form_.cmdExit->click();
  EXPECT_EQ(end_.calls, 1);
  EXPECT_FALSE(form_.isVisible());
}

// Runs the application's event loop until it ends by itself, at most 10 s;
// returns its exit status (-1 on the time limit).
int RunEventLoop() {
  QTimer limit;
  limit.setSingleShot(true);
  QObject::connect(&limit, &QTimer::timeout, [] { QCoreApplication::exit(-1); });
  limit.start(10000);
  return QApplication::exec();
}

TEST(Form1Program, ExitEndsTheRunningProgramAndHidesBothWindows) {
  RecordingMessages messages;
  velmora::QuitApplication quit;
  velmora::Form1 form(dbplatform::DefaultFactory(), messages, quit);
  form.show();
  form.cmdDBRB->click();
  QTimer::singleShot(0, form.cmdExit, &QPushButton::click);
  EXPECT_EQ(RunEventLoop(), 0);
  EXPECT_FALSE(form.isVisible());
  ASSERT_NE(form.BackupRestoreWindow(), nullptr);
  EXPECT_FALSE(form.BackupRestoreWindow()->isVisible());
}

TEST(Form1Program, ClosingTheMainWindowLeavesTheProgramRunningWithTheBackupWindow) {
  RecordingMessages messages;
  RecordingEnd end;
  velmora::Form1 form(dbplatform::DefaultFactory(), messages, end);
  form.show();
  form.cmdDBRB->click();
  QPointer<velmora::frmSQL> window = form.BackupRestoreWindow();
  bool ran_after_main_closed = false;
  QTimer::singleShot(0, &form, [&] {
    form.close();
    QTimer::singleShot(20, window, [&] {
      ran_after_main_closed = window->isVisible();
      window->close();
    });
  });
  EXPECT_EQ(RunEventLoop(), 0);
  EXPECT_TRUE(ran_after_main_closed);
  EXPECT_EQ(end.calls, 0);
}

}  // namespace
}  // namespace velmora_test
