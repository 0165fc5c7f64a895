#include "engine/exec/database_ownership.h"

#include "engine/catalog/sqlite_handle.h"
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

namespace {

// Whether a user of the database in `entry` belongs to the login with `sid`.
bool HasUserFor(EngineImpl& engine, const catalog::DatabaseEntry& entry, const Bytes& sid) {
  catalog::Connection db = catalog::OpenDataFile(engine.DataFileOf(entry), true);
  sqlite3_busy_timeout(db.get(), 10000);
  if (!HasSecurityTables(db.get(), "main")) return false;
  return LoadSecurity(db.get(), "main", entry.name).FindSid(sid) != nullptr;
}

}  // namespace

void DropLoginWithoutDatabases(Session& session, const std::string& login_name) {
  if (tsql::EqualsIgnoreCase(login_name, "sa")) throw MakeError(15405, {"sa"});
  EngineImpl& engine = session.Engine();
  std::optional<catalog::LoginEntry> login = engine.Catalog().FindLogin(login_name);
  if (!login) throw MakeError(15007, {login_name});
  std::vector<catalog::DatabaseEntry> databases = engine.Catalog().Databases();
  for (const catalog::DatabaseEntry& entry : databases) {
    if (!entry.owner_sid.empty() && entry.owner_sid == login->sid)
      throw MakeError(15174, {login->name});
  }
  for (const catalog::DatabaseEntry& entry : databases) {
    bool mapped = false;
    try {
      mapped = HasUserFor(engine, entry, login->sid);
    } catch (const std::exception&) {
      // As SQL Server does with a database it cannot open, the login may
      // still go; such a database keeps its user.
      continue;
    }
    if (mapped) throw MakeError(15175, {login->name});
  }
  if (engine.Sessions().LoggedIn(login->name)) throw MakeError(15434, {login->name});
  engine.Catalog().DropLogin(login->name);
  engine.SecurityChanged();
}

}  // namespace sqlengine::exec
