#pragma once
// One client connection's socket, read packet by packet and written whole,
// in clear text or through a TLS session. Reads happen on one thread and
// writes on another; Shutdown() may be called from any thread and makes both
// sides fail promptly. Owns the descriptor.

#include <sys/uio.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "engine/server/tls_stream.h"
#include "engine/tds/packet.h"

namespace sqlengine::server {

class SocketChannel {
 public:
  using Clock = std::chrono::steady_clock;

  explicit SocketChannel(int fd) : fd_(fd) {}
  ~SocketChannel();
  SocketChannel(const SocketChannel&) = delete;
  SocketChannel& operator=(const SocketChannel&) = delete;

  // Reads one packet. `check_header`, when given, sees the header before
  // the payload is read and may throw to refuse it. Returns false at end of
  // stream, on a socket error or past the read deadline; throws
  // tds::DecodeError for a malformed header and TlsError for a record that
  // does not decrypt.
  bool ReadPacket(tds::PacketHeader* header, std::vector<std::uint8_t>* payload,
                  const std::function<void(const tds::PacketHeader&)>& check_header = {});
  // Writes everything (encrypted when TLS is on), blocking while the peer is
  // slow to read. Returns false once the connection is broken.
  bool WriteAll(std::span<const std::uint8_t> bytes);
  // Writes the pieces in order as one stream, in as few system calls as the
  // socket allows. `pieces` is consumed (its entries are advanced). Returns
  // false once the connection is broken.
  bool WriteAll(std::span<iovec> pieces);
  void Shutdown();
  // True when data (or end of stream) is ready to read within `timeout`.
  bool WaitReadable(std::chrono::milliseconds timeout);
  // True once the peer has closed its end (or the connection broke), even
  // with bytes still unread. Thread-safe.
  bool PeerClosed() const;
  // Bytes already taken from the socket and not yet read: a wait on the
  // socket would miss them. On the reading thread.
  bool HasReadAhead() const;
  int Descriptor() const { return fd_; }

  // Reads give up at `deadline` (nullopt: wait for ever). Set and read on
  // the reading thread only.
  void SetReadDeadline(std::optional<Clock::time_point> deadline) { deadline_ = deadline; }
  bool DeadlinePassed() const { return deadline_passed_; }

  // From now on reads decrypt and writes encrypt through `tls`, whose
  // handshake is complete. Call while no write is under way.
  void StartTls(std::unique_ptr<TlsStream> tls);
  // Back to clear text (encryption for the login only). Call while no write
  // is under way.
  void StopTls();
  bool Encrypted() const { return tls_ != nullptr; }

 private:
  // Some bytes from the socket (those read ahead first): their count, 0 at
  // end of stream, on an error or past the deadline.
  std::size_t ReceiveSome(std::uint8_t* data, std::size_t size);
  // The same straight from the socket.
  std::size_t ReceiveFromSocket(std::uint8_t* data, std::size_t size);
  bool ReadExactly(std::uint8_t* data, std::size_t size);
  bool SendRaw(std::span<const std::uint8_t> bytes);
  bool SendRaw(std::span<iovec> pieces);
  // Sends what the TLS state has for the client; the send lock is held.
  bool FlushTls();

  int fd_;
  std::atomic<bool> shut_down_{false};
  std::optional<Clock::time_point> deadline_;
  bool deadline_passed_ = false;
  std::unique_ptr<TlsStream> tls_;
  // Bytes read from the socket and not yet taken: inbox_[inbox_start_,
  // inbox_end_). Used by the reading thread only.
  std::unique_ptr<std::uint8_t[]> inbox_;
  std::size_t inbox_start_ = 0;
  std::size_t inbox_end_ = 0;
  // Keeps ciphertext in the order the TLS state produced it.
  std::mutex send_mutex_;
};

}  // namespace sqlengine::server
