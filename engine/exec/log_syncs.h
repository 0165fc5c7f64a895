#pragma once
// Group commit for the data files' write-ahead logs. Session connections
// commit without syncing the log (SQLite's synchronous=NORMAL: the frames are
// written to the file, not yet forced to disk); before a client hears of a
// commit, its session waits here until the log is synced past it. The first
// waiter syncs for every commit made before it started, the others wait for
// that sync or the next, so one fdatasync covers a group of commits and no
// writer syncs while other writers queue for the database's write lock.
// Files are named by their path. Thread-safe.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace sqlengine::exec {

class LogSyncs {
 public:
  // Call when a commit to `file` has written its log frames; returns the
  // commit's place in that log's order.
  std::uint64_t Committed(const std::string& file);

  // Returns once `file`'s log is synced past commit `ticket`. When no sync
  // of the file is under way, runs `sync` (which must force the log to disk)
  // on this thread, outside the lock, for every commit counted so far; a
  // sync that throws leaves the commits pending for the next waiter and the
  // exception propagates.
  void WaitDurable(const std::string& file, std::uint64_t ticket,
                   const std::function<void()>& sync);

 private:
  struct Log {
    std::uint64_t committed = 0;
    std::uint64_t durable = 0;
    bool syncing = false;
    std::condition_variable synced;
  };

  std::mutex mutex_;
  std::map<std::string, Log> logs_;  // node-based: a Log stays put while waited on
};

}  // namespace sqlengine::exec
