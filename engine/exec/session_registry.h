#pragma once
// The sessions of an engine as sp_who, sp_who2 and sp_lock report them: who
// is logged in from where, in which database, and whether a request runs.
// Sessions enter it when they log in and leave when they end. Thread-safe.

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace sqlengine::exec {

struct SessionActivity {
  int spid = 0;
  std::string login;
  std::string host;
  std::string program;
  std::string database;
  bool running = false;  // a request is being served
  std::string command;   // "AWAITING COMMAND" between requests
  std::chrono::system_clock::time_point login_time;
  std::chrono::system_clock::time_point last_batch;
};

class SessionRegistry {
 public:
  void Enter(const SessionActivity& activity);
  void Leave(int spid);
  void UseDatabase(int spid, const std::string& database);
  // A request starts (`command` names it: "SELECT", "EXECUTE" ...) or ends.
  void Started(int spid, const std::string& command);
  void Finished(int spid);

  // Every session, ordered by spid.
  std::vector<SessionActivity> Snapshot();

 private:
  std::mutex mutex_;
  std::map<int, SessionActivity> sessions_;
};

}  // namespace sqlengine::exec
