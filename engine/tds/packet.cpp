#include "engine/tds/packet.h"

#include <algorithm>
#include <string>

#include "engine/tds/decode_error.h"

namespace sqlengine::tds {

PacketHeader ParseHeader(std::span<const std::uint8_t, kHeaderSize> bytes) {
  PacketHeader header;
  header.type = bytes[0];
  header.status = bytes[1];
  header.length = static_cast<std::uint16_t>((bytes[2] << 8) | bytes[3]);
  header.spid = static_cast<std::uint16_t>((bytes[4] << 8) | bytes[5]);
  header.packet_id = bytes[6];
  if (header.length < kHeaderSize) {
    throw DecodeError("packet length " + std::to_string(header.length) + " below the header size");
  }
  return header;
}

std::optional<Message> MessageAssembler::Add(const PacketHeader& header,
                                             std::span<const std::uint8_t> payload) {
  auto type = static_cast<PacketType>(header.type);
  if (type == PacketType::kAttention) {
    assembling_ = false;
    partial_.body.clear();
    return Message{type, {}};
  }
  if (assembling_ && partial_.type != type) {
    throw DecodeError("packet type changed inside a message");
  }
  if (!assembling_) {
    partial_.type = type;
    partial_.body.clear();
    assembling_ = true;
  }
  if (partial_.body.size() + payload.size() > max_message_size_) {
    throw DecodeError("request larger than " + std::to_string(max_message_size_) + " bytes");
  }
  partial_.body.insert(partial_.body.end(), payload.begin(), payload.end());
  if ((header.status & kStatusEndOfMessage) == 0) return std::nullopt;
  assembling_ = false;
  if (header.status & kStatusIgnore) {
    partial_.body.clear();
    return std::nullopt;
  }
  return std::move(partial_);
}

void AppendPackets(std::span<const std::uint8_t> body, std::size_t packet_size, std::uint16_t spid,
                   bool end_of_message, std::uint8_t* packet_id, std::vector<std::uint8_t>& out) {
  const std::size_t chunk = packet_size - kHeaderSize;
  std::size_t offset = 0;
  do {
    std::size_t size = std::min(chunk, body.size() - offset);
    bool last = offset + size == body.size();
    std::uint16_t length = static_cast<std::uint16_t>(size + kHeaderSize);
    out.push_back(static_cast<std::uint8_t>(PacketType::kTabularResult));
    out.push_back(last && end_of_message ? kStatusEndOfMessage : 0);
    out.push_back(static_cast<std::uint8_t>(length >> 8));
    out.push_back(static_cast<std::uint8_t>(length));
    out.push_back(static_cast<std::uint8_t>(spid >> 8));
    out.push_back(static_cast<std::uint8_t>(spid));
    out.push_back((*packet_id)++);
    out.push_back(0);
    out.insert(out.end(), body.begin() + static_cast<std::ptrdiff_t>(offset),
               body.begin() + static_cast<std::ptrdiff_t>(offset + size));
    offset += size;
  } while (offset < body.size());
}

}  // namespace sqlengine::tds
