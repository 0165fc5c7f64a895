#include "engine/tests/peers/recording_relay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace sqlengine::testing {
namespace {

int ConnectLoopback(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

std::string Utf16(const std::string& ascii) {
  std::string out;
  for (char c : ascii) {
    out.push_back(c);
    out.push_back('\0');
  }
  return out;
}

RecordingRelay::RecordingRelay(int target_port) : target_port_(target_port) {
  listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof addr;
  if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(listen_fd_, 16) != 0 ||
      getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
    close(listen_fd_);
    throw std::runtime_error("the relay cannot listen");
  }
  port_ = ntohs(addr.sin_port);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

RecordingRelay::~RecordingRelay() {
  stopping_ = true;
  acceptor_.join();
  for (std::thread& pump : pumps_) pump.join();
  close(listen_fd_);
}

std::string RecordingRelay::ClientBytes() {
  std::lock_guard lock(mutex_);
  return client_bytes_;
}

void RecordingRelay::AcceptLoop() {
  while (!stopping_) {
    pollfd p{listen_fd_, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    int client = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    int server = ConnectLoopback(target_port_);
    if (server < 0) {
      close(client);
      continue;
    }
    pumps_.emplace_back([this, client, server] { Pump(client, server); });
  }
}

void RecordingRelay::Pump(int client, int server) {
  pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
  char buffer[16384];
  while (!stopping_) {
    if (poll(fds, 2, 50) <= 0) continue;
    bool closed = false;
    for (int i = 0; i < 2 && !closed; ++i) {
      if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t n = recv(fds[i].fd, buffer, sizeof buffer, 0);
      if (n <= 0) {
        closed = true;
        break;
      }
      if (i == 0) {
        std::lock_guard lock(mutex_);
        client_bytes_.append(buffer, static_cast<std::size_t>(n));
      }
      if (send(fds[1 - i].fd, buffer, static_cast<std::size_t>(n), MSG_NOSIGNAL) != n) {
        closed = true;
      }
    }
    if (closed) break;
  }
  close(client);
  close(server);
}

}  // namespace sqlengine::testing
