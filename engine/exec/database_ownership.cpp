#include "engine/exec/database_ownership.h"

#include "engine/common/error.h"
#include "engine/exec/database_security.h"
#include "engine/exec/engine_impl.h"
#include "engine/exec/procedure_arguments.h"
#include "engine/exec/session.h"

namespace sqlengine::exec {

void ChangeDbOwner(Session& session, const std::vector<CallArgument>& given) {
  Arguments args("sp_changedbowner", given, {"@loginame", "@map"});
  std::string login_name = args.Required(0, "sp_changedbowner", "@loginame");
  if (!session.IsSysadmin()) throw MakeError(15247);
  EngineImpl& engine = session.Engine();
  std::optional<catalog::LoginEntry> login = engine.Catalog().FindLogin(login_name);
  if (!login) throw MakeError(15007, {login_name});
  std::string database = session.CurrentDatabase();
  for (std::string_view fixed : {"master", "model", "tempdb"}) {
    if (tsql::EqualsIgnoreCase(database, fixed)) throw MakeError(15109);
  }
  DatabaseSecurity security =
      LoadSecurity(session.Connection().Handle(), "main", session.CurrentDatabase());
  if (security.FindSid(login->sid) != nullptr) throw MakeError(15110);
  engine.Catalog().SetDatabaseOwner(database, login->sid);
  engine.SecurityChanged();
}

void DefaultDb(Session& session, const std::vector<CallArgument>& given) {
  Arguments args("sp_defaultdb", given, {"@loginame", "@defdb"});
  std::string login = args.Required(0, "sp_defaultdb", "@loginame");
  std::string database = args.Required(1, "sp_defaultdb", "@defdb");
  EngineImpl& engine = session.Engine();
  bool own = tsql::EqualsIgnoreCase(login, session.Login().name);
  if (!own && !session.IsSysadmin() &&
      !engine.Catalog().IsRoleMember("securityadmin", session.Login().name)) {
    throw MakeError(15247);
  }
  if (!engine.Catalog().FindLogin(login)) throw MakeError(15007, {login});
  std::optional<catalog::DatabaseEntry> entry = engine.FindDatabase(database);
  if (!entry) throw MakeError(15010, {database});
  engine.Catalog().SetDefaultDatabase(login, entry->name);
}

}  // namespace sqlengine::exec
