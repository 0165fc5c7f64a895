// The sqlengine program's lifecycle commands, run as real processes.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "engine/server/tds_probe.h"
#include "engine/tests/server/run_command.h"
#include "engine/tests/server/tds_client.h"
#include "testing/test_engine.h"

namespace sqlengine::testing {
namespace {

using testing_support::MakeTempFolder;
using testing_support::SqlEnginePath;
using testing_support::TestEngine;

using Outcome = CommandOutcome;

Outcome Sqlengine(const std::string& arguments) {
  return RunCommand(SqlEnginePath().string() + " " + arguments);
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A temporary home whose background instance is stopped at the end.
class HomeFolder {
 public:
  HomeFolder() : path_(MakeTempFolder("sqlengine-service")) {}
  ~HomeFolder() {
    Sqlengine("stop --home " + path_.string());
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }
  std::string arg() const { return "--home " + path_.string(); }
  int Port() const {
    std::ifstream in(path_ / "sqlengine.port");
    int port = 0;
    in >> port;
    return port;
  }

 private:
  std::filesystem::path path_;
};

TEST(Service, StartStatusStop) {
  HomeFolder home;
  Outcome started = Sqlengine("start " + home.arg() + " --port 0 --listen 127.0.0.1");
  ASSERT_EQ(started.status, 0) << started.output;
  int port = home.Port();
  ASSERT_GT(port, 0);
  EXPECT_TRUE(server::AnswersTds("127.0.0.1", port))
      << "start returns once connections are accepted";

  Outcome status = Sqlengine("status " + home.arg());
  EXPECT_EQ(status.status, 0);
  EXPECT_NE(status.output.find("127.0.0.1:" + std::to_string(port)), std::string::npos)
      << status.output;

  Outcome again = Sqlengine("start " + home.arg() + " --port 0 --listen 127.0.0.1");
  EXPECT_EQ(again.status, 3);
  EXPECT_EQ(again.output, "An instance of the service is already running.\n");

  Outcome stopped = Sqlengine("stop " + home.arg());
  EXPECT_EQ(stopped.status, 0) << stopped.output;
  EXPECT_FALSE(server::AnswersTds("127.0.0.1", port));
  EXPECT_NE(Sqlengine("status " + home.arg()).status, 0);
  EXPECT_FALSE(std::filesystem::exists(home.path() / "sqlengine.port"));
  std::string log = ReadFile(home.path() / "log" / "sqlengine.log");
  EXPECT_NE(log.find("started"), std::string::npos);
  EXPECT_NE(log.find("stopped"), std::string::npos);
}

TEST(Service, SecondEngineOnTheSameHomeOrPortExitsWithThree) {
  TestEngine running;
  Outcome same_home = Sqlengine("run --home " + running.Home().string() + " --port 0");
  EXPECT_EQ(same_home.status, 3);
  EXPECT_NE(same_home.output.find("An instance of the service is already running."),
            std::string::npos);

  HomeFolder other;
  std::string on_port =
      other.arg() + " --port " + std::to_string(running.Port()) + " --listen 127.0.0.1";
  Outcome start = Sqlengine("start " + on_port);
  EXPECT_EQ(start.status, 3);
  EXPECT_EQ(start.output, "An instance of the service is already running.\n");
  EXPECT_EQ(Sqlengine("run " + on_port).status, 3);
}

TEST(Service, PortHeldByAnotherProgramIsAPlainFailure) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(fd, 1), 0);
  socklen_t length = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
  HomeFolder home;
  Outcome start = Sqlengine("start " + home.arg() + " --listen 127.0.0.1 --port " +
                            std::to_string(ntohs(addr.sin_port)));
  close(fd);
  EXPECT_NE(start.status, 0);
  EXPECT_NE(start.status, 3);
  EXPECT_NE(start.output.find("cannot listen"), std::string::npos) << start.output;
}

TEST(Service, RefusesANonLoopbackAddressWhileSaHasNoPassword) {
  HomeFolder home;
  Outcome run = Sqlengine("run " + home.arg() + " --port 0 --listen 0.0.0.0");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.output.find("sp_password"), std::string::npos) << run.output;
}

TEST(Service, SigtermStopsCleanlyAndFailedLoginsAreLogged) {
  TestEngine engine;
  {
    TdsClient client(engine.Port());
    LoginOptions bad;
    bad.password = "wrong";
    client.Login(bad);
  }
  TdsClient open_session(engine.Port());
  open_session.LoginOrFail();
  int status = engine.Stop();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  std::string log = ReadFile(engine.Home() / "log" / "sqlengine.log");
  EXPECT_NE(log.find("login failed for user 'sa'"), std::string::npos) << log;
  EXPECT_NE(log.find("stopped"), std::string::npos);
}

TEST(Service, BadUsageIsReported) {
  Outcome unknown = Sqlengine("frobnicate");
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.output.find("usage:"), std::string::npos);
  EXPECT_EQ(Sqlengine("run --port 99999").status, 2);
}

}  // namespace
}  // namespace sqlengine::testing
