#include "engine/exec/log_syncs.h"

namespace sqlengine::exec {

std::uint64_t LogSyncs::Committed(const std::string& file) {
  std::lock_guard lock(mutex_);
  return ++logs_[file].committed;
}

void LogSyncs::WaitDurable(const std::string& file, std::uint64_t ticket,
                           const std::function<void()>& sync) {
  std::unique_lock lock(mutex_);
  Log& log = logs_[file];
  while (log.durable < ticket) {
    if (log.syncing) {
      log.synced.wait(lock);
      continue;
    }
    // Every commit counted by now has written its frames, so this sync
    // covers them all.
    std::uint64_t target = log.committed;
    log.syncing = true;
    lock.unlock();
    try {
      sync();
    } catch (...) {
      lock.lock();
      log.syncing = false;
      log.synced.notify_all();
      throw;
    }
    lock.lock();
    log.syncing = false;
    if (target > log.durable) log.durable = target;
    log.synced.notify_all();
  }
}

}  // namespace sqlengine::exec
