// Login over a real socket: the response order, version negotiation and the
// layouts that depend on it, and refused logins.
#include <gtest/gtest.h>

#include "engine/tests/server/server_fixture.h"
#include "engine/tests/server/tds_client.h"

namespace sqlengine::testing {
namespace {

using tds::Token;

TEST_F(ServerTest, LoginResponseStartsWithLoginAckAndEndsWithDone) {
  TdsClient client(Port());
  Response r = client.Login();
  ASSERT_EQ(r.headers.size(), 1u);
  EXPECT_NE(r.headers[0].spid, 0) << "clients read the SPID from the header";
  auto events = ParseTokens(r.body, tds::TdsVersion::k74);
  ASSERT_GE(events.size(), 7u);
  EXPECT_EQ(events[0].token, Token::kLoginAck);
  EXPECT_EQ(events[0].version, 0x74000004u);
  EXPECT_EQ(events[0].text, "Microsoft SQL Server");
  std::vector<int> env_types;
  for (const Event& e : Only(events, Token::kEnvChange)) env_types.push_back(e.env_type);
  EXPECT_EQ(env_types, (std::vector<int>{1, 7, 2, 4}));
  EXPECT_EQ(events[1].env_new, "master");
  auto infos = Only(events, Token::kInfo);
  ASSERT_EQ(infos.size(), 2u);
  EXPECT_EQ(infos[0].number, 5701);
  EXPECT_EQ(infos[0].message_class, 0) << "severity 10 travels as 0";
  EXPECT_EQ(events.back().token, Token::kDone);
  EXPECT_EQ(events.back().status, 0);
}

TEST_F(ServerTest, NegotiatesTheHighestVersionNotAboveTheRequest) {
  struct Case {
    std::uint32_t requested, answered;
  };
  for (Case c :
       {Case{0x70000000, 0x71000001}, Case{0x71000001, 0x71000001}, Case{0x72090002, 0x72090002},
        Case{0x730B0003, 0x730B0003}, Case{0x74000004, 0x74000004}, Case{0x75000000, 0x74000004}}) {
    TdsClient client(Port());
    LoginOptions options;
    options.tds_version = c.requested;
    Response r = client.Login(options);
    // ParseTokens checks every length against the negotiated layout.
    auto events = ParseTokens(r.body, tds::NegotiateVersion(c.requested));
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events[0].version, c.answered) << std::hex << c.requested;
  }
}

TEST_F(ServerTest, SeventyOneSessionsUseNarrowCountsAndLineNumbers) {
  TdsClient client(Port());
  LoginOptions options;
  options.tds_version = 0x71000001;
  client.LoginOrFail(options);
  std::vector<std::uint8_t> body = BuildBatch("error 208", tds::TdsVersion::k71);
  client.Send(tds::PacketType::kSqlBatch, body);
  auto r = client.Receive();
  ASSERT_TRUE(r);
  // ParseTokens fails unless the ERROR has a u16 line and the DONE a u32 count.
  auto events = ParseTokens(r->body, tds::TdsVersion::k71);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].number, 208);
  EXPECT_EQ(events[0].message_class, 16);
  EXPECT_EQ(events[1].status, tds::kDoneError);
  EXPECT_EQ(r->body[r->body.size() - 9], static_cast<std::uint8_t>(Token::kDone));
}

TEST_F(ServerTest, FailedLoginIsSizedByTheRequestedVersion) {
  for (std::uint32_t requested : {0x74000004u, 0x71000001u}) {
    TdsClient client(Port());
    LoginOptions options;
    options.password = "wrong";
    options.tds_version = requested;
    Response r = client.Login(options);
    auto version = tds::NegotiateVersion(requested);
    auto events = ParseTokens(r.body, version);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].token, Token::kError);
    EXPECT_EQ(events[0].number, 18456);
    EXPECT_EQ(events[0].message_class, 14);
    EXPECT_EQ(events[0].text, "Login failed for user 'sa'.");
    EXPECT_EQ(events[1].token, Token::kDone);
    EXPECT_EQ(events[1].status, tds::kDoneError);
    std::size_t done_size = tds::HasWideCounts(version) ? 13 : 9;
    EXPECT_EQ(r.body[r.body.size() - done_size], static_cast<std::uint8_t>(Token::kDone));
    EXPECT_TRUE(client.WaitForClose());
  }
}

TEST_F(ServerTest, IntegratedLoginIsRefusedWith18452) {
  TdsClient client(Port());
  LoginOptions options;
  options.user = "";
  options.integrated = true;
  auto events = ParseTokens(client.Login(options).body, tds::TdsVersion::k74);
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events[0].number, 18452);
  EXPECT_TRUE(Only(events, Token::kLoginAck).empty());
}

TEST_F(ServerTest, NegotiatedPacketSizeIsReportedAndClamped) {
  for (auto [requested, expected] :
       {std::pair{8192u, "8192"}, std::pair{100u, "512"}, std::pair{60000u, "32767"}}) {
    TdsClient client(Port());
    LoginOptions options;
    options.packet_size = requested;
    auto events = ParseTokens(client.Login(options).body, tds::TdsVersion::k74);
    bool found = false;
    for (const Event& e : Only(events, Token::kEnvChange)) {
      if (e.env_type == 4) {
        EXPECT_EQ(e.env_new, expected);
        found = true;
      }
    }
    EXPECT_TRUE(found);
  }
}

}  // namespace
}  // namespace sqlengine::testing
