#include "engine/exec/process_control.h"

#include <cerrno>
#include <cstdlib>
#include <string>

#include "engine/common/error.h"
#include "engine/exec/engine_impl.h"
#include "engine/exec/session.h"
#include "engine/tsql/syntax_error.h"

namespace sqlengine::exec {
namespace {

using tsql::Tokens;

// Whether the session's login is in `role` or is a sysadmin.
bool HoldsServerRole(Session& session, std::string_view role) {
  return session.IsSysadmin() || session.ServerRoleMember(role, std::nullopt).value_or(0) == 1;
}

// Whether tokens[at...] is WITH <word> and nothing after.
bool IsWithWord(const Tokens& tokens, size_t at, std::string_view word) {
  return tokens.size() == at + 2 && tokens[at].IsWord("with") && tokens[at + 1].IsWord(word);
}

}  // namespace

void ExecuteKill(Session& session, const tsql::Statement& statement, ResultSink& sink) {
  const Tokens& tokens = statement.tokens;
  if (tokens.size() < 2 || tokens[1].kind != tsql::TokenKind::kNumber)
    tsql::SyntaxErrorAt(tokens, 1);
  const bool status_only = IsWithWord(tokens, 2, "statusonly");
  if (tokens.size() > 2 && !status_only)
    tsql::SyntaxErrorAt(tokens, tokens[2].IsWord("with") ? 3 : 2);
  errno = 0;
  char* end = nullptr;
  const long long spid = std::strtoll(tokens[1].text.c_str(), &end, 10);
  if (end == nullptr || *end != '\0' || errno != 0 || spid < 0 || spid > 32767)
    tsql::SyntaxErrorAt(tokens, 1);
  if (!HoldsServerRole(session, "processadmin")) throw MakeError(6102);
  if (spid == session.Spid()) throw MakeError(6104);
  auto& registry = session.Engine().Sessions();
  const std::string number = std::to_string(spid);
  if (status_only) {
    bool active = false;
    for (const SessionActivity& activity : registry.Snapshot()) active |= activity.spid == spid;
    if (!active) throw MakeError(6106, {number});
    throw MakeError(6120, {number});
  }
  if (!registry.Kill(static_cast<int>(spid))) throw MakeError(6106, {number});
  session.Engine().EngineLog().Info("session " + number + " killed by session " +
                                    std::to_string(session.Spid()) + " (login '" +
                                    session.Login().name + "')");
  sink.Done({});
}

void ExecuteShutdown(Session& session, const tsql::Statement& statement, ResultSink& sink) {
  const Tokens& tokens = statement.tokens;
  if (tokens.size() > 1 && !IsWithWord(tokens, 1, "nowait"))
    tsql::SyntaxErrorAt(tokens, tokens[1].IsWord("with") ? 2 : 1);
  if (!HoldsServerRole(session, "serveradmin")) throw MakeError(6004);
  session.Engine().EngineLog().Info("SHUTDOWN by login '" + session.Login().name + "' (session " +
                                    std::to_string(session.Spid()) + ")");
  // The engine stops as `sqlengine stop` stops it: sessions are closed and
  // waited for, open transactions roll back, committed work is in the files.
  // Without NOWAIT SQL Server checkpoints first; here every commit is
  // already durable, so both forms stop the same way.
  if (!session.Engine().RequestShutdown())
    throw MakeError(50000, {"SHUTDOWN is not available: the engine runs without its service."});
  sink.Done({});
}

}  // namespace sqlengine::exec
