// Scrolling a server cursor's rows and the statements a change through it
// runs, without a server: edge positions of every fetch type, deletions
// inside the fetch buffer, and names and values kept out of statement text.
#include "engine/exec/cursor_rows.h"

#include <gtest/gtest.h>

#include "engine/exec/cursor_row_changes.h"

namespace sqlengine::exec {
namespace {

CursorRows TenRows() {
  std::vector<Row> rows;
  for (std::int64_t k = 1; k <= 10; ++k) rows.push_back(Row{Value{k}});
  return CursorRows({Column{"id", ColumnType{SqlType::kInt}}}, std::move(rows));
}

std::vector<std::int64_t> Ids(const std::optional<std::vector<Row>>& rows) {
  std::vector<std::int64_t> ids;
  for (const Row& row : rows.value()) ids.push_back(std::get<std::int64_t>(row[0]));
  return ids;
}

using Ids_ = std::vector<std::int64_t>;

TEST(CursorRows, ScrollsToEveryPositionAndStopsAtTheEnds) {
  CursorRows rows = TenRows();
  EXPECT_EQ(Ids(rows.Fetch(kFetchNext, 0, 3)), (Ids_{1, 2, 3}));  // NEXT first goes to the top
  EXPECT_EQ(Ids(rows.Fetch(kFetchNext, 0, 3)), (Ids_{4, 5, 6}));
  EXPECT_EQ(Ids(rows.Fetch(kFetchRelative, -2, 2)), (Ids_{2, 3}));
  EXPECT_EQ(Ids(rows.Fetch(kFetchPrev, 0, 3)), (Ids_{1, 2, 3}));  // a whole buffer from the top
  EXPECT_EQ(Ids(rows.Fetch(kFetchPrev, 0, 3)), Ids_{});
  EXPECT_EQ(rows.BufferStart(), 0);
  EXPECT_EQ(Ids(rows.Fetch(kFetchLast, 0, 4)), (Ids_{7, 8, 9, 10}));
  EXPECT_EQ(Ids(rows.Fetch(kFetchNext, 0, 4)), Ids_{});
  EXPECT_EQ(rows.BufferStart(), 11);
  EXPECT_EQ(Ids(rows.Fetch(kFetchPrev, 0, 2)), (Ids_{9, 10}));
  EXPECT_EQ(Ids(rows.Fetch(kFetchAbsolute, -3, 2)), (Ids_{8, 9}));
  EXPECT_EQ(Ids(rows.Fetch(kFetchAbsolute, -12, 12)), (Ids_{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
  EXPECT_EQ(Ids(rows.Fetch(kFetchAbsolute, -12, 5)), Ids_{});
  EXPECT_EQ(Ids(rows.Fetch(kFetchAbsolute, 11, 1)), Ids_{});
  EXPECT_EQ(Ids(rows.Fetch(kFetchAbsolute, 3, 2)), (Ids_{3, 4}));
  EXPECT_EQ(Ids(rows.Fetch(kFetchPrevNoAdjust, 0, 5)), (Ids_{1, 2}));  // only rows before it
  EXPECT_EQ(Ids(rows.Fetch(kFetchFirst, 0, 0)), Ids_{});
  EXPECT_EQ(rows.BufferStart(), 0);
  EXPECT_EQ(Ids(rows.Fetch(kFetchRefresh | kFetchSkipUpdateConcurrency, 0, 1)), Ids_{});
  EXPECT_EQ(Ids(rows.Fetch(kFetchRelative, INT64_MAX, INT64_MAX)), Ids_{});
  EXPECT_EQ(rows.BufferStart(), 11);
  EXPECT_EQ(Ids(rows.Fetch(kFetchRelative, INT64_MIN, 1)), Ids_{});
  EXPECT_EQ(rows.BufferStart(), 0);
  EXPECT_EQ(Ids(rows.Fetch(kFetchAbsolute, INT64_MIN, INT64_MAX)), Ids_{});
  EXPECT_FALSE(rows.Fetch(0x40, 0, 1).has_value());
}

TEST(CursorRows, DeletedRowsLeaveHolesInTheBufferUntilTheNextFetch) {
  CursorRows rows = TenRows();
  ASSERT_EQ(Ids(rows.Fetch(kFetchAbsolute, 4, 3)), (Ids_{4, 5, 6}));
  rows.Erase(*rows.BufferRow(2));  // 5
  EXPECT_FALSE(rows.BufferRow(2).has_value());
  EXPECT_EQ(std::get<std::int64_t>(rows.RowValues(*rows.BufferRow(3))[0]), 6);
  rows.Erase(*rows.RowAt(1));  // before the buffer: its rows move up
  EXPECT_EQ(rows.BufferStart(), 3);
  EXPECT_EQ(std::get<std::int64_t>(rows.RowValues(*rows.BufferRow(1))[0]), 4);
  EXPECT_EQ(Ids(rows.Fetch(kFetchNext, 0, 2)), (Ids_{7, 8}));
  EXPECT_EQ(Ids(rows.Fetch(kFetchRefresh, 0, 0)), (Ids_{7, 8}));
  EXPECT_EQ(rows.Count(), 8);
}

TEST(CursorRowChanges, NamesAreQuotedAndValuesAreParameters) {
  const ColumnType text{SqlType::kNText};
  const ColumnType name{SqlType::kVarChar, 20};
  ParameterisedStatement update =
      UpdateRowStatement("[dbo].[t]", {{"na]me", name, Value{std::string("x'; DROP TABLE t --")}}},
                         {{"id", ColumnType{SqlType::kInt}, Value{std::int64_t{3}}},
                          {"note", text, Value{std::string("long")}},
                          {"na]me", name, Value{}}});
  EXPECT_EQ(update.text,
            "UPDATE [dbo].[t] SET [na]]me] = @c0 WHERE [id] = @c1 AND [na]]me] IS NULL");
  EXPECT_EQ(update.declarations, "@c0 varchar(20), @c1 int");
  ASSERT_EQ(update.values.size(), 2u);
  EXPECT_EQ(std::get<std::string>(update.values[0].value), "x'; DROP TABLE t --");

  EXPECT_EQ(
      DeleteRowStatement("[t]", {{"id", ColumnType{SqlType::kInt}, Value{std::int64_t{1}}}}).text,
      "DELETE FROM [t] WHERE [id] = @c0");
  ParameterisedStatement insert = InsertRowStatement(
      "[t]", {{"id", ColumnType{SqlType::kInt}, Value{std::int64_t{1}}}, {"na]me", name, Value{}}});
  EXPECT_EQ(insert.text, "INSERT INTO [t] ([id], [na]]me]) VALUES (@c0, @c1)");
}

}  // namespace
}  // namespace sqlengine::exec
