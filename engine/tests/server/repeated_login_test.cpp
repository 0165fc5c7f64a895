// Logins against a real sqlengine that repeat, run at once and follow a
// password change: a remembered success must never let a wrong or outdated
// password in, nor refuse the right one.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "engine/tests/server/tds_client.h"
#include "testing/test_engine.h"

namespace sqlengine::testing {
namespace {

using tds::Token;
using testing_support::TestEngine;

// 0 for an accepted login, else the number of the first error.
int LoginOutcome(int port, const std::string& user, const std::string& password) {
  TdsClient client(port);
  LoginOptions options;
  options.user = user;
  options.password = password;
  auto events = ParseTokens(client.Login(options).body, tds::TdsVersion::k74);
  for (const Event& e : events) {
    if (e.token == Token::kLoginAck) return 0;
    if (e.token == Token::kError) return e.number;
  }
  return -1;
}

void RunAsSa(int port, const std::string& batch) {
  TdsClient client(port);
  client.LoginOrFail();
  for (const Event& e : client.Batch(batch)) {
    ASSERT_NE(e.token, Token::kError) << batch << ": " << e.text;
  }
}

TEST(RepeatedLogin, TwentyClientsAtOnceGetTheirOwnAnswerEveryTime) {
  TestEngine engine;
  RunAsSa(engine.Port(), "CREATE LOGIN clerk WITH PASSWORD = 'Secret1'");
  constexpr int kClients = 20, kRounds = 3;
  std::atomic<int> wrong_answers{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&, c] {
      // Half use the right password, half a near miss of it.
      const std::string password = c % 2 == 0 ? "Secret1" : "Secret1 ";
      const int expected = c % 2 == 0 ? 0 : 18456;
      for (int round = 0; round < kRounds; ++round) {
        if (LoginOutcome(engine.Port(), "clerk", password) != expected) ++wrong_answers;
      }
    });
  }
  for (std::thread& t : clients) t.join();
  EXPECT_EQ(wrong_answers.load(), 0);
  EXPECT_EQ(LoginOutcome(engine.Port(), "clerk", "secret1"), 18456) << "passwords keep their case";
  EXPECT_EQ(LoginOutcome(engine.Port(), "sa", "Secret1"), 18456)
      << "one login's password is not another's";
}

TEST(RepeatedLogin, ChangedPasswordRetiresTheOldOne) {
  TestEngine engine;
  RunAsSa(engine.Port(), "CREATE LOGIN clerk WITH PASSWORD = 'Secret1'");
  ASSERT_EQ(LoginOutcome(engine.Port(), "clerk", "Secret1"), 0);
  ASSERT_EQ(LoginOutcome(engine.Port(), "clerk", "Secret1"), 0);
  RunAsSa(engine.Port(), "EXEC sp_password NULL, 'Secret2', 'clerk'");
  EXPECT_EQ(LoginOutcome(engine.Port(), "clerk", "Secret1"), 18456);
  EXPECT_EQ(LoginOutcome(engine.Port(), "clerk", "Secret2"), 0);
  RunAsSa(engine.Port(), "EXEC sp_password NULL, 'Secret1', 'clerk'");
  EXPECT_EQ(LoginOutcome(engine.Port(), "clerk", "Secret1"), 0) << "a fresh salt, checked anew";
  EXPECT_EQ(LoginOutcome(engine.Port(), "clerk", "Secret2"), 18456);
  RunAsSa(engine.Port(), "EXEC sp_droplogin 'clerk'");
  EXPECT_EQ(LoginOutcome(engine.Port(), "clerk", "Secret1"), 18456);
}

}  // namespace
}  // namespace sqlengine::testing
