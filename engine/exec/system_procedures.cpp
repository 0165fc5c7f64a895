#include "engine/exec/system_procedures.h"

#include <sqlite3.h>

#include <optional>
#include <stdexcept>
#include <string_view>

#include "engine/common/error.h"
#include "engine/exec/attach_detach.h"
#include "engine/exec/catalog_procedures.h"
#include "engine/exec/configuration_procedures.h"
#include "engine/exec/database_options.h"
#include "engine/exec/database_ownership.h"
#include "engine/exec/engine_impl.h"
#include "engine/exec/extended_properties.h"
#include "engine/exec/help_procedures.h"
#include "engine/exec/object_maintenance.h"
#include "engine/exec/object_rename.h"
#include "engine/exec/object_text.h"
#include "engine/exec/procedure_arguments.h"
#include "engine/exec/process_procedures.h"
#include "engine/exec/security_procedures.h"
#include "engine/exec/server_help_procedures.h"
#include "engine/exec/server_statements.h"
#include "engine/exec/session.h"
#include "engine/exec/space_procedures.h"
#include "engine/exec/table_privileges.h"
#include "engine/exec/trigger_procedures.h"
#include "engine/exec/type_info_procedures.h"
#include "engine/exec/user_messages.h"
#include "engine/exec/user_types.h"
#include "engine/exec/value_conversion.h"

namespace sqlengine::exec {
namespace {

void RequireSecurityAdmin(Session& session) {
  if (!session.IsSysadmin() &&
      !session.Engine().Catalog().IsRoleMember("securityadmin", session.Login().name)) {
    throw MakeError(15247);
  }
}

void AddLogin(Session& session, const std::vector<CallArgument>& given) {
  Arguments args("sp_addlogin", given, {"@loginame", "@passwd", "@defdb", "@deflanguage", "@sid", "@encryptopt"});
  RequireSecurityAdmin(session);
  std::string login = args.Required(0, "sp_addlogin", "@loginame");
  std::string database = args[2].value_or("master");
  if (!session.Engine().FindDatabase(database)) throw MakeError(15010, {database});
  session.Engine().Catalog().AddLogin(login, args[1].value_or(""), database);
}

void DropLogin(Session& session, const std::vector<CallArgument>& given) {
  Arguments args("sp_droplogin", given, {"@loginame"});
  RequireSecurityAdmin(session);
  DropLoginWithoutDatabases(session, args.Required(0, "sp_droplogin", "@loginame"));
}

void Password(Session& session, const std::vector<CallArgument>& given) {
  Arguments args("sp_password", given, {"@old", "@new", "@loginame"});
  std::string login = args[2].value_or(session.Login().name);
  bool own = tsql::EqualsIgnoreCase(login, session.Login().name);
  if (!own && !session.IsSysadmin()) throw MakeError(15247);
  std::optional<std::string_view> old;
  if (own && !session.IsSysadmin()) old = args[0] ? std::string_view(*args[0]) : std::string_view();
  std::string password = args[1].value_or("");
  if (password.empty() && session.Engine().ListensBeyondLoopback() &&
      session.Engine().Catalog().IsRoleMember("sysadmin", login)) {
    throw MakeError(15118);
  }
  session.Engine().Catalog().SetPassword(login, old, password);
}

void RoleMember(Session& session, const std::vector<CallArgument>& given, bool add) {
  std::string_view procedure = add ? "sp_addsrvrolemember" : "sp_dropsrvrolemember";
  Arguments args(procedure, given, {"@loginame", "@rolename"});
  std::string login = args.Required(0, procedure, "@loginame");
  std::string role = args.Required(1, procedure, "@rolename");
  if (!session.IsSysadmin()) throw MakeError(15247);
  if (!add && tsql::EqualsIgnoreCase(login, "sa") && tsql::EqualsIgnoreCase(role, "sysadmin")) {
    throw MakeError(15405, {"sa"});
  }
  if (add && tsql::EqualsIgnoreCase(role, "sysadmin") && session.Engine().ListensBeyondLoopback() &&
      session.Engine().Catalog().HasEmptyPassword(login)) {
    throw MakeError(15118);
  }
  session.Engine().Catalog().ChangeRoleMember(role, login, add);
  session.Engine().SecurityChanged();
}

// SETUSER without a name, as generated scripts write it around sp_addtype,
// goes back to the login's own identity, which is the only one a session
// here ever has; impersonating another user is refused.
void SetUser(const std::vector<CallArgument>& given) {
  Arguments args("setuser", given, {"@username", "@option"});
  if (args[0]) {
    throw MakeError(50000, {"SETUSER '" + *args[0] +
                            "' is not supported: statements run as the login's own user."});
  }
}

}  // namespace

bool HasSystemPrefix(std::string_view name) {
  return name.starts_with("sp_") || name.starts_with("xp_");
}

bool IsServerProcedure(std::string_view name) {
  static constexpr std::string_view kServerWide[] = {
      "sp_who",         "sp_who2",         "sp_lock",
      "sp_helpdb",      "sp_databases",    "sp_configure",
      "sp_addlogin",    "sp_droplogin",    "sp_password",
      "sp_addsrvrolemember", "sp_dropsrvrolemember", "sp_attach_db",
      "sp_attach_single_file_db", "sp_detach_db", "sp_dboption", "sp_dbcmptlevel",
      "sp_defaultdb",   "sp_addmessage",   "sp_dropmessage",
      "sp_server_info", "sp_datatype_info", "sp_datatype_info_90",
      "sp_datatype_info_100", "sp_monitor",     "sp_helpsort",     "sp_helpserver",
      "sp_helplanguage"};
  for (std::string_view server_wide : kServerWide) {
    if (name == server_wide) return true;
  }
  return false;
}

bool RunSystemProcedure(Session& session, std::string_view name,
                        const std::vector<CallArgument>& arguments, ResultSink& sink) {
  try {
    if (name == "sp_addlogin") {
      AddLogin(session, arguments);
    } else if (name == "sp_droplogin") {
      DropLogin(session, arguments);
    } else if (name == "sp_password") {
      Password(session, arguments);
    } else if (name == "sp_addsrvrolemember") {
      RoleMember(session, arguments, true);
    } else if (name == "sp_dropsrvrolemember") {
      RoleMember(session, arguments, false);
    } else if (name == "sp_attach_db") {
      AttachDb(session, arguments, sink);
    } else if (name == "sp_attach_single_file_db") {
      AttachSingleFileDb(session, arguments, sink);
    } else if (name == "sp_detach_db") {
      DetachDb(session, arguments, sink);
    } else if (name == "sp_spaceused") {
      SpaceUsed(session, arguments, sink);
    } else if (name == "sp_configure") {
      Configure(session, arguments, sink);
    } else if (name == "sp_rename") {
      Rename(session, arguments, sink);
    } else if (name == "sp_helptext") {
      HelpText(session, arguments, sink);
    } else if (name == "sp_dboption") {
      DbOption(session, arguments, sink);
    } else if (name == "sp_dbcmptlevel") {
      DbCompatibilityLevel(session, arguments, sink);
    } else if (name == "sp_changedbowner") {
      ChangeDbOwner(session, arguments);
    } else if (name == "sp_defaultdb") {
      DefaultDb(session, arguments);
    } else if (name == "setuser") {
      SetUser(arguments);
    } else if (!RunSecurityProcedure(session, name, arguments, sink) &&
               !RunCatalogProcedure(session, name, arguments, sink) &&
               !RunProcessProcedure(session, name, arguments, sink) &&
               !RunTypeInfoProcedure(name, arguments, sink) &&
               !RunTriggerProcedure(session, name, arguments, sink) &&
               !RunUserTypeProcedure(session, name, arguments, sink) &&
               !RunHelpProcedure(session, name, arguments, sink) &&
               !RunMessageProcedure(session, name, arguments) &&
               !RunExtendedPropertyProcedure(session, name, arguments) &&
               !RunServerHelpProcedure(session, name, arguments, sink) &&
               !RunObjectMaintenanceProcedure(session, name, arguments, sink) &&
               !RunPrivilegeProcedure(session, name, arguments, sink)) {
      return false;
    }
  } catch (SqlError& error) {
    error.message().procedure = std::string(name);
    throw;
  } catch (const std::runtime_error& failure) {
    // The engine's own tables of a read-only database refuse the write.
    if (sqlite3* db = session.Connection().Handle();
        db != nullptr && sqlite3_db_readonly(db, "main") == 1 &&
        std::string_view(failure.what()).find("readonly database") != std::string_view::npos) {
      SqlError refused = MakeError(3906, {session.Connection().Database()});
      refused.message().procedure = std::string(name);
      throw refused;
    }
    throw;
  }
  sink.ReturnStatus(0);
  sink.Done(StatementDone{});
  return true;
}

}  // namespace sqlengine::exec
