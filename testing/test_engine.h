#pragma once
// A real sqlengine for one test: started as a child process on a free
// loopback port in a fresh temporary home, stopped and removed at the end.

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

class TestEngine {
 public:
  // Starts `sqlengine run --home <tmp> --port 0 --listen 127.0.0.1` and waits
  // (up to 30 s) until the port file appears and the port accepts
  // connections. Throws std::runtime_error when it does not come up.
  TestEngine();
  explicit TestEngine(const std::filesystem::path& home);  // reuse an existing home
  // A fresh home, with more options for `run` (kept for Restart).
  explicit TestEngine(std::vector<std::string> options);
  ~TestEngine();
  TestEngine(const TestEngine&) = delete;
  TestEngine& operator=(const TestEngine&) = delete;

  int Port() const { return port_; }
  // "127.0.0.1,PORT": the server name the programs and ODBC understand.
  std::string ServerName() const;
  const std::filesystem::path& Home() const { return home_; }
  std::filesystem::path DataFolder() const { return home_ / "data"; }

  // SIGTERM and wait; returns the exit status.
  int Stop();
  // SIGKILL and wait: a crash.
  void Kill();
  // Start again on the same home (after Stop or Kill); the port may change.
  void Restart();
  bool Running() const { return pid_ > 0; }

 private:
  void Launch();
  std::filesystem::path home_;
  bool owns_home_ = false;
  pid_t pid_ = -1;
  int port_ = 0;
  std::vector<std::string> options_;
};

// Path of the built sqlengine program.
std::filesystem::path SqlEnginePath();

// A loopback TCP port that nothing listens on right now (bound, then released).
int FreeLoopbackPort();

// A fresh empty temporary folder, removed by the caller.
std::filesystem::path MakeTempFolder(const std::string& prefix);

}  // namespace testing_support
