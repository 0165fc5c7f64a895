#include "engine/exec/database_access.h"

#include <sqlite3.h>

#include <chrono>
#include <optional>

#include "engine/common/error.h"
#include "engine/exec/database_options.h"
#include "engine/exec/engine_impl.h"
#include "engine/exec/session.h"
#include "engine/exec/sqlite_errors.h"
#include "engine/tsql/token.h"

namespace sqlengine::exec {
namespace {

bool OptionOn(EngineImpl& engine, std::string_view database, const std::string& option) {
  std::map<std::string, bool> values = DatabaseOptionValues(engine, database);
  auto it = values.find(option);
  return it != values.end() && it->second;
}

// How often a waiting ALTER DATABASE looks again whether the others have left.
constexpr std::chrono::milliseconds kUsersPoll{20};

// Waits until no session but `session` uses `database`, the deadline passes
// (false) or the session is cancelled (throws Cancelled).
bool WaitForOthers(Session& session, const std::string& database,
                   std::optional<std::chrono::steady_clock::time_point> deadline) {
  SessionRegistry& sessions = session.Engine().Sessions();
  while (sessions.OtherUsers(database, session.Spid()) > 0) {
    auto now = std::chrono::steady_clock::now();
    if (deadline && now >= *deadline) return false;
    auto next = now + kUsersPoll;
    if (deadline && *deadline < next) next = *deadline;
    if (session.WaitCancelled(next)) throw Cancelled{};
  }
  return true;
}

void FailAlter(ResultSink& sink, int number, const std::string& database, int line) {
  ServerMessage first = FormatMessage(number, {database});
  first.line = line;
  sink.Message(first);
  SqlError failed = MakeError(5069);
  failed.message().line = line;
  throw failed;
}

}  // namespace

bool IsReadOnlyDatabase(EngineImpl& engine, std::string_view database) {
  return OptionOn(engine, database, "read only");
}

std::string FileUri(const std::string& file) {
  std::string uri = "file:";
  for (char c : file) {
    if (c == '%' || c == '?' || c == '#') {
      static constexpr char kHex[] = "0123456789ABCDEF";
      auto byte = static_cast<unsigned char>(c);
      uri += '%';
      uri += kHex[byte >> 4];
      uri += kHex[byte & 0xF];
    } else {
      uri += c;
    }
  }
  return uri;
}

std::string ReadOnlyUri(const std::string& file) { return FileUri(file) + "?mode=ro"; }

void CheckDatabaseState(EngineImpl& engine, const catalog::DatabaseEntry& entry, int spid) {
  std::map<std::string, bool> values = DatabaseOptionValues(engine, entry.name);
  if (values["offline"]) throw MakeError(942, {entry.name});
  if (values["single user"] && engine.Sessions().OtherUsers(entry.name, spid) > 0) {
    throw MakeError(924, {entry.name});
  }
}

void CheckDatabaseEntry(Session& session, const catalog::DatabaseEntry& entry) {
  EngineImpl& engine = session.Engine();
  CheckDatabaseState(engine, entry, session.Spid());
  if (!OptionOn(engine, entry.name, "dbo use only")) return;
  if (session.Rights().OwnsDatabase(entry)) return;
  std::optional<int> creator = session.ServerRoleMember("dbcreator", std::nullopt);
  if (creator && *creator == 1) return;
  throw MakeError(923, {entry.name});
}

void ClearOtherUsers(Session& session, ResultSink& sink, const std::string& database,
                     Termination termination, int line) {
  SessionRegistry& sessions = session.Engine().Sessions();
  auto now = std::chrono::steady_clock::now();
  switch (termination.kind) {
    case Termination::Kind::kNoWait:
      if (sessions.OtherUsers(database, session.Spid()) > 0) FailAlter(sink, 5070, database, line);
      return;
    case Termination::Kind::kWait: {
      int timeout_ms = session.Connection().LockTimeout();
      std::optional<std::chrono::steady_clock::time_point> deadline;
      if (timeout_ms >= 0) deadline = now + std::chrono::milliseconds(timeout_ms);
      if (!WaitForOthers(session, database, deadline)) FailAlter(sink, 5061, database, line);
      return;
    }
    case Termination::Kind::kRollbackAfter:
      if (WaitForOthers(session, database, now + std::chrono::seconds(termination.seconds))) return;
      break;
    case Termination::Kind::kRollbackImmediate:
      break;
  }
  sessions.Evict(database, session.Spid());
}

void RequireWritable(Session& session) {
  sqlite3* db = session.Connection().Handle();
  if (db != nullptr && sqlite3_db_readonly(db, "main") == 1) {
    throw MakeError(3906, {session.Connection().Database()});
  }
}

void ReopenAfterStateChange(Session& session, const catalog::DatabaseEntry& entry) {
  if (!tsql::EqualsIgnoreCase(session.Connection().Database(), entry.name)) return;
  session.Connection().Open(entry);
}

}  // namespace sqlengine::exec
