// The compact line store behind List1: every line comes back exactly as
// added, across its storage blocks, and rows appear only when published.

#include "velmora/text_lines_model.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <string>

#include "velmora/list_appender.h"
#include "velmora/list_box.h"
#include "velmora/tests/test_seams.h"

namespace velmora_test {
namespace {

TEST(TextLines, LinesComeBackExactlyAcrossBlockBoundariesAndOversizedLines) {
  velmora::TextLinesModel lines;
  QAbstractItemModelTester tester(&lines, QAbstractItemModelTester::FailureReportingMode::Fatal);
  // A first line that fills its block exactly, so the empty line after it
  // starts at the block's very end.
  std::vector<std::string> added = {std::string(1u << 16, 'f'), "", "g"};
  // Lines of varying length fill many blocks and end exactly at and just
  // past their ends; one line is larger than a block; some are empty.
  for (int i = 0; i < 40000; ++i) {
    added.push_back(std::string(static_cast<std::size_t>(i % 97), static_cast<char>('a' + i % 26)) +
                    " | " + std::to_string(i) + " | ");
    if (i % 5000 == 0) added.emplace_back();
    if (i == 20000) added.push_back(std::string(3u << 20, 'x'));
  }
  added.push_back("Grüße, 数据库 | ");
  for (const std::string& line : added) lines.Stage(line);
  EXPECT_EQ(lines.rowCount(), 0) << "staged lines are no rows yet";
  lines.Publish();

  ASSERT_EQ(lines.rowCount(), static_cast<int>(added.size()));
  for (int row = 0; row < lines.rowCount(); ++row) {
    ASSERT_EQ(lines.Line(row).toStdString(), added[static_cast<std::size_t>(row)]) << row;
  }
  EXPECT_EQ(lines.data(lines.index(lines.rowCount() - 1)).toString(),
            QStringLiteral("Grüße, 数据库 | "));

  lines.Clear();
  EXPECT_EQ(lines.rowCount(), 0);
  lines.Stage("after clear");
  lines.Publish();
  EXPECT_EQ(lines.Line(0), "after clear");
}

TEST(TextLines, AnAppenderInsertsRowsInBatchesAndShowsWhatWasAddedBeforeAFailure) {
  velmora::ListBox list;
  QSignalSpy inserted(list.model(), &QAbstractItemModel::rowsInserted);
  list.AddItem(QStringLiteral("heading"));
  try {
    velmora::ListAppender appender(list.Lines());
    for (int i = 0; i < 150000; ++i) appender.Add(std::to_string(i));
    throw std::runtime_error("a row could not be read");
  } catch (const std::runtime_error&) {
  }
  ASSERT_EQ(list.Count(), 150001);
  EXPECT_EQ(list.Text(0), "heading");
  EXPECT_EQ(list.Text(150000), "149999");
  EXPECT_LE(inserted.count(), 4) << "one insertion for the heading, a few for the batches";
}

}  // namespace
}  // namespace velmora_test
