#include "engine/server/response_writer.h"

#include <algorithm>

#include "engine/common/sink.h"
#include "engine/tds/packet.h"

namespace sqlengine::server {

void ResponseWriter::Send(std::size_t count, bool end_of_message) {
  if (client_gone_) throw ClientGone{};
  // Each packet is its header followed by a slice of the token bytes, sent
  // straight from the token buffer.
  auto& bytes = tokens_.Bytes();
  const std::size_t chunk = packet_size_ - tds::kHeaderSize;
  const std::size_t packets = std::max<std::size_t>(1, (count + chunk - 1) / chunk);
  headers_.resize(packets * tds::kHeaderSize);
  pieces_.clear();
  for (std::size_t p = 0, offset = 0; p < packets; ++p, offset += chunk) {
    const std::size_t size = std::min(chunk, count - offset);
    tds::PacketHeader header;
    header.type = static_cast<std::uint8_t>(tds::PacketType::kTabularResult);
    header.status = p + 1 == packets && end_of_message ? tds::kStatusEndOfMessage : 0;
    header.length = static_cast<std::uint16_t>(size + tds::kHeaderSize);
    header.spid = spid_;
    header.packet_id = packet_id_++;
    std::uint8_t* at = headers_.data() + p * tds::kHeaderSize;
    tds::WriteHeader(header, std::span<std::uint8_t, tds::kHeaderSize>(at, tds::kHeaderSize));
    pieces_.push_back({at, tds::kHeaderSize});
    if (size > 0) pieces_.push_back({bytes.data() + offset, size});
  }
  if (!channel_.WriteAll(std::span<iovec>(pieces_))) throw ClientGone{};
  bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(count));
}

void ResponseWriter::TokenWritten() {
  const std::size_t chunk = packet_size_ - tds::kHeaderSize;
  // Keep at least one byte back so the EOM packet is never empty.
  if (tokens_.Size() <= std::max(chunk, kSendBatchBytes)) return;
  Send((tokens_.Size() - 1) / chunk * chunk, false);
}

void ResponseWriter::Finish() {
  Send(tokens_.Size(), true);
  packet_id_ = 1;
}

}  // namespace sqlengine::server
