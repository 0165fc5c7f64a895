#pragma once
// A loopback TCP relay for tests: clients connect to Port(), each connection
// is passed on to the engine's port, and every byte the clients send is
// recorded, so a test can see what actually crossed the wire.

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sqlengine::testing {

class RecordingRelay {
 public:
  // Listens on a free 127.0.0.1 port. Throws std::runtime_error.
  explicit RecordingRelay(int target_port);
  ~RecordingRelay();
  RecordingRelay(const RecordingRelay&) = delete;
  RecordingRelay& operator=(const RecordingRelay&) = delete;

  int Port() const { return port_; }
  // Everything clients sent so far, all connections joined.
  std::string ClientBytes();

 private:
  void AcceptLoop();
  void Pump(int client, int server);

  int target_port_;
  int listen_fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::string client_bytes_;
  std::vector<std::thread> pumps_;
  std::thread acceptor_;
};

// `text` as UTF-16LE, the way TDS carries SQL text and login names.
std::string Utf16(const std::string& ascii);

}  // namespace sqlengine::testing
