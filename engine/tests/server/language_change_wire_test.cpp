// SET LANGUAGE over the wire: the client hears of the new language in an
// ENVCHANGE (type 2, new and old name) before the 5703 message, as at login,
// whichever TDS version it speaks.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "engine/tests/server/tds_client.h"
#include "testing/test_engine.h"

namespace sqlengine::testing {
namespace {

using tds::Token;

TEST(LanguageChangeWire, SetLanguageSendsTheEnvChangeBeforeTheMessage) {
  testing_support::TestEngine engine;
  for (std::uint32_t version : {0x74000004u, 0x71000001u}) {
    TdsClient client(engine.Port());
    LoginOptions options;
    options.tds_version = version;
    client.LoginOrFail(options);
    std::vector<Event> events = client.Batch("set language british");
    std::vector<Token> order = TokenOrder(events);
    std::vector<Event> changes = Only(events, Token::kEnvChange);
    ASSERT_EQ(changes.size(), 1u) << std::hex << version;
    EXPECT_EQ(changes[0].env_type, 2);
    EXPECT_EQ(changes[0].env_new, "British");
    EXPECT_EQ(changes[0].env_old, "us_english");
    std::vector<Event> infos = Only(events, Token::kInfo);
    ASSERT_EQ(infos.size(), 1u);
    EXPECT_EQ(infos[0].number, 5703);
    ASSERT_GE(order.size(), 2u);
    EXPECT_EQ(order[0], Token::kEnvChange);
    EXPECT_EQ(order[1], Token::kInfo);

    // Back again: the old name is the one just set.
    changes = Only(client.Batch("set language us_english"), Token::kEnvChange);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].env_new, "us_english");
    EXPECT_EQ(changes[0].env_old, "British");
  }
}

}  // namespace
}  // namespace sqlengine::testing
