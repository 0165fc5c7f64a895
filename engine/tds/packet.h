#pragma once
// TDS packet framing: the 8-byte header, reassembly of a request that spans
// several packets, and splitting a response at the negotiated packet size.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace sqlengine::tds {

enum class PacketType : std::uint8_t {
  kSqlBatch = 0x01,
  kPreTds7Login = 0x02,
  kRpc = 0x03,
  kTabularResult = 0x04,
  kAttention = 0x06,
  kBulkLoad = 0x07,
  kTransactionManager = 0x0E,
  kLogin7 = 0x10,
  kSspi = 0x11,
  kPrelogin = 0x12,
};

inline constexpr std::size_t kHeaderSize = 8;
inline constexpr std::uint8_t kStatusEndOfMessage = 0x01;
inline constexpr std::uint8_t kStatusIgnore = 0x02;
inline constexpr std::size_t kDefaultPacketSize = 4096;
inline constexpr std::size_t kMinPacketSize = 512;
inline constexpr std::size_t kMaxPacketSize = 32767;

struct PacketHeader {
  std::uint8_t type = 0;
  std::uint8_t status = 0;
  std::uint16_t length = 0;  // header included
  std::uint16_t spid = 0;
  std::uint8_t packet_id = 0;
};

// Throws DecodeError when the length is below the header size.
PacketHeader ParseHeader(std::span<const std::uint8_t, kHeaderSize> bytes);

class BodySource;

struct Message {
  PacketType type = PacketType::kSqlBatch;
  std::vector<std::uint8_t> body;  // headers stripped, packets joined
  // Set instead of `body` for a message read while its packets still
  // arrive (a bulk load): they come from here.
  std::shared_ptr<BodySource> parts;
  // The client gave the message up by marking its last packet IGNORE: its
  // body is dropped, and the server answers with a single DONE(ERROR).
  bool ignored = false;
};

// Joins packets into messages. Feed it each packet as it arrives; it returns
// a message when its last packet (status EOM) has come. An ATTENTION packet
// ends any message being assembled (the client gave up sending it). A message
// the client flagged "ignore" comes back empty, marked ignored. Throws
// DecodeError when packet types
// change inside a message or the message grows beyond `max_message_size`.
class MessageAssembler {
 public:
  explicit MessageAssembler(std::size_t max_message_size) : max_message_size_(max_message_size) {}
  std::optional<Message> Add(const PacketHeader& header, std::span<const std::uint8_t> payload);
  // Applies to the packets added from now on, including the rest of a
  // message being assembled.
  void set_max_message_size(std::size_t size) { max_message_size_ = size; }
  // Whether a message has begun and not ended.
  bool assembling() const { return assembling_; }

 private:
  std::size_t max_message_size_;
  bool assembling_ = false;
  Message partial_;
};

// Writes `header` in its 8-byte wire form (length and SPID big-endian).
void WriteHeader(const PacketHeader& header, std::span<std::uint8_t, kHeaderSize> out);

// Appends `body` as packets of `type` (a server's tabular result unless
// said otherwise) of at most `packet_size` bytes each; the last one carries
// EOM when `end_of_message`. Packet ids count from `*packet_id` and wrap.
void AppendPackets(std::span<const std::uint8_t> body, std::size_t packet_size, std::uint16_t spid,
                   bool end_of_message, std::uint8_t* packet_id, std::vector<std::uint8_t>& out,
                   PacketType type = PacketType::kTabularResult);

}  // namespace sqlengine::tds
