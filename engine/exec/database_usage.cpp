#include "engine/exec/database_usage.h"

#include "engine/tsql/token.h"

namespace sqlengine::exec {

std::string DatabaseUsage::Key(std::string_view name) { return tsql::ToLower(name); }

bool DatabaseUsage::Acquire(std::string_view name) {
  std::lock_guard lock(mutex_);
  std::string key = Key(name);
  if (exclusive_.count(key) != 0) return false;
  ++users_[key];
  return true;
}

void DatabaseUsage::Release(std::string_view name) {
  {
    std::lock_guard lock(mutex_);
    auto it = users_.find(Key(name));
    if (it != users_.end() && --it->second <= 0) users_.erase(it);
  }
  released_.notify_all();
}

bool DatabaseUsage::BeginExclusive(std::string_view name, int own_uses) {
  std::unique_lock lock(mutex_);
  std::string key = Key(name);
  auto free = [&] {
    auto it = users_.find(key);
    int users = it == users_.end() ? 0 : it->second;
    return users <= own_uses && exclusive_.count(key) == 0;
  };
  if (!released_.wait_for(lock, kEndingSessionGrace, free)) return false;
  exclusive_.insert(key);
  return true;
}

void DatabaseUsage::EndExclusive(std::string_view name) {
  {
    std::lock_guard lock(mutex_);
    exclusive_.erase(Key(name));
  }
  released_.notify_all();
}

int DatabaseUsage::Users(std::string_view name) {
  std::lock_guard lock(mutex_);
  auto it = users_.find(Key(name));
  return it == users_.end() ? 0 : it->second;
}

}  // namespace sqlengine::exec
