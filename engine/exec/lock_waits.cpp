#include "engine/exec/lock_waits.h"

namespace sqlengine::exec {

void LockWaits::Hold(int session, const std::string& file) {
  std::lock_guard lock(mutex_);
  holders_[file] = session;
  waits_.erase(session);
}

void LockWaits::Release(int session) {
  std::lock_guard lock(mutex_);
  std::erase_if(holders_, [&](const auto& held) { return held.second == session; });
  waits_.erase(session);
}

bool LockWaits::Wait(int session, const std::string& file) {
  std::lock_guard lock(mutex_);
  waits_[session] = file;
  // Each session waits for one file and each file has one holder, so the
  // chain from `file` is a path; it is a cycle when it comes back here.
  std::string next = file;
  for (size_t step = 0; step <= waits_.size(); ++step) {
    auto holder = holders_.find(next);
    if (holder == holders_.end()) return false;
    if (holder->second == session) {
      waits_.erase(session);
      return true;
    }
    auto wait = waits_.find(holder->second);
    if (wait == waits_.end()) return false;
    next = wait->second;
  }
  return false;
}

void LockWaits::StopWaiting(int session) {
  std::lock_guard lock(mutex_);
  waits_.erase(session);
}

}  // namespace sqlengine::exec
