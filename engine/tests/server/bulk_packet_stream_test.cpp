// The hand-over of a bulk load's packets from the reader thread to the
// executor: nothing lost, reordered or left waiting, whichever side is ahead.
#include "engine/server/bulk_packet_stream.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "engine/common/bulk_load_abandoned.h"

namespace sqlengine::server {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(BulkPacketStream, PacketsArriveInOrderWhicheverSideIsAhead) {
  std::atomic<bool> stop{false};
  // Reader ahead: what arrived meanwhile comes in one hand-over, in order.
  BulkPacketStream ahead(1 << 20);
  ahead.Push({1, 2}, false, stop);
  ahead.Push({3}, false, stop);
  ahead.Push({4}, true, stop);
  Bytes body;
  EXPECT_TRUE(ahead.Append(body));
  EXPECT_EQ(body, (Bytes{1, 2, 3, 4}));
  EXPECT_FALSE(ahead.Append(body));

  // Executor ahead, and a buffer of two bytes that holds the reader back:
  // both sides wait for each other in turn and every byte comes through.
  BulkPacketStream small(2);
  constexpr int kPackets = 2000;
  std::thread reader([&] {
    for (int i = 0; i < kPackets; ++i)
      small.Push(Bytes{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8)},
                 i + 1 == kPackets, stop);
  });
  Bytes all;
  while (small.Append(all)) {
  }
  reader.join();
  ASSERT_EQ(all.size(), 2u * kPackets);
  for (int i = 0; i < kPackets; ++i) {
    ASSERT_EQ(all[2 * i], static_cast<std::uint8_t>(i)) << i;
    ASSERT_EQ(all[2 * i + 1], static_cast<std::uint8_t>(i >> 8)) << i;
  }
}

TEST(BulkPacketStream, AMessageGivenUpEndsTheExecutorsWaitAndFreesTheReader) {
  std::atomic<bool> stop{false};
  // Closed while the executor waits: what arrived is read, then abandoned.
  BulkPacketStream closed(1 << 20);
  closed.Push({7}, false, stop);
  Bytes body;
  EXPECT_TRUE(closed.Append(body));
  std::thread closer([&] { closed.Close(); });
  EXPECT_THROW(closed.Append(body), BulkLoadAbandoned);
  closer.join();

  // The executor stops reading while the reader is held by a full buffer:
  // SkipRest lets the reader go on and returns once the last packet is in.
  BulkPacketStream skipped(1);
  skipped.Push({1}, false, stop);
  std::thread reader([&] {
    skipped.Push({2}, false, stop);
    skipped.Push({3}, true, stop);
  });
  skipped.SkipRest();
  reader.join();
  EXPECT_FALSE(skipped.Append(body));
}

}  // namespace
}  // namespace sqlengine::server
