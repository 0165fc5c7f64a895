#pragma once
// The packets of a BULKLOAD message handed from the connection's reader
// thread to the request's executor while they arrive, so rows are inserted as
// the client sends them and a batch is not limited by the request size.
// The reader pushes each payload; the executor reads them as a
// tds::BodySource. Thread-safe: one pushing thread, one reading thread.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "engine/tds/bulk_load.h"

namespace sqlengine::server {

class BulkPacketStream final : public tds::BodySource {
 public:
  // At most `capacity` bytes wait for the executor; the reader is held
  // beyond that (the client then waits on TCP).
  explicit BulkPacketStream(std::size_t capacity) : capacity_(capacity) {}

  // Reader side. Adds one packet's payload, `last` for the EOM packet. Waits
  // while the buffer is full, until `stop` is raised. After SkipRest() the
  // payload is dropped.
  void Push(std::vector<std::uint8_t> payload, bool last, const std::atomic<bool>& stop);
  // The message will not be completed (the connection ended, or the client
  // abandoned it): once the executor has read what arrived, Append() throws
  // BulkLoadAbandoned.
  void Close();

  // Executor side.
  bool Append(std::vector<std::uint8_t>& body) override;
  // Drops what is buffered and what still comes, and returns once the
  // message has ended (its last packet arrived or Close()).
  void SkipRest() override;

 private:
  const std::size_t capacity_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::vector<std::uint8_t>> parts_;
  std::size_t buffered_ = 0;
  bool ended_ = false;     // the last packet arrived, or Close()
  bool abandoned_ = false;  // Close() before the last packet
  bool skipping_ = false;  // the executor wants no more
  bool reader_waits_ = false;    // Push() is held by a full buffer
  bool executor_waits_ = false;  // Append() waits for a packet
};

}  // namespace sqlengine::server
