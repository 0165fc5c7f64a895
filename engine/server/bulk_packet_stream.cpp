#include "engine/server/bulk_packet_stream.h"

#include <chrono>

namespace sqlengine::server {
namespace {

// How often a reader held by a full buffer looks at its stop flag.
constexpr std::chrono::milliseconds kStopPoll{100};

}  // namespace

void BulkPacketStream::Push(std::vector<std::uint8_t> payload, bool last,
                            const std::atomic<bool>& stop) {
  std::unique_lock lock(mutex_);
  if (!skipping_ && buffered_ >= capacity_ && !stop) {
    reader_waits_ = true;
    while (!skipping_ && buffered_ >= capacity_ && !stop) changed_.wait_for(lock, kStopPoll);
    reader_waits_ = false;
  }
  if (!skipping_ && !payload.empty()) {
    buffered_ += payload.size();
    parts_.push_back(std::move(payload));
  }
  if (last) ended_ = true;
  // Only a waiting executor needs waking; one that is inserting rows finds
  // the packet when it next asks.
  if (executor_waits_ || skipping_) changed_.notify_all();
}

void BulkPacketStream::Close() {
  std::lock_guard lock(mutex_);
  if (!ended_) abandoned_ = true;
  ended_ = true;
  changed_.notify_all();
}

bool BulkPacketStream::Append(std::vector<std::uint8_t>& body) {
  std::unique_lock lock(mutex_);
  if (parts_.empty() && !ended_) {
    executor_waits_ = true;
    changed_.wait(lock, [this] { return !parts_.empty() || ended_; });
    executor_waits_ = false;
  }
  if (parts_.empty()) {
    if (abandoned_) throw BulkLoadAbandoned{};
    return false;
  }
  // Everything that has arrived, so the executor comes back once per
  // backlog rather than once per packet.
  for (const std::vector<std::uint8_t>& part : parts_) body.insert(body.end(), part.begin(), part.end());
  parts_.clear();
  buffered_ = 0;
  if (reader_waits_) changed_.notify_all();
  return true;
}

void BulkPacketStream::SkipRest() {
  std::unique_lock lock(mutex_);
  skipping_ = true;
  parts_.clear();
  buffered_ = 0;
  changed_.notify_all();
  changed_.wait(lock, [this] { return ended_; });
}

}  // namespace sqlengine::server
