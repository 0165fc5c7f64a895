#include "engine/server/server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

namespace sqlengine::server {
namespace {

struct AddressList {
  addrinfo* head = nullptr;
  ~AddressList() {
    if (head) freeaddrinfo(head);
  }
};

int Resolve(const std::string& address, int port, AddressList* list) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  std::string service = std::to_string(port);
  return getaddrinfo(address.c_str(), service.c_str(), &hints, &list->head);
}

std::string Endpoint(const sockaddr* addr) {
  char host[INET6_ADDRSTRLEN] = {0};
  int port = 0;
  if (addr->sa_family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(addr);
    inet_ntop(AF_INET6, &in6->sin6_addr, host, sizeof host);
    port = ntohs(in6->sin6_port);
    return "[" + std::string(host) + "]:" + std::to_string(port);
  }
  const auto* in4 = reinterpret_cast<const sockaddr_in*>(addr);
  inet_ntop(AF_INET, &in4->sin_addr, host, sizeof host);
  port = ntohs(in4->sin_port);
  return std::string(host) + ":" + std::to_string(port);
}

bool IsLoopback(const sockaddr* addr) {
  if (addr->sa_family == AF_INET) {
    auto ip = ntohl(reinterpret_cast<const sockaddr_in*>(addr)->sin_addr.s_addr);
    return (ip >> 24) == 127;
  }
  if (addr->sa_family == AF_INET6) {
    const in6_addr& a = reinterpret_cast<const sockaddr_in6*>(addr)->sin6_addr;
    if (IN6_IS_ADDR_LOOPBACK(&a)) return true;
    return IN6_IS_ADDR_V4MAPPED(&a) && a.s6_addr[12] == 127;
  }
  return false;
}

}  // namespace

bool IsLoopbackAddress(const std::string& address) {
  AddressList list;
  if (Resolve(address, 0, &list) != 0) return false;
  for (addrinfo* ai = list.head; ai != nullptr; ai = ai->ai_next) {
    if (!IsLoopback(ai->ai_addr)) return false;
  }
  return list.head != nullptr;
}

Server::Server(Engine& engine, Log& log, SessionSettings settings)
    : engine_(engine), log_(log), settings_(std::move(settings)) {
  if (pipe2(wake_pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
    throw std::runtime_error(std::string("cannot create a pipe: ") + std::strerror(errno));
  }
}

Server::~Server() {
  for (Connection& c : connections_) {
    c.session->Close();
    if (c.thread.joinable()) c.thread.join();
  }
  for (int fd : listen_fds_) close(fd);
  close(wake_pipe_[0]);
  close(wake_pipe_[1]);
}

void Server::Listen(const ListenConfig& config) {
  int port = config.port;
  for (const std::string& address : config.addresses) {
    bool optional = std::find(config.optional_addresses.begin(), config.optional_addresses.end(),
                              address) != config.optional_addresses.end();
    AddressList list;
    int rc = Resolve(address, port, &list);
    if (rc != 0) {
      if (optional) continue;
      throw ListenError("cannot resolve listen address " + address + ": " + gai_strerror(rc), false,
                        address);
    }
    for (addrinfo* ai = list.head; ai != nullptr; ai = ai->ai_next) {
      int fd = socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
      if (fd < 0) {
        if (optional) break;
        throw ListenError("cannot create a socket for " + address + ": " + std::strerror(errno),
                          false, address);
      }
      int one = 1;
      setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
      if (ai->ai_family == AF_INET6) setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
      if (port != 0) {
        // Bind every address to the port the first one got.
        if (ai->ai_family == AF_INET6) {
          reinterpret_cast<sockaddr_in6*>(ai->ai_addr)->sin6_port =
              htons(static_cast<uint16_t>(port));
        } else {
          reinterpret_cast<sockaddr_in*>(ai->ai_addr)->sin_port =
              htons(static_cast<uint16_t>(port));
        }
      }
      if (bind(fd, ai->ai_addr, ai->ai_addrlen) != 0 || listen(fd, 128) != 0) {
        int error = errno;
        close(fd);
        if (optional && (error == EADDRNOTAVAIL || error == EAFNOSUPPORT)) {
          log_.Warning("not listening on " + address + ": " + std::strerror(error));
          break;
        }
        throw ListenError("cannot listen on " + address + " port " + std::to_string(port) + ": " +
                              std::strerror(error),
                          error == EADDRINUSE, address);
      }
      sockaddr_storage bound{};
      socklen_t length = sizeof bound;
      getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
      std::string endpoint = Endpoint(reinterpret_cast<sockaddr*>(&bound));
      if (port == 0) {
        port = bound.ss_family == AF_INET6
                   ? ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port)
                   : ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
      }
      listen_fds_.push_back(fd);
      endpoints_.push_back(endpoint);
    }
  }
  if (listen_fds_.empty()) throw ListenError("no address to listen on", false, "");
  port_ = port;
}

void Server::Stop() {
  char byte = 1;
  [[maybe_unused]] ssize_t ignored = write(wake_pipe_[1], &byte, 1);
}

void Server::ReapFinished() {
  std::lock_guard lock(mutex_);
  for (auto it = connections_.begin(); it != connections_.end();) {
    if (*it->finished) {
      it->thread.join();
      it = connections_.erase(it);
    } else {
      ++it;
    }
  }
}

void Server::Refuse(int fd, const std::string& peer) {
  ++refusals_unlogged_;
  auto now = std::chrono::steady_clock::now();
  if (now - last_refusal_logged_ >= std::chrono::seconds(1)) {
    std::string also = refusals_unlogged_ > 1 ? " (" + std::to_string(refusals_unlogged_) +
                                                    " refused since the last note)"
                                              : "";
    log_.Warning("Could not connect because the maximum number of '" +
                 std::to_string(connection_limit_) +
                 "' user connections has already been reached. The system administrator can "
                 "use sp_configure to increase the maximum value. The connection has been "
                 "closed. [CLIENT: " +
                 peer + "]" + also);
    last_refusal_logged_ = now;
    refusals_unlogged_ = 0;
  }
  // Closed before anything is read (the client sees its PRELOGIN fail), and
  // only after the note is written, so whoever sees the close finds it logged.
  close(fd);
}

void Server::Accept(int listen_fd) {
  sockaddr_storage peer{};
  socklen_t length = sizeof peer;
  int fd = accept4(listen_fd, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
  if (fd < 0) {
    if (errno != EINTR && errno != EAGAIN && errno != ECONNABORTED) {
      log_.Error(std::string("accept failed: ") + std::strerror(errno));
    }
    return;
  }
  std::string peer_name = Endpoint(reinterpret_cast<sockaddr*>(&peer));
  ReapFinished();
  {
    std::lock_guard lock(mutex_);
    if (connections_.size() >= connection_limit_) {
      Refuse(fd, peer_name);
      return;
    }
  }
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  Connection c;
  try {
    c.session = std::make_unique<ClientSession>(fd, peer_name, engine_, log_, settings_);
  } catch (const std::system_error& e) {
    // Out of descriptors, say: this connection (whose socket the session
    // closed) is refused, the server goes on.
    log_.Error("cannot serve the connection from " + peer_name + ": " + e.what());
    return;
  }
  c.finished = std::make_shared<std::atomic<bool>>(false);
  ClientSession* session = c.session.get();
  auto finished = c.finished;
  std::lock_guard lock(mutex_);
  c.thread = std::thread([session, finished] {
    session->Run();
    *finished = true;
  });
  connections_.push_back(std::move(c));
}

void Server::Serve() {
  std::vector<pollfd> fds;
  fds.push_back({wake_pipe_[0], POLLIN, 0});
  for (int fd : listen_fds_) fds.push_back({fd, POLLIN, 0});
  for (;;) {
    int ready = poll(fds.data(), fds.size(), 1000);
    if (ready < 0 && errno != EINTR) {
      log_.Error(std::string("poll failed: ") + std::strerror(errno));
      break;
    }
    if (fds[0].revents & POLLIN) break;
    for (std::size_t i = 1; i < fds.size(); ++i) {
      if (fds[i].revents & POLLIN) Accept(fds[i].fd);
    }
    ReapFinished();
  }
  std::vector<Connection> closing;
  {
    std::lock_guard lock(mutex_);
    closing.swap(connections_);
  }
  for (Connection& c : closing) c.session->Close();
  for (Connection& c : closing) c.thread.join();
}

}  // namespace sqlengine::server
