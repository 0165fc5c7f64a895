// Requests after login: the DONE rules, multi-packet requests and responses,
// RPC and Transaction Manager requests.
#include <gtest/gtest.h>

#include <tuple>

#include "engine/tds/byte_writer.h"
#include "engine/tests/server/server_fixture.h"
#include "engine/tests/server/tds_client.h"
#include "engine/tests/tds/hex.h"

namespace sqlengine::testing {
namespace {

using tds::Token;

std::vector<std::uint16_t> DoneStatuses(const std::vector<Event>& events) {
  std::vector<std::uint16_t> out;
  for (const Event& e : events) {
    if (e.token == Token::kDone || e.token == Token::kDoneInProc || e.token == Token::kDoneProc) {
      out.push_back(e.status);
    }
  }
  return out;
}

TEST_F(ServerTest, StatementsOfABatchSetMoreOnAllButTheLastDone) {
  TdsClient client(Port());
  client.LoginOrFail();
  auto events = client.Batch("rows 2; rows 3; print hi");
  EXPECT_EQ(DoneStatuses(events),
            (std::vector<std::uint16_t>{tds::kDoneMore | tds::kDoneCount,
                                        tds::kDoneMore | tds::kDoneCount, tds::kDoneFinal}));
  auto dones = Only(events, Token::kDone);
  EXPECT_EQ(dones[0].count, 2u);
  EXPECT_EQ(dones[1].count, 3u);
  ASSERT_EQ(Only(events, Token::kRow).size(), 5u);
  EXPECT_EQ(Only(events, Token::kRow)[4].values[1], Value(std::string("row 2")));
}

TEST_F(ServerTest, MessageAmongRowsTravelsAfterTheResultsOwnDone) {
  TdsClient client(Port());
  client.LoginOrFail();
  auto events = client.Batch("rows_print");
  EXPECT_EQ(TokenOrder(events), (std::vector<Token>{Token::kColMetadata, Token::kRow, Token::kRow,
                                                    Token::kDone, Token::kInfo, Token::kDone}));
  EXPECT_EQ(events[3].status, tds::kDoneMore | tds::kDoneCount);
  EXPECT_EQ(events[3].count, 2u);
  EXPECT_EQ(events[5].status, tds::kDoneFinal) << "the count is not reported twice";
}

TEST_F(ServerTest, ErrorsSetDoneErrorAndTheSessionGoesOn) {
  TdsClient client(Port());
  client.LoginOrFail();
  auto events = client.Batch("error 2812; rows 1");
  auto errors = Only(events, Token::kError);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].number, 2812);
  EXPECT_EQ(errors[0].text, "Could not find stored procedure 'nosuch'.");
  EXPECT_EQ(DoneStatuses(events),
            (std::vector<std::uint16_t>{tds::kDoneMore | tds::kDoneError, tds::kDoneCount}));
}

TEST_F(ServerTest, ValueItsColumnCannotHoldEndsTheRowsWithSqlServersError) {
  TdsClient client(Port());
  client.LoginOrFail();
  for (auto [value, number, text] :
       {std::tuple{"abc", 245,
                   "Syntax error converting the varchar value 'abc' to a column of data type "
                   "int."},
        std::tuple{"99999999999", 8115,
                   "Arithmetic overflow error converting expression to data type int."}}) {
    auto events = client.Batch(std::string("misfit ") + value);
    EXPECT_EQ(Only(events, Token::kRow).size(), 1u) << "the row before stays";
    auto errors = Only(events, Token::kError);
    ASSERT_EQ(errors.size(), 1u) << value;
    EXPECT_EQ(errors[0].number, number);
    EXPECT_EQ(errors[0].text, text);
    EXPECT_NE(events.back().status & tds::kDoneError, 0);
  }
}

TEST_F(ServerTest, UseReportsTheDatabaseChange) {
  TdsClient client(Port());
  client.LoginOrFail();
  auto events = client.Batch("use tempdb");
  auto env = Only(events, Token::kEnvChange);
  ASSERT_EQ(env.size(), 1u);
  EXPECT_EQ(env[0].env_type, 1);
  EXPECT_EQ(env[0].env_new, "tempdb");
  EXPECT_EQ(env[0].env_old, "master");
}

TEST_F(ServerTest, MultiPacketRequestIsReassembledAndResponseSplitAtPacketSize) {
  TdsClient client(Port());
  LoginOptions options;
  options.packet_size = 512;
  client.LoginOrFail(options);
  std::string text(6000, 'x');
  for (std::size_t i = 0; i < text.size(); i += 7) text[i] = static_cast<char>('a' + i % 26);
  text.replace(100, 4, "\xC3\xA9\xE2\x82\xAC");  // é and € cross packet boundaries as UCS-2
  client.Send(tds::PacketType::kSqlBatch, BuildBatch("echo " + text, client.version()), 512);
  auto r = client.Receive();
  ASSERT_TRUE(r);
  ASSERT_GT(r->headers.size(), 20u);
  for (std::size_t i = 0; i < r->headers.size(); ++i) {
    EXPECT_LE(r->headers[i].length, 512);
    EXPECT_EQ(r->headers[i].status, i + 1 == r->headers.size() ? 1 : 0);
  }
  auto rows = Only(ParseTokens(r->body, client.version()), Token::kRow);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].values[0], Value(text));
}

// A request the client gives up before its last packet, by a last packet
// marked IGNORE, is answered with a single DONE(ERROR); it used to get no
// answer at all, and the client waited forever.
TEST_F(ServerTest, ARequestGivenUpWithIgnoreGetsADoneErrorAndTheSessionGoesOn) {
  TdsClient client(Port());
  client.LoginOrFail();
  std::vector<std::uint8_t> packets;
  std::uint8_t id = 1;
  tds::AppendPackets(BuildBatch("echo never", client.version()), 512, 0, false, &id, packets,
                     tds::PacketType::kSqlBatch);
  const std::vector<std::uint8_t> ignore = {
      0x01, tds::kStatusEndOfMessage | tds::kStatusIgnore, 0, 8, 0, 0, 2, 0};
  packets.insert(packets.end(), ignore.begin(), ignore.end());
  client.SendRaw(packets);
  auto r = client.Receive();
  ASSERT_TRUE(r);
  std::vector<Event> done = ParseTokens(r->body, client.version());
  ASSERT_EQ(TokenOrder(done), std::vector<Token>{Token::kDone});
  EXPECT_EQ(done[0].status, tds::kDoneError);
  auto after = Only(client.Batch("echo after"), Token::kRow);
  ASSERT_EQ(after.size(), 1u);
  EXPECT_EQ(after[0].values[0], Value(std::string("after")));
}

TEST_F(ServerTest, LargeResultSentInBatchesKeepsPacketsFullAndNumberedInOrder) {
  TdsClient client(Port());
  client.LoginOrFail();
  client.Send(tds::PacketType::kSqlBatch, BuildBatch("wide 300", client.version()));
  auto r = client.Receive();
  ASSERT_TRUE(r);
  // 300 rows of 4000 text bytes: many batched sends, and ids wrap past 255.
  ASSERT_GT(r->headers.size(), 256u);
  for (std::size_t i = 0; i < r->headers.size(); ++i) {
    const bool last = i + 1 == r->headers.size();
    ASSERT_EQ(r->headers[i].packet_id, static_cast<std::uint8_t>(i + 1)) << "packet " << i;
    ASSERT_EQ(r->headers[i].status, last ? 1 : 0) << "packet " << i;
    if (!last) {
      ASSERT_EQ(r->headers[i].length, 4096) << "packet " << i;
    }
  }
  auto rows = Only(ParseTokens(r->body, client.version()), Token::kRow);
  ASSERT_EQ(rows.size(), 300u);
  EXPECT_EQ(rows[299].values[1], Value(std::string(2000, static_cast<char>('a' + 299 % 26))));
}

TEST_F(ServerTest, MaxColumnsArePlpOn74AndNtextOn71) {
  for (auto [requested, wire] : {std::pair{0x74000004u, tds::WireType::kNVarChar},
                                 std::pair{0x71000001u, tds::WireType::kNText}}) {
    TdsClient client(Port());
    LoginOptions options;
    options.tds_version = requested;
    client.LoginOrFail(options);
    auto events = client.Batch("echo long text");
    auto meta = Only(events, Token::kColMetadata);
    ASSERT_EQ(meta.size(), 1u);
    EXPECT_EQ(meta[0].types[0].type, wire);
    EXPECT_EQ(Only(events, Token::kRow)[0].values[0], Value(std::string("long text")));
  }
}

std::vector<std::uint8_t> EchoRpc(tds::TdsVersion version) {
  tds::ByteWriter w;
  if (tds::HasAllHeaders(version)) w.Append(AllHeaders(0));
  w.U16(4);
  w.Ucs2("echo");
  w.U16(0);
  // @i int = 7, output
  w.BVarChar("@i");
  w.U8(1);
  w.U8(0x26);
  w.U8(4);
  w.U8(4);
  w.I32(7);
  // @s nvarchar(10) = N'ünï'
  w.BVarChar("@s");
  w.U8(0);
  w.U8(0xE7);
  w.U16(20);
  for (std::uint8_t b : {0x09, 0x04, 0xD0, 0x00, 0x34}) w.U8(b);
  w.U16(6);
  w.Ucs2("\xC3\xBCn\xC3\xAF");
  // @n int = NULL
  w.BVarChar("@n");
  w.U8(0);
  w.U8(0x26);
  w.U8(4);
  w.U8(0);
  return w.Bytes();
}

TEST_F(ServerTest, RpcParametersRoundTripAndEndInDoneProc) {
  for (std::uint32_t requested : {0x74000004u, 0x71000001u}) {
    TdsClient client(Port());
    LoginOptions options;
    options.tds_version = requested;
    client.LoginOrFail(options);
    client.Send(tds::PacketType::kRpc, EchoRpc(client.version()));
    auto r = client.Receive();
    ASSERT_TRUE(r);
    auto events = ParseTokens(r->body, client.version());
    EXPECT_EQ(TokenOrder(events),
              (std::vector<Token>{Token::kColMetadata, Token::kRow, Token::kDoneInProc,
                                  Token::kReturnStatus, Token::kReturnValue, Token::kDoneProc}));
    EXPECT_EQ(events[1].values,
              (Row{std::int64_t{7}, std::string("\xC3\xBCn\xC3\xAF"), std::monostate{}}));
    EXPECT_EQ(events[2].status, tds::kDoneMore | tds::kDoneCount);
    EXPECT_EQ(events[3].return_status, 3);
    EXPECT_EQ(events[4].ordinal, 0);
    EXPECT_EQ(events[4].columns[0], "@i");
    EXPECT_EQ(events[4].values[0], Value(std::int64_t{7}));
    EXPECT_EQ(events[5].status, tds::kDoneFinal);
    // DONEPROC names the EXECUTE command (0xE0), as SQL Server's does.
    const std::size_t done_size = tds::HasWideCounts(client.version()) ? 13 : 9;
    std::vector<std::uint8_t> done(r->body.end() - static_cast<std::ptrdiff_t>(done_size),
                                   r->body.end());
    std::vector<std::uint8_t> expected = Hex("FE 00 00 E0 00 00 00 00 00");
    expected.resize(done_size, 0);
    EXPECT_EQ(done, expected);
  }
}

TEST_F(ServerTest, TransactionManagerBeginReportsTheDescriptor) {
  TdsClient client(Port());
  client.LoginOrFail();
  tds::ByteWriter w;
  w.Append(AllHeaders(0));
  w.U16(5);  // TM_BEGIN_XACT
  w.U8(0);
  w.U8(0);
  client.Send(tds::PacketType::kTransactionManager, w.Bytes());
  auto r = client.Receive();
  ASSERT_TRUE(r);
  auto env = Only(ParseTokens(r->body, client.version()), Token::kEnvChange);
  ASSERT_EQ(env.size(), 1u);
  EXPECT_EQ(env[0].env_type, 8);
  EXPECT_EQ(env[0].descriptor, 0x1122334455667788u);
}

}  // namespace
}  // namespace sqlengine::testing
