#include "engine/exec/global_temp_tables.h"

#include "engine/tsql/token.h"

namespace sqlengine::exec {

void GlobalTempTables::Made(const std::string& name, int spid) {
  std::lock_guard lock(mutex_);
  makers_[tsql::ToLower(name)] = {name, spid};
}

std::vector<std::string> GlobalTempTables::TakeMadeBy(int spid) {
  std::lock_guard lock(mutex_);
  std::vector<std::string> names;
  for (auto it = makers_.begin(); it != makers_.end();) {
    if (it->second.second != spid) {
      ++it;
      continue;
    }
    names.push_back(it->second.first);
    it = makers_.erase(it);
  }
  return names;
}

}  // namespace sqlengine::exec
