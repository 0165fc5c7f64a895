#pragma once
// A stretch of work that may run in another database than the session's
// current one: a procedure called as db..p, or dynamic SQL holding USE.
// When the stretch ends the session's database is made current again, and
// the client hears of it (ENVCHANGE, no 5701) only when it was told of the
// change, that is when a USE inside the stretch announced it.
// Inside a transaction the session's connection stays: the other database is
// attached to it, so its work joins the transaction, and names written
// without a database reach it for the stretch (as in a trigger of a table
// there).

#include <optional>
#include <string>
#include <string_view>

#include "engine/common/sink.h"
#include "engine/exec/session_connection.h"

namespace sqlengine::exec {

class Session;

class DatabaseContext {
 public:
  DatabaseContext(Session& session, ResultSink& sink);
  ~DatabaseContext();
  DatabaseContext(const DatabaseContext&) = delete;
  DatabaseContext& operator=(const DatabaseContext&) = delete;

  // Makes `database` current without telling the client. Throws SqlError
  // 911 (unknown), 916 (the login is no user there). The session's #temp
  // tables go along. Inside a transaction, for a `system_procedure` (which
  // works on the session's own database) of another database 226, as a USE
  // there. True when `database` is current afterwards.
  bool Enter(std::string_view database, bool system_procedure = false);
  // Makes the session's database current again. Throws SqlError when that
  // fails; the destructor does the same but only logs a failure.
  void Leave();

 private:
  Session& session_;
  ResultSink& sink_;
  std::string original_;
  std::string entered_;  // the database Enter made current, announced to nobody
  bool left_ = false;
  std::optional<SessionConnection::UnqualifiedNamesIn> names_in_;  // inside a transaction
};

}  // namespace sqlengine::exec
