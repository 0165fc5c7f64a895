// Reading result rows against a real engine: the rows and messages of results
// that end inside, on and just past a fetch block, values as long as their
// declared size (which bound buffers must hold whole), long values that are
// read a piece at a time, and a result that fails part way.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine_fixture.h"

namespace dbplatform {
namespace {

class RowReading : public EngineSuite {
 protected:
  // Fills #n with Id = 1..count.
  static void FillNumbers(Connection& connection, int count) {
    Run(connection, "CREATE TABLE #n (Id int)");
    constexpr int kRowsPerInsert = 500;
    for (int first = 1; first <= count; first += kRowsPerInsert) {
      std::string insert = "INSERT INTO #n VALUES ";
      for (int id = first; id < first + kRowsPerInsert && id <= count; ++id) {
        insert += (id == first ? "(" : ",(") + std::to_string(id) + ")";
      }
      Run(connection, insert);
    }
  }
};

std::vector<std::string> Messages(Connection& connection) {
  std::vector<std::string> texts;
  for (int i = 0; i < connection.Errors().Count(); ++i) {
    texts.push_back(connection.Errors().Item(i).Description);
  }
  return texts;
}

TEST_F(RowReading, EveryRowInOrderWithTheMessagesAroundThem) {
  // Counts on both sides of the sizes a block of small rows can have.
  for (int count : {1, 255, 256, 1023, 1024, 1025, 2048, 2049}) {
    SCOPED_TRACE(count);
    auto connection = Open();
    FillNumbers(*connection, count);
    auto records = connection->Execute(
        "PRINT 'before'; SELECT Id, Id * 2 AS Twice FROM #n ORDER BY Id; PRINT 'after'");
    EXPECT_EQ(Messages(*connection), std::vector<std::string>{"before"});
    int expected = 1;
    for (; !records->Eof(); records->MoveNext(), ++expected) {
      ASSERT_EQ(ToText(records->Fields().Item(0).GetValue()), std::to_string(expected));
      ASSERT_EQ(ToText(records->Fields().Item(1).GetValue()), std::to_string(expected * 2));
    }
    EXPECT_EQ(expected - 1, count);
    EXPECT_EQ(Messages(*connection), (std::vector<std::string>{"before", "after"}));
  }
}

TEST_F(RowReading, ValuesAsLongAsTheirColumnAreWhole) {
  auto connection = Open();
  // Three UTF-8 bytes a character, and four for a character outside the
  // basic plane (two UTF-16 units of the column's size).
  std::string euros;
  for (int i = 0; i < 4000; ++i) euros += "\xE2\x82\xAC";
  std::string faces;
  for (int i = 0; i < 2000; ++i) faces += "\xF0\x9F\x98\x80";
  Run(*connection,
      "CREATE TABLE #w (Id int, Euros nvarchar(4000), Faces nvarchar(4000), Raw varbinary(8000), "
      "Plain varchar(8000), Exact decimal(38,2), Tag uniqueidentifier)");
  Run(*connection, "INSERT INTO #w VALUES (1, N'" + euros + "', N'" + faces + "', 0x" +
                       std::string(16000, 'A') + ", '" + std::string(8000, 'p') +
                       "', -1234567890123.45, "
                       "'6F9619FF-8B86-D011-B42D-00C04FC964FF')");
  Run(*connection, "INSERT INTO #w VALUES (2, NULL, NULL, NULL, NULL, NULL, NULL)");
  auto records = connection->Execute("SELECT * FROM #w ORDER BY Id");
  ASSERT_FALSE(records->Eof());
  FieldCollection& fields = records->Fields();
  EXPECT_EQ(ToText(fields.Item("Euros").GetValue()), euros);
  EXPECT_EQ(ToText(fields.Item("Faces").GetValue()), faces);
  EXPECT_EQ(std::get<Bytes>(fields.Item("Raw").GetValue()), Bytes(8000, 0xAA));
  EXPECT_EQ(ToText(fields.Item("Plain").GetValue()), std::string(8000, 'p'));
  EXPECT_EQ(ToText(fields.Item("Exact").GetValue()), "-1234567890123.45");
  EXPECT_EQ(ToText(fields.Item("Tag").GetValue()), "6F9619FF-8B86-D011-B42D-00C04FC964FF");
  records->MoveNext();
  ASSERT_FALSE(records->Eof());
  for (int i = 1; i < fields.Count(); ++i) EXPECT_TRUE(IsNull(fields.Item(i).GetValue())) << i;
  records->MoveNext();
  EXPECT_TRUE(records->Eof());
}

TEST_F(RowReading, LongValuesBesideShortOnes) {
  auto connection = Open();
  const std::string long_text(100000, 'L');
  Run(*connection, "CREATE TABLE #l (Id int, Body nvarchar(max), Blob varbinary(max))");
  for (int id = 1; id <= 3; ++id) {
    Run(*connection,
        "INSERT INTO #l VALUES (" + std::to_string(id) + ", N'" + long_text + "', 0x0102)");
  }
  auto records = connection->Execute("SELECT Id, Body, Blob FROM #l ORDER BY Id");
  for (int id = 1; id <= 3; ++id, records->MoveNext()) {
    ASSERT_FALSE(records->Eof());
    EXPECT_EQ(ToText(records->Fields().Item(0).GetValue()), std::to_string(id));
    EXPECT_EQ(ToText(records->Fields().Item(1).GetValue()), long_text);
    EXPECT_EQ(ToText(records->Fields().Item(2).GetValue()), "0x0102");
  }
  EXPECT_TRUE(records->Eof());
}

TEST_F(RowReading, RowsBeforeAFailingRowAreReadAndTheErrorIsKept) {
  auto connection = Open();
  Run(*connection, "CREATE TABLE #f (Id int, Text varchar(10))");
  FillNumbers(*connection, 3000);
  Run(*connection,
      "INSERT INTO #f SELECT Id, CASE WHEN Id = 2500 THEN 'x' ELSE "
      "CAST(Id AS varchar(10)) END FROM #n");
  // No ORDER BY: the engine then sends rows as it converts them, so the
  // failure comes after the rows before it have gone out.
  auto records = connection->Execute("SELECT CAST(Text AS int) AS Number FROM #f");
  int read = 0;
  std::string failure;
  try {
    for (; !records->Eof(); records->MoveNext()) {
      ASSERT_EQ(ToText(records->Fields().Item(0).GetValue()), std::to_string(read + 1));
      ++read;
    }
  } catch (const Error& error) {
    failure = error.Description();
  }
  EXPECT_EQ(read, 2499);
  for (const std::string& message : Messages(*connection)) failure += message;
  EXPECT_NE(failure.find("'x'"), std::string::npos) << failure;
  EXPECT_EQ(Scalar(*connection, "SELECT 'alive'"), "alive");
}

}  // namespace
}  // namespace dbplatform
