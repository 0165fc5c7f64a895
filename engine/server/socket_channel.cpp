#include "engine/server/socket_channel.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

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

bool SocketChannel::WriteAll(std::span<iovec> pieces) {
  while (!pieces.empty()) {
    if (shut_down_) return false;
    msghdr message{};
    message.msg_iov = pieces.data();
    message.msg_iovlen = std::min<std::size_t>(pieces.size(), IOV_MAX);
    ssize_t n = sendmsg(fd_, &message, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    auto sent = static_cast<std::size_t>(n);
    while (!pieces.empty() && sent >= pieces.front().iov_len) {
      sent -= pieces.front().iov_len;
      pieces = pieces.subspan(1);
    }
    if (sent > 0) {
      pieces.front().iov_base = static_cast<std::uint8_t*>(pieces.front().iov_base) + sent;
      pieces.front().iov_len -= sent;
    }
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
