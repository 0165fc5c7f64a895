// The shrink run: real shrinking against an engine, failed databases kept
// selected for a retry, and the outcome rule for commands that leave no
// message.

#include <gtest/gtest.h>

#include <QGroupBox>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <filesystem>

#include "brellow/classic_look.h"
#include "brellow/frmbrellow.h"
#include "brellow/tests/main_window_fixture.h"
#include "brellow/tests/scripted_objects.h"
#include "brellow/tests/sql_session.h"
#include "classic_ui/tests/screenshots.h"
#include "dbplatform/error.h"

namespace brellow_test {
namespace {

const QString kOk = QStringLiteral("Selected databases shrunk OK.\r\n\r\n");
const QString kErrors = QStringLiteral("Errors occurred. \r\n\r\n");

class ShrinkRunTest : public MainWindowTest {
 protected:
  std::uintmax_t DataFileSize(const std::string& database) {
    return std::filesystem::file_size(engine_->DataFolder() / (database + ".mdf"));
  }
};

TEST_F(ShrinkRunTest, AllUserDatabasesShrinkAtTheEndOnly) {
  CreateDatabaseWithFreeSpace(engine_->ServerName(), "sales");
  CreateDatabaseWithFreeSpace(engine_->ServerName(), "big data");
  const std::uintmax_t sales_before = DataFileSize("sales");
  const std::uintmax_t big_before = DataFileSize("big data");
  LoadAsSa();
  ASSERT_EQ(end_.calls, 0);

  window_.cmdShrink->click();

  ASSERT_EQ(messages_.shown.size(), 1u);
  EXPECT_EQ(messages_.shown[0],
            kOk + QStringLiteral("big data - OK.\r\nsales - OK.\r\ntempdb - OK.\r\n"));
  EXPECT_LT(DataFileSize("sales"), sales_before);
  EXPECT_LT(DataFileSize("big data"), big_before) << "a name with a space shrinks too";
  EXPECT_TRUE(SelectedEntries().empty());
  EXPECT_TRUE(window_.lstDatabases->isEnabled()) << "enabled after a run of all databases";
  EXPECT_TRUE(window_.cmdShrink->isEnabled());
  EXPECT_NE(window_.cursor().shape(), Qt::WaitCursor);
  EXPECT_TRUE(window_.optWhich[0]->isChecked());
}

TEST_F(ShrinkRunTest, SelectedDatabasesCompactWithTheSecondMethod) {
  CreateDatabaseWithFreeSpace(engine_->ServerName(), "sales");
  CreateDatabaseWithFreeSpace(engine_->ServerName(), "stock");
  const std::uintmax_t sales_before = DataFileSize("sales");
  const std::uintmax_t stock_before = DataFileSize("stock");
  LoadAsSa();
  ASSERT_EQ(end_.calls, 0);

  window_.optWhich[1]->click();
  window_.optType[1]->click();
  ClickEntry(QStringLiteral("stock"));
  window_.cmdShrink->click();

  ASSERT_EQ(messages_.shown.size(), 1u);
  EXPECT_EQ(messages_.shown[0], kOk + QStringLiteral("stock - OK.\r\n"));
  EXPECT_LT(DataFileSize("stock"), stock_before);
  EXPECT_EQ(DataFileSize("sales"), sales_before) << "not selected, not shrunk";
  EXPECT_TRUE(SelectedEntries().empty());
}

TEST_F(ShrinkRunTest, FailedDatabaseKeepsTheEnginesMessageAndStaysSelectedForARetry) {
  SqlSession sa(engine_->ServerName());
  for (const char* name : {"doomed", "keep"}) sa.Run(std::string("CREATE DATABASE ") + name);
  LoadAsSa();
  ASSERT_EQ(end_.calls, 0);
  sa.Run("DROP DATABASE doomed");
  std::string engine_says;
  try {
    sa.Run("DBCC SHRINKDATABASE (doomed,5,TRUNCATEONLY)");
  } catch (const dbplatform::Error& failure) {
    engine_says = failure.Description();
  }
  ASSERT_FALSE(engine_says.empty()) << "the engine refuses a shrink of a missing database";

  window_.cmdShrink->click();
  ASSERT_EQ(messages_.shown.size(), 1u);
  EXPECT_EQ(messages_.shown[0], kErrors + QStringLiteral("doomed - ") +
                                    QString::fromStdString(engine_says) +
                                    QStringLiteral("\r\nkeep - OK.\r\ntempdb - OK.\r\n"));
  EXPECT_EQ(SelectedEntries(), std::vector<QString>{QStringLiteral("doomed")});
  EXPECT_TRUE(window_.lstDatabases->isEnabled());

  window_.optWhich[1]->click();
  EXPECT_TRUE(window_.cmdShrink->isEnabled());
  window_.cmdShrink->click();
  ASSERT_EQ(messages_.shown.size(), 2u);
  EXPECT_EQ(messages_.shown[1], kErrors + QStringLiteral("doomed - ") +
                                    QString::fromStdString(engine_says) + QStringLiteral("\r\n"))
      << "only the failed database runs again";
}

using ShrinkOutcomeTest = OfflineWindowTest;

TEST_F(ShrinkOutcomeTest, EmptyListRunsNothingAndReportsSuccess) {
  List({});
  EXPECT_TRUE(window_.cmdShrink->isEnabled());
  window_.cmdShrink->click();
  ASSERT_EQ(messages_.shown.size(), 1u);
  EXPECT_EQ(messages_.shown[0], kOk);
}

TEST_F(ShrinkOutcomeTest, NoMessageMeansShrunkUnlessTheCommandRaisedAnError) {
  UseConnection([](const std::string& sql, std::vector<dbplatform::ErrorItem>&) {
    if (sql.find("lost") != std::string::npos) {
      throw dbplatform::Error(dbplatform::kAdoConnectionFailed, "Communication link failure");
    }
  });
  List({"lost", "quiet"});
  window_.cmdShrink->click();

  ASSERT_EQ(messages_.shown.size(), 1u);
  EXPECT_EQ(messages_.shown[0],
            kErrors + QStringLiteral("lost - Communication link failure\r\nquiet - OK.\r\n"));
  const std::vector<std::string> sent = {"DBCC SHRINKDATABASE (lost,5,TRUNCATEONLY)",
                                         "DBCC SHRINKDATABASE (quiet,5,TRUNCATEONLY)"};
  EXPECT_EQ(connection_->executed, sent);
  EXPECT_EQ(connection_->command_timeout, 1000);
  EXPECT_TRUE(window_.lstDatabases->item(0)->isSelected());
  EXPECT_FALSE(window_.lstDatabases->item(1)->isSelected());
}

TEST_F(ShrinkOutcomeTest, CompletionAfterOnlyInformationalMessagesIsSuccessAndCaseCounts) {
  const dbplatform::ErrorItem skipped{
      5201,
      "DBCC SHRINKDATABASE: File ID 1 of database ID 5 was skipped because the file does not have "
      "enough free space to reclaim.",
      "01000"};
  const dbplatform::ErrorItem completed{2528, "DBCC execution completed.", "01000"};
  UseConnection([&](const std::string& sql, std::vector<dbplatform::ErrorItem>& messages) {
    if (sql.find("(full") != std::string::npos) {
      messages = {skipped, completed};
    } else if (sql.find("(upper") != std::string::npos) {
      messages = {{2528, "DBCC EXECUTION COMPLETED.", "01000"}};
    } else if (sql.find("(busy") != std::string::npos) {
      messages = {skipped,
                  {3023, "Backup and file manipulation operations must be serialized.", "42000"},
                  completed};
    } else {
      messages = {completed, {0, "later message", "01000"}};
    }
  });
  List({"busy", "full", "lower", "upper"});
  window_.cmdShrink->click();
  ASSERT_EQ(messages_.shown.size(), 1u);
  EXPECT_EQ(messages_.shown[0],
            kErrors + QStringLiteral("busy - Backup and file manipulation operations must be "
                                     "serialized.\r\nfull - OK.\r\nlower - OK.\r\nupper - DBCC "
                                     "EXECUTION COMPLETED.\r\n"));
}

TEST_F(ShrinkOutcomeTest, ShrinkStaysDisabledDuringTheRunAndCloseStopsIt) {
  bool shrink_enabled_meanwhile = true;
  UseConnection([&](const std::string&, std::vector<dbplatform::ErrorItem>& messages) {
    messages.push_back({2528, "DBCC execution completed.", "01000"});
    // The user's clicks between two databases.
    window_.optWhich[0]->click();
    window_.lstDatabases->item(2)->setSelected(false);
    shrink_enabled_meanwhile = window_.cmdShrink->isEnabled();
    window_.cmdClose->click();
  });
  List({"a", "b", "c"});
  window_.cmdShrink->click();

  EXPECT_FALSE(shrink_enabled_meanwhile);
  EXPECT_EQ(connection_->executed.size(), 1u) << "databases not yet reached are not shrunk";
  EXPECT_EQ(end_.calls, 1);
  EXPECT_TRUE(messages_.shown.empty());
}

TEST_F(ShrinkOutcomeTest, WindowControlsSitAtTheirTwipsPositionsInTabOrder) {
  List({"sales", "stock"});
  window_.show();
  classic_ui_test::SaveScreenshotIfRequested(window_, QStringLiteral("main"));
  EXPECT_EQ(window_.windowTitle(), QStringLiteral("Shrink SQL Databases ...."));
  EXPECT_EQ(window_.size(), brellow::TwipsSize(6528, 4080));
  EXPECT_EQ(window_.Frame1->title(), QStringLiteral("Which databases do you want to shrink?  "));
  EXPECT_EQ(window_.lstDatabases->parentWidget(), window_.Frame1);
  EXPECT_EQ(window_.lstDatabases->geometry(), brellow::TwipsRect(360, 840, 4512, 1392));
  EXPECT_EQ(window_.optType[1]->parentWidget(), window_.Frame2);
  EXPECT_EQ(window_.optType[1]->geometry(), brellow::TwipsRect(180, 660, 4812, 372));
  EXPECT_EQ(window_.cmdClose->geometry(), brellow::TwipsRect(5580, 3600, 792, 372));

  std::vector<QWidget*> chain;
  QWidget* widget = window_.cmdShrink;
  do {
    if (widget->focusPolicy() & Qt::TabFocus) chain.push_back(widget);
    widget = widget->nextInFocusChain();
  } while (widget != window_.cmdShrink);
  const std::vector<QWidget*> expected = {
      window_.cmdShrink,    window_.cmdClose,   window_.optWhich[0], window_.optWhich[1],
      window_.lstDatabases, window_.optType[0], window_.optType[1]};
  EXPECT_EQ(chain, expected);
}

}  // namespace
}  // namespace brellow_test
