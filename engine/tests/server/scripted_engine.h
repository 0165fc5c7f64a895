#pragma once
// A test-only Engine whose sessions follow a tiny script language instead of
// T-SQL, so the wire layer can be tested on its own: each ';'-separated
// command of a batch does one thing the executor can do.
//   rows N        result (n int, s nvarchar(20)) with N rows, Done(count N)
//   wide N        result with N rows of a 2000-character nvarchar
//   print TEXT    INFO number 0
//   error N       the message N from the table, Done(error)
//   rows_print    a row, an INFO, another row, then Done
//   echo TEXT     one row holding TEXT as nvarchar(max)
//   misfit VALUE  result (n int): 1, then VALUE (text, or a number when all
//                 digits), which an int may not hold
//   wait          runs until Cancel() (at most 20 s), then Done
//   use DB        ENVCHANGE database and INFO 5701
// ExecuteRpc returns one row of its parameters, each output parameter as a
// RETURNVALUE, and the parameter count as return status. Transaction()
// reports a begin/commit ENVCHANGE with descriptor 0x1122334455667788.
// BulkLoad() returns the rows it read as one result under the columns the
// client described, then Done(count); a stream it cannot read, its error.
// Logins: "sa" with an empty password succeeds; others get 18456;
// integrated ones 18452.

#include <atomic>
#include <memory>

#include "engine/common/engine_api.h"

namespace sqlengine::testing {

class ScriptedEngine : public Engine {
 public:
  LoginResult Login(const LoginRequest& request) override;
  bool SysadminHasEmptyPassword() override { return true; }
  void SetListensBeyondLoopback(bool) override {}
  std::filesystem::path Home() const override { return "/nonexistent"; }
  // Sessions that are still open (created and not yet destroyed).
  int OpenSessions() const { return open_sessions_; }
  // Requests that ended because Cancel() was called.
  int CancelledRequests() const { return cancelled_; }
  // `wait` commands currently running.
  int Waiting() const { return waiting_; }

 private:
  friend class ScriptedSession;
  std::atomic<int> open_sessions_{0};
  std::atomic<int> cancelled_{0};
  std::atomic<int> waiting_{0};
  std::atomic<int> next_spid_{51};
};

}  // namespace sqlengine::testing
