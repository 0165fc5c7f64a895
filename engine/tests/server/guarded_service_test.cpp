// The sqlengine program's guards against clients that do not log in, seen
// from outside: what it closes, what its log says about it, and the
// 'user connections' setting kept in master across a restart.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "engine/tests/server/tds_client.h"
#include "testing/test_engine.h"

namespace sqlengine::testing {
namespace {

using tds::Token;
using testing_support::TestEngine;

std::string EngineLog(const TestEngine& engine) {
  std::ifstream in(engine.Home() / "log" / "sqlengine.log");
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool LogsIn(int port) {
  try {
    TdsClient client(port);
    auto events = ParseTokens(client.Login().body, tds::TdsVersion::k74);
    return !events.empty() && events.front().token == Token::kLoginAck;
  } catch (const std::runtime_error&) {
    return false;
  }
}

// A logged-in client. A connection that just ended may still count against
// the connection limit for a moment, so a refused login is tried again.
std::unique_ptr<TdsClient> LoggedIn(int port, const LoginOptions& options = {}) {
  std::unique_ptr<TdsClient> client;
  bool admitted = Eventually([&] {
    try {
      client = std::make_unique<TdsClient>(port);
      auto events = ParseTokens(client->Login(options).body, tds::TdsVersion::k74);
      return !events.empty() && events.front().token == Token::kLoginAck;
    } catch (const std::runtime_error&) {
      return false;
    }
  });
  EXPECT_TRUE(admitted) << "no login within 20 s";
  return client;
}

// The events of `batch`; fails the test on an unexpected ERROR.
std::vector<Event> RunBatch(TdsClient& client, const std::string& batch) {
  auto events = client.Batch(batch);
  for (const Event& e : events) {
    EXPECT_NE(e.token, Token::kError) << batch << ": " << e.number << " " << e.text;
  }
  return events;
}

int FirstError(const std::vector<Event>& events) {
  for (const Event& e : events) {
    if (e.token == Token::kError) return e.number;
  }
  return 0;
}

TEST(GuardedService, ClientsThatDoNotLogInAreCutOffAndLoggedOnOneLineEach) {
  TestEngine engine({"--login-timeout", "0.5", "--user-connections", "3"});
  auto working = LoggedIn(engine.Port());

  // A login name that tries to write a line of its own into the log.
  const std::string forged = "2030-01-01T00:00:00Z INFO forged";
  {
    TdsClient liar(engine.Port());
    LoginOptions options;
    options.user = "x\n" + forged;
    options.password = "wrong";
    liar.Login(options);
  }

  TdsClient silent(engine.Port());
  EXPECT_TRUE(silent.WaitForClose());

  auto second = LoggedIn(engine.Port());
  auto third = LoggedIn(engine.Port());
  TdsClient refused(engine.Port());
  EXPECT_TRUE(refused.WaitForClose());
  EXPECT_EQ(Only(working->Batch("SELECT 1"), Token::kRow).size(), 1u);

  std::string log = EngineLog(engine);
  EXPECT_EQ(log.find("\n" + forged), std::string::npos) << log;
  EXPECT_NE(log.find("x\\n" + forged), std::string::npos) << log;
  EXPECT_NE(log.find("no login within 500 ms"), std::string::npos) << log;
  EXPECT_NE(log.find("maximum number of '3' user connections has already been reached"),
            std::string::npos)
      << log;
}

TEST(GuardedService, UserConnectionsIsStoredInMasterAndTakesEffectAtRestart) {
  TestEngine engine;
  {
    TdsClient admin(engine.Port());
    admin.LoginOrFail();
    EXPECT_EQ(FirstError(admin.Batch("EXEC sp_configure 'user connections', 2")), 15123)
        << "an advanced option is hidden until shown";
    auto changed = RunBatch(admin,
                            "EXEC sp_configure 'show advanced options', 1\n"
                            "RECONFIGURE\n"
                            "EXEC sp_configure 'user connections', 2\n"
                            "RECONFIGURE WITH OVERRIDE");
    auto infos = Only(changed, Token::kInfo);
    ASSERT_EQ(infos.size(), 2u);
    EXPECT_EQ(infos[1].number, 15457);
    EXPECT_EQ(infos[1].text,
              "Configuration option 'user connections' changed from 0 to 2. Run the RECONFIGURE "
              "statement to install.");
    EXPECT_EQ(FirstError(admin.Batch("EXEC sp_configure 'user connections', 40000")), 15129);

    auto rows = Only(RunBatch(admin, "EXEC sp_configure 'user conn'"), Token::kRow);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(std::get<std::string>(rows[0].values[0]), "user connections");
    EXPECT_EQ(std::get<std::int64_t>(rows[0].values[3]), 2) << "config_value";
    EXPECT_EQ(std::get<std::int64_t>(rows[0].values[4]), 0) << "run_value before a restart";

    RunBatch(admin, "EXEC sp_addlogin 'clerk', 'Secret1'");
    TdsClient clerk(engine.Port());
    LoginOptions options;
    options.user = "clerk";
    options.password = "Secret1";
    clerk.LoginOrFail(options);
    EXPECT_EQ(FirstError(clerk.Batch("EXEC sp_configure 'show advanced options', 0")), 15247);
    EXPECT_EQ(FirstError(clerk.Batch("RECONFIGURE")), 5812);
    EXPECT_EQ(Only(RunBatch(clerk, "EXEC sp_configure"), Token::kRow).size(), 37u)
        << "anyone may list the options";
  }
  engine.Stop();
  engine.Restart();

  auto first = LoggedIn(engine.Port());
  auto rows = Only(RunBatch(*first, "EXEC sp_configure 'user connections'"), Token::kRow);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(std::get<std::int64_t>(rows[0].values[4]), 2) << "run_value after the restart";
  auto second = LoggedIn(engine.Port());
  EXPECT_FALSE(LogsIn(engine.Port()));
  second.reset();
  EXPECT_TRUE(Eventually([&] { return LogsIn(engine.Port()); }));
}

}  // namespace
}  // namespace sqlengine::testing
