#include "engine/exec/database_context.h"

#include "engine/catalog/sqlite_handle.h"
#include "engine/common/error.h"
#include "engine/exec/engine_impl.h"
#include "engine/exec/session.h"
#include "engine/tsql/token.h"

namespace sqlengine::exec {

DatabaseContext::DatabaseContext(Session& session, ResultSink& sink)
    : session_(session), sink_(sink), original_(session.CurrentDatabase()), entered_(original_) {
  // A USE inside the stretch ends with it.
  names_in_.emplace(session.Connection(), session.Connection().UnqualifiedSchema());
  ++session_.DatabaseStretches();
}

DatabaseContext::~DatabaseContext() {
  --session_.DatabaseStretches();
  if (left_) return;
  try {
    Leave();
  } catch (const std::exception& failure) {
    session_.Engine().EngineLog().Error(std::string("could not return to database ") + original_ +
                                        ": " + failure.what());
  }
}

bool DatabaseContext::Enter(std::string_view database, bool system_procedure) {
  SessionConnection& connection = session_.Connection();
  if (session_.TranCount() > 0) {
    if (tsql::EqualsIgnoreCase(database, connection.UnqualifiedDatabase())) return true;
    catalog::DatabaseEntry entry = session_.DatabaseToUse(database);
    const bool own = tsql::EqualsIgnoreCase(entry.name, session_.CurrentDatabase());
    if (system_procedure && !own) throw MakeError(226, {"USE"});
    names_in_.reset();
    names_in_.emplace(connection, connection.SchemaFor(entry.name));
    return true;
  }
  if (tsql::EqualsIgnoreCase(database, session_.CurrentDatabase())) return true;
  if (!session_.Engine().FindDatabase(database)) throw MakeError(911, {database});
  session_.UseDatabase(database, nullptr, 0);
  entered_ = session_.CurrentDatabase();
  return true;
}

void DatabaseContext::Leave() {
  left_ = true;
  names_in_.reset();
  std::string current = session_.CurrentDatabase();
  if (current == original_) return;
  session_.UseDatabase(original_, nullptr, 0);
  if (current == entered_) return;
  EnvChange change;
  change.kind = EnvChangeKind::kDatabase;
  change.new_value = original_;
  change.old_value = current;
  sink_.Environment(change);
}

}  // namespace sqlengine::exec
