#include "engine/exec/session_registry.h"

namespace sqlengine::exec {

void SessionRegistry::Enter(const SessionActivity& activity) {
  std::lock_guard lock(mutex_);
  sessions_[activity.spid] = activity;
}

void SessionRegistry::Leave(int spid) {
  std::lock_guard lock(mutex_);
  sessions_.erase(spid);
}

void SessionRegistry::UseDatabase(int spid, const std::string& database) {
  std::lock_guard lock(mutex_);
  if (auto it = sessions_.find(spid); it != sessions_.end()) it->second.database = database;
}

void SessionRegistry::Started(int spid, const std::string& command) {
  std::lock_guard lock(mutex_);
  auto it = sessions_.find(spid);
  if (it == sessions_.end()) return;
  it->second.running = true;
  it->second.command = command;
  it->second.last_batch = std::chrono::system_clock::now();
}

void SessionRegistry::Finished(int spid) {
  std::lock_guard lock(mutex_);
  auto it = sessions_.find(spid);
  if (it == sessions_.end()) return;
  it->second.running = false;
  it->second.command = "AWAITING COMMAND";
}

std::vector<SessionActivity> SessionRegistry::Snapshot() {
  std::lock_guard lock(mutex_);
  std::vector<SessionActivity> all;
  for (const auto& [spid, activity] : sessions_) all.push_back(activity);
  return all;
}

}  // namespace sqlengine::exec
