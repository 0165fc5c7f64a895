// What a client receives from a statement that fires a trigger: the rows the
// trigger selects, its statements' DONEINPROC, then the statement's own
// DONE with its count, as SQL Server sends them. SET NOCOUNT ON inside the
// trigger holds for the trigger only: the statements after it keep their counts.
#include <gtest/gtest.h>

#include "engine/tests/server/tds_client.h"
#include "testing/test_engine.h"

namespace sqlengine::testing {
namespace {

using tds::Token;

TEST(TriggerStreamPeer, TriggerRowsComeBeforeTheStatementsDoneAndItsNocountEndsWithIt) {
  testing_support::TestEngine engine;
  TdsClient client(engine.Port());
  client.LoginOrFail(LoginOptions{});
  ASSERT_TRUE(Only(client.Batch("create table t (a int) create table tlog (a int)"), Token::kError)
                  .empty());
  ASSERT_TRUE(Only(client.Batch("create trigger shown on t for insert as\n"
                                "set nocount on\n"
                                "insert into tlog select a from inserted\n"
                                "select a * 10 as tenfold from inserted"),
                   Token::kError)
                  .empty());

  auto events = client.Batch("insert into t values (1) insert into t select a + 1 from t");
  EXPECT_EQ(
      TokenOrder(events),
      (std::vector<Token>{Token::kDoneInProc, Token::kColMetadata, Token::kRow, Token::kDoneInProc,
                          Token::kDone, Token::kDoneInProc, Token::kColMetadata, Token::kRow,
                          Token::kDoneInProc, Token::kDone}));
  ASSERT_EQ(events.size(), 10u);
  EXPECT_EQ(events[0].status, tds::kDoneMore) << "no count under the trigger's NOCOUNT";
  EXPECT_EQ(events[2].values[0], Value(std::int64_t{10}));
  EXPECT_EQ(events[4].status, tds::kDoneMore | tds::kDoneCount);
  EXPECT_EQ(events[4].count, 1u);
  EXPECT_EQ(events[7].values[0], Value(std::int64_t{20}));
  EXPECT_EQ(events[9].status, tds::kDoneCount);
  EXPECT_EQ(events[9].count, 1u);
}

}  // namespace
}  // namespace sqlengine::testing
