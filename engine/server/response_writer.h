#pragma once
// Collects the tokens of one response and sends them as packets of the
// negotiated size: full packets go out once about kSendBatchBytes of them have
// gathered, in one socket write (so a big result streams in few system calls
// and a slow reader blocks only this session), the rest with EOM at Finish().
// Used by one thread at a time.

#include <atomic>
#include <cstdint>
#include <vector>

#include "engine/server/socket_channel.h"
#include "engine/tds/byte_writer.h"

namespace sqlengine::server {

class ResponseWriter {
 public:
  static constexpr std::size_t kSendBatchBytes = 64 * 1024;

  // `client_gone` is set by the session's reader when the peer disconnects.
  ResponseWriter(SocketChannel& channel, const std::atomic<bool>& client_gone)
      : channel_(channel), client_gone_(client_gone) {}

  void Configure(std::size_t packet_size, std::uint16_t spid) {
    packet_size_ = packet_size;
    spid_ = spid;
  }

  // Append tokens here, then call TokenWritten().
  tds::ByteWriter& Tokens() { return tokens_; }
  // Sends the packets that are full. Throws ClientGone when the peer is gone.
  void TokenWritten();
  // Sends what is left as the last packet of the message (EOM).
  void Finish();

 private:
  void Send(std::size_t count, bool end_of_message);
  SocketChannel& channel_;
  const std::atomic<bool>& client_gone_;
  tds::ByteWriter tokens_;
  // Packet headers and the pieces of one send, kept between sends.
  std::vector<std::uint8_t> headers_;
  std::vector<iovec> pieces_;
  std::size_t packet_size_ = 4096;
  std::uint16_t spid_ = 0;
  std::uint8_t packet_id_ = 1;
};

}  // namespace sqlengine::server
