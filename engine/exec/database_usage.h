#pragma once
// Who uses which database: a session counts as a user of its current
// database and, while a batch runs, of every database the batch reaches.
// Dropping (and later detaching or restoring) needs the database to itself.
// Thread-safe.

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>

namespace sqlengine::exec {

class DatabaseUsage {
 public:
  // One more user; false while the database is reserved for removal.
  bool Acquire(std::string_view name);
  void Release(std::string_view name);
  // Reserves the database when nobody but the caller's own `own_uses` uses
  // it; new Acquire calls fail until EndExclusive. A session whose client has
  // just disconnected may still be ending: other users are waited for up to
  // kEndingSessionGrace before the answer is false.
  bool BeginExclusive(std::string_view name, int own_uses);
  static constexpr std::chrono::milliseconds kEndingSessionGrace{2000};
  void EndExclusive(std::string_view name);
  int Users(std::string_view name);

 private:
  static std::string Key(std::string_view name);
  std::mutex mutex_;
  std::condition_variable released_;
  std::map<std::string, int> users_;
  std::set<std::string> exclusive_;
};

}  // namespace sqlengine::exec
