// Session robustness: ATTENTION while a request runs and while idle, clients
// that vanish or stop reading, malformed input, many sessions at once.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "engine/tests/server/server_fixture.h"
#include "engine/tests/server/tds_client.h"

namespace sqlengine::testing {
namespace {

using tds::Token;

const std::vector<std::uint8_t> kNoBody;

TEST_F(ServerTest, AttentionCancelsARunningRequestAndTheSessionGoesOn) {
  TdsClient client(Port());
  client.LoginOrFail();
  client.Send(tds::PacketType::kSqlBatch, BuildBatch("wait", client.version()));
  ASSERT_TRUE(Eventually([&] { return engine_.Waiting() == 1; }));
  auto started = std::chrono::steady_clock::now();
  client.Send(tds::PacketType::kAttention, kNoBody);
  ASSERT_TRUE(DrainUntilAttentionAck(client));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
  EXPECT_TRUE(Eventually([&] { return engine_.CancelledRequests() == 1; }));
  auto events = client.Batch("rows 1");
  EXPECT_EQ(Only(events, Token::kRow).size(), 1u);
}

TEST_F(ServerTest, AttentionRightAfterARequestAbandonsItOrCancelsIt) {
  TdsClient client(Port());
  client.LoginOrFail();
  // Both in one write: the request may not have started when ATTENTION comes.
  std::vector<std::uint8_t> both;
  std::uint8_t id = 1;
  tds::AppendPackets(BuildBatch("wait", client.version()), 4096, 0, true, &id, both);
  both[0] = static_cast<std::uint8_t>(tds::PacketType::kSqlBatch);
  for (std::uint8_t b : {0x06, 0x01, 0x00, 0x08, 0, 0, 1, 0}) both.push_back(b);
  auto started = std::chrono::steady_clock::now();
  client.SendRaw(both);
  ASSERT_TRUE(DrainUntilAttentionAck(client));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
  EXPECT_EQ(Only(client.Batch("rows 1"), Token::kRow).size(), 1u);
}

TEST_F(ServerTest, AttentionWhileIdleIsStillAcknowledged) {
  TdsClient client(Port());
  client.LoginOrFail();
  client.Send(tds::PacketType::kAttention, kNoBody);
  auto r = client.Receive();
  ASSERT_TRUE(r);
  auto events = ParseTokens(r->body, client.version());
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].status, tds::kDoneAttention);
  EXPECT_EQ(Only(client.Batch("rows 2"), Token::kRow).size(), 2u);
}

TEST_F(ServerTest, RequestsSentAheadAreAnsweredInTurnAndAttentionCancelsOnlyTheRunningOne) {
  TdsClient client(Port());
  client.LoginOrFail();
  // In one write: the later requests arrive while the first runs.
  std::vector<std::uint8_t> three;
  for (const char* text : {"wait", "rows 2", "rows 3"}) {
    std::uint8_t id = 1;
    tds::AppendPackets(BuildBatch(text, client.version()), 4096, 0, true, &id, three,
                       tds::PacketType::kSqlBatch);
  }
  client.SendRaw(three);
  ASSERT_TRUE(Eventually([&] { return engine_.Waiting() == 1; }));
  client.Send(tds::PacketType::kAttention, kNoBody);
  ASSERT_TRUE(DrainUntilAttentionAck(client));
  for (std::size_t rows : {2u, 3u}) {
    auto r = client.Receive();
    ASSERT_TRUE(r);
    EXPECT_EQ(Only(ParseTokens(r->body, client.version()), Token::kRow).size(), rows);
  }
}

TEST_F(ServerTest, AVanishedClientEndsOnlyItsOwnSession) {
  TdsClient survivor(Port());
  survivor.LoginOrFail();
  {
    TdsClient leaver(Port());
    leaver.LoginOrFail();
    leaver.Send(tds::PacketType::kSqlBatch, BuildBatch("wide 5000", leaver.version()));
    leaver.Receive();
  }  // closed mid-result
  {
    TdsClient waiter(Port());
    waiter.LoginOrFail();
    waiter.Send(tds::PacketType::kSqlBatch, BuildBatch("wait", waiter.version()));
  }  // closed while the request runs: the reader cancels it
  EXPECT_TRUE(Eventually([&] { return engine_.OpenSessions() == 1; }));
  EXPECT_EQ(Only(survivor.Batch("rows 3"), Token::kRow).size(), 3u);
}

TEST_F(ServerTest, ASlowReaderBlocksOnlyItsOwnSession) {
  TdsClient slow(Port());
  slow.LoginOrFail();
  // Far more than the socket buffers hold; nobody reads it for now.
  slow.Send(tds::PacketType::kSqlBatch, BuildBatch("wide 20000", slow.version()));
  auto other = std::async(std::launch::async, [&] {
    TdsClient fast(Port());
    fast.LoginOrFail();
    return Only(fast.Batch("rows 10"), Token::kRow).size();
  });
  ASSERT_EQ(other.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(other.get(), 10u);
  auto r = slow.Receive();
  ASSERT_TRUE(r);
  EXPECT_EQ(Only(ParseTokens(r->body, slow.version()), Token::kRow).size(), 20000u);
}

TEST_F(ServerTest, MalformedInputClosesOnlyThatConnection) {
  TdsClient survivor(Port());
  survivor.LoginOrFail();
  {
    TdsClient bad(Port());
    const std::uint8_t short_header[] = {0x12, 0x01, 0x00, 0x04, 0, 0, 0, 0};  // length < 8
    bad.SendRaw(short_header);
    EXPECT_TRUE(bad.WaitForClose());
  }
  {
    TdsClient bad(Port());
    auto login = BuildLogin7({});
    login[36 + 4] = 0xFF;  // UserName length far beyond the message
    bad.Send(tds::PacketType::kLogin7, login);
    EXPECT_TRUE(bad.WaitForClose());
  }
  {
    TdsClient bad(Port());
    bad.LoginOrFail();
    std::vector<std::uint8_t> batch = AllHeaders(0);
    for (std::uint8_t b : {0x00, 0xD8, 0x41, 0x00}) batch.push_back(b);  // lone high surrogate
    bad.Send(tds::PacketType::kSqlBatch, batch);
    EXPECT_TRUE(bad.WaitForClose());
  }
  {
    TdsClient bad(Port());
    bad.LoginOrFail();
    std::vector<std::uint8_t> huge(2 << 20, 0x41);  // beyond the 1 MiB request limit
    bad.Send(tds::PacketType::kSqlBatch, huge);
    EXPECT_TRUE(bad.WaitForClose());
  }
  EXPECT_EQ(Only(survivor.Batch("rows 1"), Token::kRow).size(), 1u);
}

TEST_F(ServerTest, TwentySessionsAtOnce) {
  std::vector<std::future<std::size_t>> clients;
  for (int i = 0; i < 20; ++i) {
    clients.push_back(std::async(std::launch::async, [this, i] {
      TdsClient client(Port());
      client.LoginOrFail();
      std::size_t rows = 0;
      for (int round = 0; round < 5; ++round) {
        rows += Only(client.Batch("rows " + std::to_string(i + 1)), Token::kRow).size();
      }
      return rows;
    }));
  }
  for (int i = 0; i < 20; ++i) EXPECT_EQ(clients[i].get(), 5u * (i + 1));
}

}  // namespace
}  // namespace sqlengine::testing
