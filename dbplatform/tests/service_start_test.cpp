#include "service_start.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "dbplatform/error.h"
#include "testing/test_engine.h"
#include "silent_listener.h"
#include "testing/test_engine.h"

namespace dbplatform {
namespace {

namespace fs = std::filesystem;

void MakeExecutable(const fs::path& path) {
  std::ofstream(path) << "#!/bin/sh\nexit 0\n";
  fs::permissions(path, fs::perms::owner_all);
}

TEST(EngineProgram, BesideTheProgramThenOnPath) {
  fs::path root = testing_support::MakeTempFolder("dbplatform-find");
  fs::create_directories(root / "app");
  fs::create_directories(root / "bin");
  MakeExecutable(root / "bin" / "sqlengine");
  std::string path_list = "/nonexistent::" + (root / "bin").string();
  EXPECT_EQ(FindEngineProgram((root / "app").string(), path_list),
            (root / "bin/sqlengine").string());
  MakeExecutable(root / "app" / "sqlengine");
  EXPECT_EQ(FindEngineProgram((root / "app").string(), path_list),
            (root / "app/sqlengine").string());
  EXPECT_EQ(FindEngineProgram((root / "none").string(), "/nonexistent"), std::nullopt);
  fs::remove_all(root);
}

TEST(ServiceAddressTest, LocalNamesAndPorts) {
  ServiceAddress local = ParseServiceAddress("(local)");
  EXPECT_TRUE(local.this_computer);
  EXPECT_EQ(local.port, kDefaultServicePort);
  ServiceAddress with_port = ParseServiceAddress("localhost,14330");
  EXPECT_TRUE(with_port.this_computer);
  EXPECT_EQ(with_port.port, 14330);
  EXPECT_EQ(with_port.host, "127.0.0.1");
  ServiceAddress remote = ParseServiceAddress("db.example.org,1500");
  EXPECT_FALSE(remote.this_computer);
  EXPECT_EQ(remote.host, "db.example.org");
  EXPECT_FALSE(ParseServiceAddress("pc1,port").valid);
}

TEST(TdsProbe, ClosedPortAndSilentListenerAreNotServers) {
  EXPECT_FALSE(TdsServerAnswers("127.0.0.1", testing_support::FreeLoopbackPort(), 500));
  SilentListener silent;
  auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(TdsServerAnswers("127.0.0.1", silent.Port(), 300));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
}

TEST(StartServiceTest, MissingEngineIsAClearError) {
  int port = testing_support::FreeLoopbackPort();
  try {
    StartService("127.0.0.1," + std::to_string(port), 5, std::nullopt);
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.Number(), kServiceNotInstalled);
    EXPECT_NE(error.Description().find("sqlengine"), std::string::npos);
  }
}

}  // namespace
}  // namespace dbplatform
