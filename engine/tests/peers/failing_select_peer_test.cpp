// The token stream of a SELECT that fails, as SQL Server sends it: an error
// found while compiling (207, 208) comes alone, ERROR and DONE(ERROR) with no
// COLMETADATA; an error while reading rows comes after COLMETADATA and the
// rows already sent, and the batch goes on with its next statement. The raw
// client reads the stream at TDS 7.4 and 7.1; bsqldb shows DB-Library's view.
#include <gtest/gtest.h>

#include "engine/tests/peers/raw_stream_peer.h"

namespace sqlengine::testing {
namespace {

using tds::Token;

class FailingSelect : public RawStreamPeer {
 protected:
  void SetUp() override {
    RawStreamPeer::SetUp();
    auto made = client_->Batch(
        "create table divisors (n int) insert into divisors values (4) "
        "insert into divisors values (2) insert into divisors values (0) "
        "insert into divisors values (1)");
    ASSERT_TRUE(Only(made, Token::kError).empty());
  }
};

TEST_P(FailingSelect, CompileTimeErrorSendsNoColumnMetadata) {
  struct Case {
    const char* sql;
    std::int32_t number;
  } const cases[] = {{"select nosuch from divisors", 207},
                     {"select n from nosuch", 208},
                     {"select n, nosuch from divisors order by n", 207}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    auto events = client_->Batch(c.sql);
    ASSERT_EQ(TokenOrder(events), (std::vector<Token>{Token::kError, Token::kDone}));
    EXPECT_EQ(events[0].number, c.number);
    EXPECT_EQ(events[1].status, tds::kDoneError);
  }
}

// The whole batch is compiled first: a 207 in an IF's branch on its fourth
// line comes alone, with that line, and the INSERT before it never runs.
TEST_P(FailingSelect, CompileErrorAnywhereInTheBatchRunsNothingOfIt) {
  auto events = client_->Batch(
      "insert into divisors values (8)\nselect n from divisors\nif 1 = 0\n"
      "  select nosuch from divisors");
  ASSERT_EQ(TokenOrder(events), (std::vector<Token>{Token::kError, Token::kDone}));
  EXPECT_EQ(events[0].number, 207);
  EXPECT_EQ(events[0].line, 4);
  auto count = client_->Batch("select count(*) from divisors");
  ASSERT_EQ(Only(count, Token::kRow).size(), 1u);
  EXPECT_EQ(Only(count, Token::kRow)[0].values.at(0), Value(std::int64_t{4}));
}

TEST_P(FailingSelect, ErrorInTheFirstRowComesAfterColumnMetadata) {
  struct Case {
    const char* sql;
    std::int32_t number;
  } const cases[] = {{"select 1/0 as x", 8134},
                     {"select cast('x' as int) as x", 245},
                     {"select cast(n * 100000 as smallint) as x from divisors where n = 4", 220}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    auto events = client_->Batch(c.sql);
    ASSERT_EQ(TokenOrder(events),
              (std::vector<Token>{Token::kColMetadata, Token::kError, Token::kDone}));
    EXPECT_EQ(events[0].columns, std::vector<std::string>{"x"});
    EXPECT_EQ(events[1].number, c.number);
    EXPECT_NE(events[2].status & tds::kDoneError, 0);
    EXPECT_EQ(events[2].status & tds::kDoneMore, 0);
  }
}

TEST_P(FailingSelect, ErrorMidResultKeepsTheRowsSentAndTheBatchGoesOn) {
  auto events = client_->Batch("select 8 / n as q from divisors select 5 as after_it");
  EXPECT_EQ(TokenOrder(events),
            (std::vector<Token>{Token::kColMetadata, Token::kRow, Token::kRow, Token::kError,
                                Token::kDone, Token::kColMetadata, Token::kRow, Token::kDone}));
  ASSERT_EQ(events.size(), 8u);
  EXPECT_EQ(events[1].values.at(0), Value(std::int64_t{2}));
  EXPECT_EQ(events[2].values.at(0), Value(std::int64_t{4}));
  EXPECT_EQ(events[3].number, 8134);
  EXPECT_NE(events[4].status & tds::kDoneError, 0);
  EXPECT_NE(events[4].status & tds::kDoneMore, 0);
  EXPECT_EQ(events[6].values.at(0), Value(std::int64_t{5}));
  EXPECT_EQ(events[7].status, tds::kDoneCount);
}

INSTANTIATE_TEST_SUITE_P(Versions, FailingSelect, ::testing::Values(kTds74, kTds71), VersionName);

// DB-Library: a SELECT failing mid-result shows its columns, the rows sent
// before the error and the error; one failing to compile shows no columns.
// bsqldb ends the script at the first error, as it does with SQL Server.
TEST(DbLibraryFailingSelect, BsqldbSeesTheRowsBeforeTheErrorAndNoColumnsForACompileError) {
  testing_support::TestEngine engine;
  auto run = [&](const std::string& name, const std::string& sql) {
    return RunBsqldb(engine, name, sql);
  };
  CommandOutcome made =
      run("made.sql",
          "create table divisors (n int)\n"
          "insert into divisors values (4) insert into divisors values (0)\ngo\n");
  ASSERT_EQ(made.status, 0) << made.output;

  CommandOutcome mid = run("mid.sql", "select 8 / n as quotient from divisors\ngo\n");
  EXPECT_NE(mid.status, 0) << mid.output;
  EXPECT_NE(mid.output.find("quotient\n"), std::string::npos) << mid.output;
  EXPECT_NE(mid.output.find("Msg 8134, Level 16"), std::string::npos) << mid.output;
  EXPECT_NE(mid.output.find("Divide by zero error encountered."), std::string::npos) << mid.output;
  EXPECT_NE(mid.output.find("          2\n"), std::string::npos) << mid.output;

  CommandOutcome compile = run("compile.sql", "select nosuch from divisors\ngo\n");
  EXPECT_NE(compile.status, 0) << compile.output;
  EXPECT_NE(compile.output.find("Invalid column name 'nosuch'."), std::string::npos)
      << compile.output;
  EXPECT_EQ(compile.output.find("---"), std::string::npos) << compile.output;
}

}  // namespace
}  // namespace sqlengine::testing
