#include "brellow/shrink_command.h"

#include <gtest/gtest.h>

namespace brellow {
namespace {

TEST(ShrinkCommandTest, MethodChoosesTruncateOnlyOrCompaction) {
  EXPECT_EQ(ShrinkCommand("sales", true), "DBCC SHRINKDATABASE (sales,5,TRUNCATEONLY)");
  EXPECT_EQ(ShrinkCommand("sales", false), "DBCC SHRINKDATABASE (sales,5)");
}

TEST(ShrinkCommandTest, OnlyPlainIdentifiersGoInUndelimited) {
  for (const char* plain : {"sales", "_tmp", "Db_2024", "a@b$c#d", "tempdb"}) {
    EXPECT_EQ(DelimitDatabaseName(plain), plain);
  }
  EXPECT_EQ(DelimitDatabaseName("big data"), "[big data]");
  EXPECT_EQ(DelimitDatabaseName("2024"), "[2024]");
  EXPECT_EQ(DelimitDatabaseName("a-b"), "[a-b]");
  EXPECT_EQ(DelimitDatabaseName("#temp"), "[#temp]");
  EXPECT_EQ(DelimitDatabaseName("o'brien"), "[o'brien]");
  EXPECT_EQ(DelimitDatabaseName("x]);DROP DATABASE y;--"), "[x]]);DROP DATABASE y;--]");
  EXPECT_EQ(DelimitDatabaseName("[a]]"), "[[a]]]]]");
  EXPECT_EQ(DelimitDatabaseName("caf\xc3\xa9"), "[caf\xc3\xa9]");
  EXPECT_EQ(DelimitDatabaseName(""), "[]");
}

}  // namespace
}  // namespace brellow
