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
    return Message{type, {}, nullptr};
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
  if (std::size_t needed = partial_.body.size() + payload.size(); needed > partial_.body.capacity()) {
    // A long message grows in wide steps: every step copies (and so first
    // touches) all that came before, while room not yet written costs nothing.
    partial_.body.reserve(std::max(needed, std::min(max_message_size_, partial_.body.capacity() * 8)));
  }
  partial_.body.insert(partial_.body.end(), payload.begin(), payload.end());
  if ((header.status & kStatusEndOfMessage) == 0) return std::nullopt;
  assembling_ = false;
  if (header.status & kStatusIgnore) {
    partial_.body.clear();
    return Message{partial_.type, {}, nullptr, true};
  }
  return std::move(partial_);
}

void WriteHeader(const PacketHeader& header, std::span<std::uint8_t, kHeaderSize> out) {
  out[0] = header.type;
  out[1] = header.status;
  out[2] = static_cast<std::uint8_t>(header.length >> 8);
  out[3] = static_cast<std::uint8_t>(header.length);
  out[4] = static_cast<std::uint8_t>(header.spid >> 8);
  out[5] = static_cast<std::uint8_t>(header.spid);
  out[6] = header.packet_id;
  out[7] = 0;
}

void AppendPackets(std::span<const std::uint8_t> body, std::size_t packet_size, std::uint16_t spid,
                   bool end_of_message, std::uint8_t* packet_id, std::vector<std::uint8_t>& out,
                   PacketType type) {
  const std::size_t chunk = packet_size - kHeaderSize;
  std::size_t offset = 0;
  do {
    std::size_t size = std::min(chunk, body.size() - offset);
    bool last = offset + size == body.size();
    PacketHeader header;
    header.type = static_cast<std::uint8_t>(type);
    header.status = last && end_of_message ? kStatusEndOfMessage : 0;
    header.length = static_cast<std::uint16_t>(size + kHeaderSize);
    header.spid = spid;
    header.packet_id = (*packet_id)++;
    out.resize(out.size() + kHeaderSize);
    WriteHeader(header, std::span<std::uint8_t, kHeaderSize>(out.data() + out.size() - kHeaderSize,
                                                             kHeaderSize));
    out.insert(out.end(), body.begin() + static_cast<std::ptrdiff_t>(offset),
               body.begin() + static_cast<std::ptrdiff_t>(offset + size));
    offset += size;
  } while (offset < body.size());
}

}  // namespace sqlengine::tds
