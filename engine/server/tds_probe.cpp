#include "engine/server/tds_probe.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "engine/tds/packet.h"

namespace sqlengine::server {
namespace {

bool WaitFor(int fd, short events, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd, events, 0};
    int rc = poll(&p, 1, static_cast<int>(left.count()));
    if (rc > 0) return true;
    if (rc < 0 && errno != EINTR) return false;
  }
}

bool Probe(const addrinfo* ai, std::chrono::steady_clock::time_point deadline) {
  int fd = socket(ai->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  bool answered = false;
  if (connect(fd, ai->ai_addr, ai->ai_addrlen) == 0 || errno == EINPROGRESS) {
    int error = 0;
    socklen_t length = sizeof error;
    if (WaitFor(fd, POLLOUT, deadline) &&
        getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0) {
      // PRELOGIN with only the terminator: any TDS server answers it.
      const std::uint8_t request[] = {0x12, 0x01, 0x00, 0x09, 0, 0, 0, 0, 0xFF};
      if (send(fd, request, sizeof request, MSG_NOSIGNAL) == sizeof request &&
          WaitFor(fd, POLLIN, deadline)) {
        std::uint8_t header[tds::kHeaderSize];
        answered = recv(fd, header, sizeof header, 0) >= 1 &&
                   header[0] == static_cast<std::uint8_t>(tds::PacketType::kTabularResult);
      }
    }
  }
  close(fd);
  return answered;
}

}  // namespace

bool AnswersTds(const std::string& address, int port, std::chrono::milliseconds timeout) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* list = nullptr;
  std::string service = std::to_string(port);
  if (getaddrinfo(address.c_str(), service.c_str(), &hints, &list) != 0) return false;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  bool answered = false;
  for (addrinfo* ai = list; ai != nullptr && !answered; ai = ai->ai_next)
    answered = Probe(ai, deadline);
  freeaddrinfo(list);
  return answered;
}

}  // namespace sqlengine::server
