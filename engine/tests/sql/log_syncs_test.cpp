// Group commit: a session waiting for its commit to reach the disk is woken
// by the sync that covers it, syncs itself when none does, and never hangs
// when a sync fails. Every wait runs on its own thread and is given a
// deadline, so a missed wake-up fails the test instead of hanging it.
#include "engine/exec/log_syncs.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <stdexcept>

namespace sqlengine::exec {
namespace {

using namespace std::chrono_literals;

// A sync that blocks until released, counting its calls.
class HeldSync {
 public:
  void operator()() {
    ++calls_;
    started_.set_value();
    release_.get_future().wait();
  }
  void WaitStarted() { ASSERT_EQ(started_.get_future().wait_for(10s), std::future_status::ready); }
  void Release() { release_.set_value(); }
  int Calls() const { return calls_.load(); }

 private:
  std::atomic<int> calls_{0};
  std::promise<void> started_;
  std::promise<void> release_;
};

bool Finishes(std::future<void>& wait) { return wait.wait_for(10s) == std::future_status::ready; }

TEST(LogSyncs, OneSyncCoversEveryCommitBeforeItAndLaterCommitsSyncAgain) {
  LogSyncs logs;
  std::uint64_t first = logs.Committed("a.mdf");
  std::uint64_t second = logs.Committed("a.mdf");
  HeldSync leader;
  auto leading =
      std::async(std::launch::async, [&] { logs.WaitDurable("a.mdf", first, [&] { leader(); }); });
  leader.WaitStarted();

  // Counted before the sync began: covered by it, so it waits and never syncs.
  std::atomic<int> covered_syncs{0};
  auto covered = std::async(std::launch::async,
                            [&] { logs.WaitDurable("a.mdf", second, [&] { ++covered_syncs; }); });
  // Counted after the sync began: needs a sync of its own.
  std::uint64_t third = logs.Committed("a.mdf");
  std::atomic<int> late_syncs{0};
  auto late = std::async(std::launch::async,
                         [&] { logs.WaitDurable("a.mdf", third, [&] { ++late_syncs; }); });
  EXPECT_EQ(covered.wait_for(50ms), std::future_status::timeout)
      << "returned before the sync that covers it ended";

  leader.Release();
  ASSERT_TRUE(Finishes(leading));
  ASSERT_TRUE(Finishes(covered)) << "not woken when the covering sync ended";
  ASSERT_TRUE(Finishes(late)) << "not woken to sync for itself";
  EXPECT_EQ(leader.Calls(), 1);
  EXPECT_EQ(covered_syncs.load(), 0);
  EXPECT_EQ(late_syncs.load(), 1);

  // Durable already: no further sync.
  int again = 0;
  logs.WaitDurable("a.mdf", second, [&] { ++again; });
  logs.WaitDurable("a.mdf", third, [&] { ++again; });
  EXPECT_EQ(again, 0);
}

TEST(LogSyncs, AFailedSyncReachesItsCallerAndTheNextWaiterSyncsItself) {
  LogSyncs logs;
  std::uint64_t first = logs.Committed("a.mdf");
  std::uint64_t second = logs.Committed("a.mdf");
  std::promise<void> started, fail;
  auto failing = std::async(std::launch::async, [&] {
    logs.WaitDurable("a.mdf", first, [&] {
      started.set_value();
      fail.get_future().wait();
      throw std::runtime_error("disk gone");
    });
  });
  ASSERT_EQ(started.get_future().wait_for(10s), std::future_status::ready);
  std::atomic<int> retries{0};
  auto waiting = std::async(std::launch::async,
                            [&] { logs.WaitDurable("a.mdf", second, [&] { ++retries; }); });
  fail.set_value();
  ASSERT_TRUE(Finishes(failing));
  EXPECT_THROW(failing.get(), std::runtime_error);
  ASSERT_TRUE(Finishes(waiting)) << "a waiter was left behind by the failed sync";
  EXPECT_EQ(retries.load(), 1);
  // The failed caller's commit is durable now too.
  int again = 0;
  logs.WaitDurable("a.mdf", first, [&] { ++again; });
  EXPECT_EQ(again, 0);
}

TEST(LogSyncs, FilesAreSyncedApart) {
  LogSyncs logs;
  std::uint64_t a = logs.Committed("a.mdf");
  std::uint64_t b = logs.Committed("b.mdf");
  HeldSync held;
  auto on_a =
      std::async(std::launch::async, [&] { logs.WaitDurable("a.mdf", a, [&] { held(); }); });
  held.WaitStarted();
  // A sync of a.mdf under way neither covers nor delays b.mdf.
  int b_syncs = 0;
  logs.WaitDurable("b.mdf", b, [&] { ++b_syncs; });
  EXPECT_EQ(b_syncs, 1);
  held.Release();
  ASSERT_TRUE(Finishes(on_a));
}

}  // namespace
}  // namespace sqlengine::exec
