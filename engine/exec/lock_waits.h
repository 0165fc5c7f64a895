#pragma once
// The engine's queue in front of each database file's write lock. Sessions
// of this process take a file's gate before they write it and keep it to the
// end of their statement (autocommit) or transaction, so writers get the
// SQLite write lock in arrival order instead of racing for it with retries,
// and the engine knows who holds and who waits for which file: a wait that
// closes a cycle of sessions, each waiting for a file the next one holds,
// makes its session the deadlock victim. Sessions are named by their spid,
// files by their path. Thread-safe.

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace sqlengine::exec {

class LockWaits {
 public:
  enum class Outcome { kHeld, kTimedOut, kVictim, kCancelled };

  // Waits until `session` holds the gate of `file` (at once when it holds it
  // already), at most `timeout_ms` (-1: no limit, 0: no wait), ending early
  // when `cancelled` becomes true or the wait closes a cycle (kVictim: the
  // caller must give up every gate it holds by ending its transaction).
  Outcome Acquire(int session, const std::string& file, int timeout_ms,
                  const std::atomic<bool>& cancelled);
  // Opens every gate `session` holds (its statement or transaction ended).
  void Release(int session);

  // Who holds each gate and who waits for it, in line order (sp_who, sp_lock).
  struct GateState {
    std::string file;
    int holder = 0;
    std::vector<int> waiting;
  };
  std::vector<GateState> Snapshot();
  // The session holding the gate of `file`; 0 when it is open.
  int Holder(const std::string& file);

 private:
  // One waiting session; woken alone when the gate passes to it.
  struct Waiter {
    int session;
    std::condition_variable turn;
  };
  struct Gate {
    int holder = 0;  // 0: open
    std::deque<Waiter*> queue;
  };
  bool ClosesCycle(int session, const std::string& file) const;
  // Gives the gate to the first in line, or opens it.
  void PassOn(Gate& gate);

  std::mutex mutex_;
  std::map<std::string, Gate> gates_;
  std::map<int, std::string> waits_;  // session -> file it waits for
};

}  // namespace sqlengine::exec
