#include "engine/server/response_writer.h"

#include <algorithm>

#include "engine/common/sink.h"
#include "engine/tds/packet.h"

namespace sqlengine::server {

void ResponseWriter::Send(std::size_t count, bool end_of_message) {
  if (client_gone_) throw ClientGone{};
  packets_.clear();
  auto& bytes = tokens_.Bytes();
  tds::AppendPackets(std::span<const std::uint8_t>(bytes.data(), count), packet_size_, spid_,
                     end_of_message, &packet_id_, packets_);
  bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(count));
  if (!channel_.WriteAll(packets_)) throw ClientGone{};
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
