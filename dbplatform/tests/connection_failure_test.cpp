// Failures that need no server: nothing listening, a server that never
// answers, objects used before they are connected.
#include <gtest/gtest.h>

#include <chrono>

#include "dbplatform/administration.h"
#include "dbplatform/data_access.h"
#include "dbplatform/object.h"
#include "testing/test_engine.h"
#include "silent_listener.h"

namespace dbplatform {
namespace {

constexpr const char* kUnreachable =
    "[DBNETLIB][ConnectionOpen (Connect()).]SQL Server does not exist or access denied.";

std::string VelmoraText(const std::string& server) {
  return "PROVIDER=SQLOLEDB.1;PASSWORD=;PERSIST SECURITY INFO=TRUE;USER ID=sa;INITIAL "
         "CATALOG=master;DATA SOURCE=" +
         server;
}

TEST(ConnectionFailure, NothingListening) {
  auto connection = CreateObjectAs<Connection>(DefaultFactory(), "ADODB.Connection");
  std::string text = VelmoraText("127.0.0.1," + std::to_string(testing_support::FreeLoopbackPort()));
  connection->SetConnectionString(text);
  try {
    connection->Open();
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.Number(), -2147467259);
    EXPECT_EQ(error.Description(), kUnreachable);
  }
  EXPECT_EQ(connection->ConnectionString(), text);
  EXPECT_GT(connection->Errors().Count(), 0);
  try {
    connection->Execute("SELECT 1");
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.Number(), 3709);
  }
  EXPECT_THROW(connection->Close(), Error);
}

TEST(ConnectionFailure, LoginTimeOutAgainstAServerThatNeverAnswers) {
  SilentListener silent;
  auto connection = CreateObjectAs<Connection>(DefaultFactory(), "ADODB.Connection");
  auto started = std::chrono::steady_clock::now();
  try {
    connection->Open(VelmoraText("127.0.0.1," + std::to_string(silent.Port())) +
                     ";Connect Timeout=2");
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.Number(), kAdoConnectionFailed);
  }
  auto took = std::chrono::steady_clock::now() - started;
  EXPECT_GE(took, std::chrono::milliseconds(1500));
  EXPECT_LT(took, std::chrono::seconds(10));
}

TEST(ConnectionFailure, ServerObjectBeforeAndAfterAFailedConnect) {
  auto server = CreateObjectAs<SQLServer>(DefaultFactory(), "SQLDMO.SQLServer");
  server->DisConnect();
  server->Close();
  try {
    server->Databases();
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.Number(), static_cast<std::int32_t>(0x80045800));
  }
  server->SetLoginTimeout(5);
  try {
    server->Connect("127.0.0.1," + std::to_string(testing_support::FreeLoopbackPort()), "sa", "");
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.Number(), kDmoBase);
    EXPECT_EQ(error.Description(), kUnreachable);
  }
  server->DisConnect();
  server->Close();
}

TEST(ConnectionFailure, CommandWithoutAConnection) {
  auto command = CreateObjectAs<Command>(DefaultFactory(), "ADODB.Command");
  command->SetCommandText("DoOperation");
  command->SetCommandType(Command::kStoredProcedure);
  EXPECT_THROW(command->Parameters(), Error);
  command->SetActiveConnection(VelmoraText("127.0.0.1," + std::to_string(testing_support::FreeLoopbackPort())));
  try {
    command->Parameters();
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.Number(), kAdoConnectionFailed);
    EXPECT_EQ(error.Description(), kUnreachable);
  }
}

}  // namespace
}  // namespace dbplatform
