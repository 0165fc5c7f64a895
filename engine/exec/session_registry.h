#pragma once
// The sessions of an engine as sp_who, sp_who2 and sp_lock report them: who
// is logged in from where, in which database, and whether a request runs.
// Sessions enter it when they log in and leave when they end. Thread-safe.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
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
  // Ended by ALTER DATABASE ... WITH ROLLBACK: no longer a user of its
  // database; its next request ends the connection.
  bool evicted = false;
  // Its #temp tables as they stood when its last request ended: for each
  // catalog view of tempdb that shows other sessions' tables (a key of
  // kViewsShownElsewhere), its rows as a JSON array of arrays.
  std::map<std::string, std::string, std::less<>> temp_rows;
};

// How another session ends a session that must leave its database. Both
// run with the registry locked, so `release_idle` never overlaps a request
// of its session (requests start through Started).
struct SessionControl {
  std::function<void()> cancel;        // asks a running request to stop; thread-safe
  std::function<void()> release_idle;  // lets go of the database of a session between requests
  std::function<void()> disconnect;    // closes its client connection; thread-safe
  std::function<bool()> client_gone;   // whether the client closed its end; thread-safe
};

class SessionRegistry {
 public:
  void Enter(const SessionActivity& activity, SessionControl control = {});
  void Leave(int spid);
  // How KILL closes the client connection of `spid` (SessionControl::disconnect).
  void SetDisconnect(int spid, std::function<void()> disconnect);
  void SetClientGone(int spid, std::function<bool()> client_gone);
  void UseDatabase(int spid, const std::string& database);
  // A request starts (`command` names it: "SELECT", "EXECUTE" ...) or ends.
  // False when the session was evicted: it must end its connection.
  bool Started(int spid, const std::string& command);
  // A running evicted session lets go of its database here (on its own thread).
  void Finished(int spid);

  // Sessions other than `except_spid` whose current database is `database`.
  int OtherUsers(const std::string& database, int except_spid);
  // Ends the other users of `database`: a running request is cancelled and
  // lets go of the database when it returns, an idle session at once; either
  // way the session counts as no user from now on. Returns how many.
  int Evict(const std::string& database, int except_spid);

  // KILL: ends session `spid` as Evict does (a running request cancelled,
  // an idle session's database let go of at once, its open transaction
  // rolled back) and closes its client connection, then waits (at most
  // `patience`) for the session to leave, so that what runs next no longer
  // sees it. False when no such session is logged in.
  bool Kill(int spid, std::chrono::milliseconds patience = std::chrono::seconds(10));

  // Whether a session of login `login` (any case) is logged in. One whose
  // client has closed the connection is waited for (at most `patience`) to
  // leave: a client's disconnect is over for whatever it does next.
  bool LoggedIn(std::string_view login,
                std::chrono::milliseconds patience = std::chrono::seconds(10));

  // Every session, ordered by spid.
  std::vector<SessionActivity> Snapshot();

  // The engine's count of the temporary tables made since it started: the
  // number of a new one (temporary_tables.h).
  std::uint64_t NextTempTable() { return ++temp_tables_made_; }
  // Session `spid`'s temporary tables now, for other sessions' catalogs
  // (SessionActivity::temp_rows).
  void PublishTempTables(int spid, std::map<std::string, std::string, std::less<>> rows);
  // The rows of catalog view `view` of every session's temporary tables but
  // `except_spid`'s: one JSON array.
  std::string TempRowsElsewhere(int except_spid, std::string_view view);

 private:
  std::mutex mutex_;
  std::condition_variable left_;  // a session left
  std::map<int, SessionActivity> sessions_;
  std::map<int, SessionControl> controls_;
  std::atomic<std::uint64_t> temp_tables_made_{0};
};

}  // namespace sqlengine::exec
