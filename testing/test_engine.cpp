#include "testing/test_engine.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "testing/loopback_probe.h"

namespace testing_support {

std::filesystem::path SqlEnginePath() { return SQLENGINE_PATH; }

int FreeLoopbackPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) throw std::runtime_error("socket failed");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  bool ok = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0;
  close(fd);
  if (!ok) throw std::runtime_error("no free loopback port");
  return ntohs(address.sin_port);
}

std::filesystem::path MakeTempFolder(const std::string& prefix) {
  std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

TestEngine::TestEngine() : home_(MakeTempFolder("sqlengine-test")), owns_home_(true) { Launch(); }

TestEngine::TestEngine(const std::filesystem::path& home) : home_(home) { Launch(); }

TestEngine::TestEngine(std::vector<std::string> options)
    : home_(MakeTempFolder("sqlengine-test")), owns_home_(true), options_(std::move(options)) {
  Launch();
}

TestEngine::~TestEngine() {
  if (pid_ > 0) Stop();
  if (owns_home_) {
    std::error_code ignored;
    std::filesystem::remove_all(home_, ignored);
  }
}

std::string TestEngine::ServerName() const { return "127.0.0.1," + std::to_string(port_); }

void TestEngine::Launch() {
  std::filesystem::path port_file = home_ / "sqlengine.port";
  std::filesystem::remove(port_file);
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    std::string engine = SqlEnginePath().string();
    std::vector<std::string> args = {engine,   "run", "--home",   home_.string(),
                                     "--port", "0",   "--listen", "127.0.0.1"};
    args.insert(args.end(), options_.begin(), options_.end());
    // A whole test program can run against an engine in another mode
    // (--sql-server-2000), its options separated by spaces.
    if (const char* extra = std::getenv("SQLENGINE_TEST_ENGINE_OPTIONS")) {
      std::istringstream words(extra);
      for (std::string word; words >> word;) args.push_back(word);
    }
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    execv(engine.c_str(), argv.data());
    _exit(127);
  }
  pid_ = pid;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      throw std::runtime_error("sqlengine exited during start-up");
    }
    std::ifstream in(port_file);
    int port = 0;
    if (in >> port && port > 0 && AcceptsOnLoopback(port)) {
      port_ = port;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  Kill();
  throw std::runtime_error("sqlengine did not start within 30 seconds");
}

int TestEngine::Stop() {
  if (pid_ <= 0) return 0;
  kill(pid_, SIGTERM);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
  return status;
}

void TestEngine::Kill() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
}

void TestEngine::Restart() {
  if (pid_ > 0) Stop();
  Launch();
}

bool AcceptsOnLoopback(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  close(fd);
  return ok;
}

}  // namespace testing_support
