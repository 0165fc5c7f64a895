#pragma once
// One client connection's socket, read packet by packet and written whole.
// Reads happen on one thread and writes on another; Shutdown() may be called
// from any thread and makes both sides fail promptly. Owns the descriptor.

#include <sys/uio.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <span>
#include <vector>

#include "engine/tds/packet.h"

namespace sqlengine::server {

class SocketChannel {
 public:
  explicit SocketChannel(int fd) : fd_(fd) {}
  ~SocketChannel();
  SocketChannel(const SocketChannel&) = delete;
  SocketChannel& operator=(const SocketChannel&) = delete;

  // Reads one packet. Returns false at end of stream or on a socket error;
  // throws tds::DecodeError for a malformed header.
  bool ReadPacket(tds::PacketHeader* header, std::vector<std::uint8_t>* payload);
  // Writes everything, blocking while the peer is slow to read. Returns false
  // once the connection is broken.
  bool WriteAll(std::span<const std::uint8_t> bytes);
  // Writes the pieces in order as one stream, in as few system calls as the
  // socket allows. `pieces` is consumed (its entries are advanced). Returns
  // false once the connection is broken.
  bool WriteAll(std::span<iovec> pieces);
  void Shutdown();
  // True when data (or end of stream) is ready to read within `timeout`.
  bool WaitReadable(std::chrono::milliseconds timeout);

 private:
  bool ReadExactly(std::uint8_t* data, std::size_t size);
  int fd_;
  std::atomic<bool> shut_down_{false};
};

}  // namespace sqlengine::server
