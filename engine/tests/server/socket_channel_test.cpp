// A connection's socket read packet by packet, whatever pieces the bytes
// arrive in: several packets in one send, a header split across sends, a
// packet longer than what the channel reads ahead.
#include "engine/server/socket_channel.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

namespace sqlengine::server {
namespace {

std::vector<std::uint8_t> Packet(std::uint8_t type, std::size_t payload_size, std::uint8_t fill) {
  tds::PacketHeader header;
  header.type = type;
  header.status = tds::kStatusEndOfMessage;
  header.length = static_cast<std::uint16_t>(tds::kHeaderSize + payload_size);
  std::vector<std::uint8_t> bytes(tds::kHeaderSize + payload_size, fill);
  tds::WriteHeader(header,
                   std::span<std::uint8_t, tds::kHeaderSize>(bytes.data(), tds::kHeaderSize));
  return bytes;
}

void Send(int fd, const std::vector<std::uint8_t>& bytes) {
  ASSERT_EQ(send(fd, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
}

void ExpectPacket(SocketChannel& channel, std::uint8_t type, std::size_t payload_size,
                  std::uint8_t fill) {
  tds::PacketHeader header;
  std::vector<std::uint8_t> payload;
  ASSERT_TRUE(channel.ReadPacket(&header, &payload));
  EXPECT_EQ(header.type, type);
  ASSERT_EQ(payload.size(), payload_size);
  EXPECT_EQ(std::count(payload.begin(), payload.end(), fill),
            static_cast<std::ptrdiff_t>(payload_size));
}

TEST(SocketChannel, PacketsAreReadWhateverPiecesTheyArriveIn) {
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  SocketChannel channel(fds[0]);
  // Three packets in one send: the second and third are already read when
  // the first is taken, and the channel still says there is more to read.
  std::vector<std::uint8_t> three = Packet(0x03, 40, 'a');
  for (auto [type, fill] : {std::pair{0x06, 'b'}, std::pair{0x01, 'c'}}) {
    std::vector<std::uint8_t> more = Packet(static_cast<std::uint8_t>(type), 3, fill);
    three.insert(three.end(), more.begin(), more.end());
  }
  Send(fds[1], three);
  ExpectPacket(channel, 0x03, 40, 'a');
  EXPECT_TRUE(channel.WaitReadable(std::chrono::milliseconds(0)));
  ExpectPacket(channel, 0x06, 3, 'b');
  ExpectPacket(channel, 0x01, 3, 'c');
  EXPECT_FALSE(channel.WaitReadable(std::chrono::milliseconds(0)));

  // A header in two pieces, its payload in a third, sent while the reader waits.
  std::vector<std::uint8_t> split = Packet(0x0E, 100, 'd');
  std::thread writer([&] {
    for (auto [from, to] : {std::pair<std::size_t, std::size_t>{0, 3}, {3, 8}, {8, 108}}) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      Send(fds[1], std::vector<std::uint8_t>(split.begin() + static_cast<std::ptrdiff_t>(from),
                                             split.begin() + static_cast<std::ptrdiff_t>(to)));
    }
  });
  ExpectPacket(channel, 0x0E, 100, 'd');
  writer.join();

  // Packets longer than what is read ahead at a time, one after another in
  // one stream, and a short one after them.
  std::vector<std::uint8_t> large = Packet(0x07, tds::kMaxPacketSize - tds::kHeaderSize, 'e');
  std::vector<std::uint8_t> stream = large;
  stream.insert(stream.end(), large.begin(), large.end());
  std::vector<std::uint8_t> tail = Packet(0x01, 1, 'f');
  stream.insert(stream.end(), tail.begin(), tail.end());
  std::thread big_writer([&] { Send(fds[1], stream); });
  ExpectPacket(channel, 0x07, tds::kMaxPacketSize - tds::kHeaderSize, 'e');
  ExpectPacket(channel, 0x07, tds::kMaxPacketSize - tds::kHeaderSize, 'e');
  ExpectPacket(channel, 0x01, 1, 'f');
  big_writer.join();

  // The end of the stream, also in the middle of a packet.
  std::vector<std::uint8_t> cut = Packet(0x01, 50, 'g');
  cut.resize(20);
  Send(fds[1], cut);
  close(fds[1]);
  tds::PacketHeader header;
  std::vector<std::uint8_t> payload;
  EXPECT_FALSE(channel.ReadPacket(&header, &payload));
}

}  // namespace
}  // namespace sqlengine::server
