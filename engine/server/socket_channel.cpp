#include "engine/server/socket_channel.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace sqlengine::server {
namespace {

// Ciphertext read from the socket at a time.
constexpr std::size_t kTlsReadChunk = 16 * 1024 + 512;
// Read ahead into the channel's own buffer: a small request's header and
// payload (and often the next request) come in one system call.
constexpr std::size_t kInboxSize = 8 * 1024;

}  // namespace

SocketChannel::~SocketChannel() { close(fd_); }

std::size_t SocketChannel::ReceiveSome(std::uint8_t* data, std::size_t size) {
  if (inbox_start_ == inbox_end_ && size < kInboxSize) {
    if (!inbox_) inbox_ = std::make_unique<std::uint8_t[]>(kInboxSize);
    inbox_start_ = 0;
    inbox_end_ = ReceiveFromSocket(inbox_.get(), kInboxSize);
  }
  if (inbox_start_ < inbox_end_) {
    std::size_t n = std::min(size, inbox_end_ - inbox_start_);
    std::copy_n(inbox_.get() + inbox_start_, n, data);
    inbox_start_ += n;
    return n;
  }
  return ReceiveFromSocket(data, size);
}

std::size_t SocketChannel::ReceiveFromSocket(std::uint8_t* data, std::size_t size) {
  for (;;) {
    if (deadline_) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline_ - Clock::now());
      pollfd p{fd_, POLLIN, 0};
      int ready = left.count() > 0 ? poll(&p, 1, static_cast<int>(left.count()) + 1) : 0;
      if (ready < 0 && errno == EINTR) continue;
      if (ready == 0) {
        deadline_passed_ = true;
        return 0;
      }
    }
    ssize_t n = recv(fd_, data, size, 0);
    if (n < 0 && errno == EINTR) continue;
    return n > 0 ? static_cast<std::size_t>(n) : 0;
  }
}

bool SocketChannel::ReadExactly(std::uint8_t* data, std::size_t size) {
  std::size_t done = 0;
  std::vector<std::uint8_t> ciphertext;
  while (done < size) {
    if (!tls_) {
      std::size_t n = ReceiveSome(data + done, size - done);
      if (n == 0) return false;
      done += n;
      continue;
    }
    long n = tls_->Decrypt(data + done, size - done);
    if (n < 0) return false;
    if (tls_->HasOutput()) {
      std::lock_guard lock(send_mutex_);
      if (!FlushTls()) return false;
    }
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    ciphertext.resize(kTlsReadChunk);
    std::size_t received = ReceiveSome(ciphertext.data(), ciphertext.size());
    if (received == 0) return false;
    tls_->Feed(std::span<const std::uint8_t>(ciphertext.data(), received));
  }
  return true;
}

bool SocketChannel::ReadPacket(tds::PacketHeader* header, std::vector<std::uint8_t>* payload,
                               const std::function<void(const tds::PacketHeader&)>& check_header) {
  std::uint8_t raw[tds::kHeaderSize];
  if (!ReadExactly(raw, sizeof raw)) return false;
  *header =
      tds::ParseHeader(std::span<const std::uint8_t, tds::kHeaderSize>(raw, tds::kHeaderSize));
  if (check_header) check_header(*header);
  payload->resize(header->length - tds::kHeaderSize);
  return ReadExactly(payload->data(), payload->size());
}

bool SocketChannel::SendRaw(std::span<const std::uint8_t> bytes) {
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

bool SocketChannel::SendRaw(std::span<iovec> pieces) {
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

bool SocketChannel::FlushTls() {
  std::vector<std::uint8_t> out = tls_->TakeOutput();
  return SendRaw(std::span<const std::uint8_t>(out));
}

bool SocketChannel::WriteAll(std::span<const std::uint8_t> bytes) {
  if (!tls_) return SendRaw(bytes);
  std::lock_guard lock(send_mutex_);
  if (shut_down_) return false;
  try {
    tls_->Encrypt(bytes);
  } catch (const TlsError&) {
    return false;  // the TLS state is broken: so is the connection
  }
  return FlushTls();
}

bool SocketChannel::WriteAll(std::span<iovec> pieces) {
  if (!tls_) return SendRaw(pieces);
  // One record per piece would spend a record on every 8-byte packet header.
  std::vector<std::uint8_t> joined;
  for (const iovec& piece : pieces) {
    const auto* data = static_cast<const std::uint8_t*>(piece.iov_base);
    joined.insert(joined.end(), data, data + piece.iov_len);
  }
  return WriteAll(std::span<const std::uint8_t>(joined));
}

bool SocketChannel::HasReadAhead() const {
  return inbox_start_ < inbox_end_ || (tls_ && tls_->HasBufferedInput());
}

bool SocketChannel::WaitReadable(std::chrono::milliseconds timeout) {
  if (HasReadAhead()) return true;
  pollfd p{fd_, POLLIN, 0};
  return poll(&p, 1, static_cast<int>(timeout.count())) != 0;
}

bool SocketChannel::PeerClosed() const {
  pollfd p{fd_, POLLRDHUP, 0};
  return poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

void SocketChannel::StartTls(std::unique_ptr<TlsStream> tls) { tls_ = std::move(tls); }

void SocketChannel::StopTls() { tls_.reset(); }

void SocketChannel::Shutdown() {
  shut_down_ = true;
  shutdown(fd_, SHUT_RDWR);
}

}  // namespace sqlengine::server
