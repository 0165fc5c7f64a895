#include "engine/exec/session_registry.h"

#include "engine/tsql/token.h"

namespace sqlengine::exec {

void SessionRegistry::Enter(const SessionActivity& activity, SessionControl control) {
  std::lock_guard lock(mutex_);
  sessions_[activity.spid] = activity;
  controls_[activity.spid] = std::move(control);
}

void SessionRegistry::Leave(int spid) {
  {
    std::lock_guard lock(mutex_);
    sessions_.erase(spid);
    controls_.erase(spid);
  }
  left_.notify_all();
}

void SessionRegistry::SetDisconnect(int spid, std::function<void()> disconnect) {
  std::lock_guard lock(mutex_);
  if (sessions_.count(spid) != 0) controls_[spid].disconnect = std::move(disconnect);
}

void SessionRegistry::SetClientGone(int spid, std::function<bool()> client_gone) {
  std::lock_guard lock(mutex_);
  if (sessions_.count(spid) != 0) controls_[spid].client_gone = std::move(client_gone);
}

bool SessionRegistry::LoggedIn(std::string_view login, std::chrono::milliseconds patience) {
  std::unique_lock lock(mutex_);
  auto present = [&](bool count_gone) {
    for (const auto& [spid, activity] : sessions_) {
      if (!tsql::EqualsIgnoreCase(activity.login, login)) continue;
      if (count_gone) return true;
      auto control = controls_.find(spid);
      if (control == controls_.end() || !control->second.client_gone ||
          !control->second.client_gone())
        return true;
    }
    return false;
  };
  if (!present(true)) return false;
  if (present(false)) return true;
  left_.wait_for(lock, patience, [&] { return !present(true) || present(false); });
  return present(true);
}

void SessionRegistry::UseDatabase(int spid, const std::string& database) {
  std::lock_guard lock(mutex_);
  if (auto it = sessions_.find(spid); it != sessions_.end() && !it->second.evicted) {
    it->second.database = database;
  }
}

bool SessionRegistry::Started(int spid, const std::string& command) {
  std::lock_guard lock(mutex_);
  auto it = sessions_.find(spid);
  if (it == sessions_.end()) return true;
  if (it->second.evicted) return false;
  it->second.running = true;
  it->second.command = command;
  it->second.last_batch = std::chrono::system_clock::now();
  return true;
}

void SessionRegistry::Finished(int spid) {
  std::lock_guard lock(mutex_);
  auto it = sessions_.find(spid);
  if (it == sessions_.end()) return;
  it->second.running = false;
  it->second.command = "AWAITING COMMAND";
  if (it->second.evicted && controls_[spid].release_idle) controls_[spid].release_idle();
}

int SessionRegistry::OtherUsers(const std::string& database, int except_spid) {
  std::lock_guard lock(mutex_);
  int users = 0;
  for (const auto& [spid, activity] : sessions_) {
    if (spid != except_spid && !activity.evicted &&
        tsql::EqualsIgnoreCase(activity.database, database)) {
      ++users;
    }
  }
  return users;
}

int SessionRegistry::Evict(const std::string& database, int except_spid) {
  std::lock_guard lock(mutex_);
  int evicted = 0;
  for (auto& [spid, activity] : sessions_) {
    if (spid == except_spid || activity.evicted ||
        !tsql::EqualsIgnoreCase(activity.database, database)) {
      continue;
    }
    activity.evicted = true;
    activity.database.clear();
    ++evicted;
    SessionControl& control = controls_[spid];
    if (activity.running) {
      if (control.cancel) control.cancel();
    } else if (control.release_idle) {
      control.release_idle();
    }
  }
  return evicted;
}

bool SessionRegistry::Kill(int spid, std::chrono::milliseconds patience) {
  std::unique_lock lock(mutex_);
  auto found = sessions_.find(spid);
  if (found == sessions_.end()) return false;
  SessionActivity& activity = found->second;
  SessionControl& control = controls_[spid];
  if (!activity.evicted) {
    activity.evicted = true;
    activity.database.clear();
    if (activity.running) {
      if (control.cancel) control.cancel();
    } else if (control.release_idle) {
      control.release_idle();
    }
  }
  if (control.disconnect) control.disconnect();
  // A request that does not stop when cancelled leaves later, on its own.
  left_.wait_for(lock, patience, [&] { return sessions_.count(spid) == 0; });
  return true;
}

std::vector<SessionActivity> SessionRegistry::Snapshot() {
  std::lock_guard lock(mutex_);
  std::vector<SessionActivity> all;
  for (const auto& [spid, activity] : sessions_) all.push_back(activity);
  return all;
}

void SessionRegistry::PublishTempTables(int spid,
                                        std::map<std::string, std::string, std::less<>> rows) {
  std::lock_guard lock(mutex_);
  if (auto it = sessions_.find(spid); it != sessions_.end()) it->second.temp_rows = std::move(rows);
}

std::string SessionRegistry::TempRowsElsewhere(int except_spid, std::string_view view) {
  std::lock_guard lock(mutex_);
  std::string all = "[";
  for (const auto& [spid, activity] : sessions_) {
    if (spid == except_spid) continue;
    auto rows = activity.temp_rows.find(view);
    // Each is "[...]": its items join the others'.
    if (rows == activity.temp_rows.end() || rows->second.size() <= 2) continue;
    if (all.size() > 1) all += ",";
    all.append(rows->second, 1, rows->second.size() - 2);
  }
  return all + "]";
}

}  // namespace sqlengine::exec
