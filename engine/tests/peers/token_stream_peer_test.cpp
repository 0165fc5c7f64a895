// What a real engine sends, token by token, where clients depend on SQL
// Server's exact stream: no DONE for DECLARE and SET, DONEINPROC inside a
// procedure that a batch runs and RETURNSTATUS + DONEPROC after it, output
// parameters in the type the client declared, and an unreadable RPC
// parameter refused with an error on a connection that goes on. The raw
// client reads the stream at TDS 7.4 and 7.1; DB-Library (bsqldb) shows what
// an application makes of it.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/tds/byte_writer.h"
#include "engine/tests/peers/raw_stream_peer.h"

namespace sqlengine::testing {
namespace {

using tds::Token;

constexpr const char* kProcedure =
    "create procedure give @o smalldatetime output as\n"
    "begin\n"
    "  declare @n int\n"
    "  set @n = 2\n"
    "  select @n as n\n"
    "  set @o = '2021-06-01 12:30'\n"
    "  return 3\n"
    "end";

class TokenStreamPeer : public RawStreamPeer {
 protected:
  void SetUp() override {
    RawStreamPeer::SetUp();
    auto created = client_->Batch(kProcedure);
    ASSERT_TRUE(Only(created, Token::kError).empty());
  }

  // An RPC to `give` with @o declared by the client as datetime, output.
  std::vector<std::uint8_t> GiveRpc(const std::vector<std::uint8_t>& extra_param = {}) {
    tds::ByteWriter w;
    if (tds::HasAllHeaders(client_->version())) w.Append(AllHeaders(0));
    w.U16(4);
    w.Ucs2("give");
    w.U16(0);
    w.Append(extra_param);
    w.BVarChar("@o");
    w.U8(0x01);
    w.U8(0x6F);  // DATETIMN 8, NULL
    w.U8(8);
    w.U8(0);
    return w.Bytes();
  }
};

TEST_P(TokenStreamPeer, BatchSendsNoDoneForDeclarationsAndEndsAnExecInDoneProc) {
  auto events = client_->Batch(
      "declare @o smalldatetime set nocount off exec give @o output "
      "select @o as o");
  EXPECT_EQ(TokenOrder(events),
            (std::vector<Token>{Token::kColMetadata, Token::kRow, Token::kDoneInProc,
                                Token::kReturnStatus, Token::kDoneProc, Token::kColMetadata,
                                Token::kRow, Token::kDone}));
  ASSERT_EQ(events.size(), 8u);
  EXPECT_EQ(events[2].status, tds::kDoneMore | tds::kDoneCount);
  EXPECT_EQ(events[2].count, 1u);
  EXPECT_EQ(events[3].return_status, 3);
  EXPECT_EQ(events[4].status, tds::kDoneMore);
  EXPECT_EQ(events[6].values[0], Value(DateTime{2021, 6, 1, 12, 30, 0, 0}));
  EXPECT_EQ(events[7].status, tds::kDoneCount);

  // A batch of declarations and assignments alone ends in one final DONE.
  events = client_->Batch("declare @a int set @a = 1 select @a = 2 set ansi_nulls on");
  EXPECT_EQ(TokenOrder(events), (std::vector<Token>{Token::kDone}));
  EXPECT_EQ(events[0].status, tds::kDoneFinal);
}

TEST_P(TokenStreamPeer, ErrorInsideAProcedureMarksItsDoneInProcAndDoneProc) {
  client_->Batch("create procedure broken as select 1/0 as x return 5");
  auto events = client_->Batch("exec broken select 2 as y");
  ASSERT_EQ(Only(events, Token::kError).size(), 1u);
  std::vector<Token> order = TokenOrder(events);
  auto from = std::find(order.begin(), order.end(), Token::kDoneInProc);
  EXPECT_EQ(std::vector<Token>(from, order.end()),
            (std::vector<Token>{Token::kDoneInProc, Token::kReturnStatus, Token::kDoneProc,
                                Token::kColMetadata, Token::kRow, Token::kDone}))
      << "the error ends the SELECT inside the procedure, which goes on to RETURN";
  EXPECT_EQ(Only(events, Token::kReturnStatus).at(0).return_status, 5);
  auto in_proc = Only(events, Token::kDoneInProc);
  ASSERT_EQ(in_proc.size(), 1u);
  EXPECT_NE(in_proc[0].status & tds::kDoneError, 0);
  auto proc = Only(events, Token::kDoneProc);
  ASSERT_EQ(proc.size(), 1u);
  EXPECT_EQ(proc[0].status, tds::kDoneMore | tds::kDoneError);
}

TEST_P(TokenStreamPeer, OutputParameterComesBackInTheTypeTheClientDeclared) {
  client_->Send(tds::PacketType::kRpc, GiveRpc());
  auto r = client_->Receive();
  ASSERT_TRUE(r);
  auto events = ParseTokens(r->body, client_->version());
  auto values = Only(events, Token::kReturnValue);
  ASSERT_EQ(values.size(), 1u);
  ASSERT_EQ(values[0].types.size(), 1u);
  EXPECT_EQ(values[0].types[0].type, tds::WireType::kDateTimeN);
  EXPECT_EQ(values[0].types[0].max_length, 8u) << "datetime, as declared, not smalldatetime";
  EXPECT_EQ(values[0].values[0], Value(DateTime{2021, 6, 1, 12, 30, 0, 0}));
  EXPECT_EQ(Only(events, Token::kReturnStatus).at(0).return_status, 3);
}

// sp_executesql's OUTPUT parameters come back after its RETURNSTATUS, as a
// procedure's do, in the type the client declared.
TEST_P(TokenStreamPeer, DynamicSqlReturnsItsOutputParameters) {
  tds::ByteWriter w;
  if (tds::HasAllHeaders(client_->version())) w.Append(AllHeaders(0));
  w.U16(0xFFFF);
  w.U16(10);  // sp_executesql
  w.U16(0);
  auto nvarchar = [&](const std::string& text) {
    w.BVarChar("");
    w.U8(0);
    w.U8(0xE7);
    w.U16(4000);
    for (std::uint8_t b : {0x09, 0x04, 0xD0, 0x00, 0x34}) w.U8(b);
    w.U16(static_cast<std::uint16_t>(text.size() * 2));
    w.Ucs2(text);
  };
  nvarchar("select @o = 6 * 7");
  nvarchar("@o smallint output");
  w.BVarChar("@o");
  w.U8(0x01);
  w.U8(0x26);  // INTN 8, NULL: bigint as the client declares it
  w.U8(8);
  w.U8(0);
  client_->Send(tds::PacketType::kRpc, w.Bytes());
  auto r = client_->Receive();
  ASSERT_TRUE(r);
  auto events = ParseTokens(r->body, client_->version());
  EXPECT_EQ(TokenOrder(events),
            (std::vector<Token>{Token::kReturnStatus, Token::kReturnValue, Token::kDoneProc}));
  auto values = Only(events, Token::kReturnValue);
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(values[0].ordinal, 2);
  EXPECT_EQ(values[0].types.at(0).max_length, 8u);
  EXPECT_EQ(values[0].values.at(0), Value(std::int64_t{42}));
}

TEST_P(TokenStreamPeer, UnreadableRpcParameterIsRefusedAndTheSessionGoesOn) {
  // @d decimal(38,0) whose value is 3 bytes long: it frames, but is no decimal.
  tds::ByteWriter bad;
  bad.BVarChar("@d");
  bad.U8(0);
  for (std::uint8_t b : {0x6A, 0x11, 0x26, 0x00, 0x03, 0x01, 0x05, 0x00}) bad.U8(b);
  client_->Send(tds::PacketType::kRpc, GiveRpc(bad.Bytes()));
  auto r = client_->Receive();
  ASSERT_TRUE(r) << "the connection was closed";
  auto events = ParseTokens(r->body, client_->version());
  EXPECT_EQ(TokenOrder(events), (std::vector<Token>{Token::kError, Token::kDoneProc}));
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].number, 8016);
  EXPECT_EQ(events[0].text,
            "The incoming tabular data stream (TDS) remote procedure call (RPC) protocol stream "
            "is incorrect. Parameter 1 (\"@d\"): Data type 0x6A has an invalid data length or "
            "metadata length.");
  EXPECT_EQ(events[1].status, tds::kDoneError);
  auto after = client_->Batch("select 42 as answer");
  EXPECT_EQ(Only(after, Token::kRow).at(0).values[0], Value(std::int64_t{42}));
}

TEST_P(TokenStreamPeer, TextSizeCutsLargeValuesAndIsReported) {
  client_->Batch("create table big (t text, nt ntext, im image, vc varchar(20))");
  client_->Batch(
      "insert into big values ('abcdefgh', N'\u00e9bcdefgh', 0x0102030405, "
      "'abcdefgh')");
  auto rows = Only(client_->Batch("set textsize 5 select t, nt, im, vc, @@textsize as s from big"),
                   Token::kRow);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].values, (Row{std::string("abcde"),
                                 std::string("\xC3\xA9"
                                             "b"),
                                 Bytes{1, 2, 3, 4, 5}, std::string("abcdefgh"), std::int64_t{5}}))
      << "text and image to 5 bytes, ntext to 2 characters, varchar(20) untouched";
  rows = Only(client_->Batch("select @@textsize as s"), Token::kRow);
  EXPECT_EQ(rows.at(0).values[0], Value(std::int64_t{5})) << "it lasts for the session";
  rows = Only(client_->Batch("set textsize 0 select @@textsize as s"), Token::kRow);
  EXPECT_EQ(rows.at(0).values[0], Value(std::int64_t{4096}));
}

INSTANTIATE_TEST_SUITE_P(Versions, TokenStreamPeer, ::testing::Values(kTds74, kTds71), VersionName);

// --sql-server-2000: at most TDS 7.1 whatever the client asks, so MAX values
// travel as text, as SQL Server 2000 sends its large values.
TEST(SqlServer2000Mode, AgreesToTds71WhateverTheClientAsks) {
  testing_support::TestEngine engine(std::vector<std::string>{"--sql-server-2000"});
  for (std::uint32_t asked : {0x74000004u, 0x730B0003u, 0x72090002u, 0x71000001u}) {
    SCOPED_TRACE(asked);
    TdsClient client(engine.Port());
    LoginOptions options;
    options.tds_version = asked;
    client.LoginOrFail(options);
    EXPECT_EQ(client.version(), tds::TdsVersion::k71);
    auto events = client.Batch("select cast('x' as varchar(max)) as v, @@version as version");
    auto meta = Only(events, Token::kColMetadata);
    ASSERT_EQ(meta.size(), 1u);
    EXPECT_EQ(meta[0].types[0].type, tds::WireType::kText);
    auto rows = Only(events, Token::kRow);
    ASSERT_EQ(rows.size(), 1u);
    const auto* version = std::get_if<std::string>(&rows[0].values[1]);
    ASSERT_TRUE(version);
    EXPECT_NE(version->find("8.00.2039"), std::string::npos) << *version;
  }
  // Without the option a 7.4 client gets 7.4.
  testing_support::TestEngine later;
  TdsClient client(later.Port());
  client.LoginOrFail();
  EXPECT_EQ(client.version(), tds::TdsVersion::k74);
}

// DB-Library takes every DONE of a batch for a result: one for DECLARE showed
// up as an empty result set before the procedure's rows.
TEST(DbLibraryPeer, BsqldbSeesOnlyTheResultsOfDeclareExecSelect) {
  testing_support::TestEngine engine;
  CommandOutcome run =
      RunBsqldb(engine, "batch.sql",
                std::string(kProcedure) +
                    "\ngo\ndeclare @o smalldatetime exec give @o output select @o as o\ngo\n");
  EXPECT_EQ(run.status, 0) << run.output;
  const std::string& out = run.output;
  // The procedure's result, then the variable's: nothing before, between or after.
  std::size_t n = out.find("n\n");
  std::size_t o = out.find("o\n");
  ASSERT_NE(n, std::string::npos) << out;
  ASSERT_NE(o, std::string::npos) << out;
  EXPECT_LT(n, o) << out;
  EXPECT_NE(out.find("Jun  1 2021 12:30"), std::string::npos) << out;
  std::size_t result_headers = 0;
  for (std::size_t at = out.find("---"); at != std::string::npos; at = out.find("\n---", at + 1))
    ++result_headers;
  EXPECT_EQ(result_headers, 2u) << out;
}

}  // namespace
}  // namespace sqlengine::testing
