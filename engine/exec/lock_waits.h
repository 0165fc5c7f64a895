#pragma once
// The engine-wide picture of database write locks held inside explicit
// transactions and of sessions waiting for one, kept to find deadlocks: a
// chain of sessions, each waiting for a lock the next one holds, that leads
// back to the first. Sessions are named by their spid, databases by their
// data file. Thread-safe.

#include <map>
#include <mutex>
#include <string>

namespace sqlengine::exec {

class LockWaits {
 public:
  // `session` holds the write lock of `file` until Release(session).
  void Hold(int session, const std::string& file);
  // Forgets every lock `session` holds and its wait (its transaction ended).
  void Release(int session);

  // Records that `session` waits for the write lock of `file`; call it again
  // on every retry. Returns true when the wait closes a cycle: `session` is
  // then the deadlock victim, its wait is forgotten at once (so the other
  // sessions of the cycle no longer see one) and it must give up its locks.
  bool Wait(int session, const std::string& file);
  void StopWaiting(int session);

 private:
  std::mutex mutex_;
  std::map<std::string, int> holders_;  // data file -> session
  std::map<int, std::string> waits_;    // session -> data file it waits for
};

}  // namespace sqlengine::exec
