#include "engine/server/socket_channel.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace sqlengine::server {

SocketChannel::~SocketChannel() { close(fd_); }

bool SocketChannel::ReadExactly(std::uint8_t* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = recv(fd_, data + done, size - done, 0);
    if (n == 0) return false;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool SocketChannel::ReadPacket(tds::PacketHeader* header, std::vector<std::uint8_t>* payload) {
  std::uint8_t raw[tds::kHeaderSize];
  if (!ReadExactly(raw, sizeof raw)) return false;
  *header =
      tds::ParseHeader(std::span<const std::uint8_t, tds::kHeaderSize>(raw, tds::kHeaderSize));
  payload->resize(header->length - tds::kHeaderSize);
  return ReadExactly(payload->data(), payload->size());
}

bool SocketChannel::WriteAll(std::span<const std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    if (shut_down_) return false;
    ssize_t n = send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool SocketChannel::WaitReadable(std::chrono::milliseconds timeout) {
  pollfd p{fd_, POLLIN, 0};
  return poll(&p, 1, static_cast<int>(timeout.count())) != 0;
}

void SocketChannel::Shutdown() {
  shut_down_ = true;
  shutdown(fd_, SHUT_RDWR);
}

}  // namespace sqlengine::server
