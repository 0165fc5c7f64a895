#pragma once
// The TDS listener: binds the configured addresses, accepts connections and
// runs one ClientSession per connection on its own thread. The Engine and
// Log must outlive the Server.

#include <chrono>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "engine/common/engine_api.h"
#include "engine/common/log.h"
#include "engine/server/client_session.h"

namespace sqlengine::server {

struct ListenConfig {
  std::vector<std::string> addresses;  // numeric or "localhost"
  // Addresses that may be missing on this host (IPv6 disabled): skipped
  // with a warning instead of failing.
  std::vector<std::string> optional_addresses;
  int port = 1433;  // 0: a free port, the same on every address
};

class ListenError : public std::runtime_error {
 public:
  ListenError(const std::string& what, bool address_in_use, std::string address)
      : std::runtime_error(what), address_in_use_(address_in_use), address_(std::move(address)) {}
  bool address_in_use() const { return address_in_use_; }
  const std::string& address() const { return address_; }

 private:
  bool address_in_use_;
  std::string address_;
};

// SQL Server's most simultaneous user connections ('user connections' 0).
inline constexpr std::size_t kMaxUserConnections = 32767;

class Server {
 public:
  Server(Engine& engine, Log& log, SessionSettings settings);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Connections beyond `limit` are closed as they arrive (and logged);
  // counted are all open connections, logged in or not.
  void SetConnectionLimit(std::size_t limit) { connection_limit_ = limit; }

  // Binds and listens on every address. Throws ListenError.
  void Listen(const ListenConfig& config);
  int Port() const { return port_; }
  // "127.0.0.1:1433", "[::1]:1433": where the server actually listens.
  const std::vector<std::string>& Endpoints() const { return endpoints_; }

  // Accepts until Stop(); then closes every session and waits for them.
  void Serve();
  // Async-signal-safe and thread-safe: makes Serve() return.
  void Stop();

 private:
  struct Connection {
    std::unique_ptr<ClientSession> session;
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> finished;
  };
  void Accept(int listen_fd);
  void ReapFinished();
  void Refuse(int fd, const std::string& peer);

  Engine& engine_;
  Log& log_;
  SessionSettings settings_;
  std::vector<int> listen_fds_;
  std::vector<std::string> endpoints_;
  int port_ = 0;
  int wake_pipe_[2] = {-1, -1};
  std::mutex mutex_;
  std::vector<Connection> connections_;
  std::size_t connection_limit_ = kMaxUserConnections;
  // Refusals are logged at most once a second, with the count since.
  std::chrono::steady_clock::time_point last_refusal_logged_{};
  std::size_t refusals_unlogged_ = 0;
};

// True for 127.0.0.0/8, ::1 and IPv4-mapped loopback; false for anything
// else, including names that do not resolve.
bool IsLoopbackAddress(const std::string& address);

}  // namespace sqlengine::server
