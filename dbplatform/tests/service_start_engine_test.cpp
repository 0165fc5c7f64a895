// SQLServer::Start with the real engine program beside the test program.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "dbplatform/administration.h"
#include "dbplatform/object.h"
#include "testing/test_engine.h"
#include "service_start.h"
#include "testing/test_engine.h"

namespace dbplatform {
namespace {

namespace fs = std::filesystem;

// Points $SQLENGINE_HOME at a fresh home for one test and stops whatever
// engine the test started there.
class ServiceHome : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = testing_support::MakeTempFolder("dbplatform-service");
    setenv("SQLENGINE_HOME", home_.c_str(), 1);
  }
  void TearDown() override {
    std::string stop = testing_support::SqlEnginePath().string() + " stop --home " +
                       home_.string() + " >/dev/null 2>&1";
    EXPECT_GE(std::system(stop.c_str()), 0);
    unsetenv("SQLENGINE_HOME");
    fs::remove_all(home_);
  }
  fs::path home_;
};

TEST_F(ServiceHome, StartsWhenOffAndReportsWhenAlreadyOn) {
  ASSERT_TRUE(fs::exists(testing_support::SqlEnginePath().parent_path() / "sqlengine"));
  std::string server_name = "127.0.0.1," + std::to_string(testing_support::FreeLoopbackPort());
  auto server = CreateObjectAs<SQLServer>(DefaultFactory(), "SQLDMO.SQLServer");
  server->SetLoginTimeout(60);
  server->Start(true, server_name, "sa", "");
  EXPECT_EQ(server->Databases().Item(1).Name(), "master");
  EXPECT_TRUE(fs::exists(home_ / "data" / "master.mdf"));
  server->DisConnect();

  auto again = CreateObjectAs<SQLServer>(DefaultFactory(), "SQLDMO.SQLServer");
  again->SetLoginTimeout(60);
  try {
    again->Start(true, server_name, "sa", "");
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.Number(), -2147023840);
    EXPECT_EQ(error.Description(), "An instance of the service is already running.");
  }
  again->Connect(server_name, "sa", "");
  EXPECT_GE(again->Databases().Count(), 4);
  again->DisConnect();
}

TEST_F(ServiceHome, AnEngineThatCannotStartSaysWhy) {
  fs::path not_a_folder = home_ / "file";
  std::ofstream(not_a_folder) << "x";
  setenv("SQLENGINE_HOME", not_a_folder.c_str(), 1);
  try {
    StartService("127.0.0.1," + std::to_string(testing_support::FreeLoopbackPort()), 30,
                 testing_support::SqlEnginePath().string());
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.Number(), kServiceFailedToStart);
    EXPECT_GT(error.Description().size(), std::string("The service could not be started: ").size())
        << error.Description();
  }
}

}  // namespace
}  // namespace dbplatform
