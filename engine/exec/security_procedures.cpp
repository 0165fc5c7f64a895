#include "engine/exec/security_procedures.h"

#include <algorithm>

#include "engine/common/error.h"
#include "engine/exec/catalog_writes.h"
#include "engine/exec/database_security.h"
#include "engine/exec/engine_impl.h"
#include "engine/exec/extended_properties.h"
#include "engine/exec/procedure_arguments.h"
#include "engine/exec/session.h"

namespace sqlengine::exec {
namespace {

ColumnType Name() { return ColumnType{SqlType::kNVarChar, 128}; }

Value SidValue(const Bytes& sid) { return sid.empty() ? Value{} : Value{sid}; }

void SendRows(ResultSink& sink, std::vector<Column> columns, const std::vector<Row>& rows) {
  sink.BeginResult(columns);
  for (const Row& row : rows) sink.AddRow(row);
  StatementDone done;
  done.row_count = static_cast<std::int64_t>(rows.size());
  sink.Done(done);
}

// The caller's standing in the current database, refusing with 15247 unless
// it is dbo or in one of `roles`.
const DatabaseRights& RequireRole(Session& session, std::initializer_list<std::string_view> roles) {
  const DatabaseRights& rights = session.Rights().InCurrent();
  if (rights.IsDbo() || rights.InRole("db_owner")) return rights;
  for (std::string_view role : roles) {
    if (rights.InRole(role)) return rights;
  }
  throw MakeError(15247);
}

bool IsReserved(std::string_view name) {
  for (std::string_view reserved : {"dbo", "public", "INFORMATION_SCHEMA", "sys"}) {
    if (tsql::EqualsIgnoreCase(name, reserved)) return true;
  }
  for (const Principal& role : FixedDatabaseRoles()) {
    if (tsql::EqualsIgnoreCase(name, role.name)) return true;
  }
  return false;
}

void Changed(Session& session) { session.Engine().SecurityChanged(); }

// sp_grantdbaccess's work; returns the new user's uid.
int GrantAccess(Session& session, const std::string& login, const std::string& user) {
  const DatabaseRights& rights = RequireRole(session, {"db_accessadmin"});
  const DatabaseSecurity& security = rights.Security();
  CatalogWrite write(session);
  sqlite3* db = write.Db();
  std::string database = session.CurrentDatabase();
  if (tsql::EqualsIgnoreCase(login, "guest")) {
    if (security.FindUid(kGuestUid) != nullptr) throw MakeError(15023, {"guest"});
    int uid = AddPrincipal(db, "main", database, "guest", {}, false, kGuestUid);
    write.Commit();
    Changed(session);
    return uid;
  }
  std::optional<catalog::LoginEntry> entry = session.Engine().Catalog().FindLogin(login);
  if (!entry) throw MakeError(15007, {login});
  if (IsReserved(user)) throw MakeError(15405, {user});
  std::optional<catalog::DatabaseEntry> owned = session.Engine().FindDatabase(database);
  if (security.FindSid(entry->sid) != nullptr ||
      (owned && !owned->owner_sid.empty() && owned->owner_sid == entry->sid)) {
    throw MakeError(15063);
  }
  if (security.Find(user) != nullptr) throw MakeError(15023, {user});
  int uid = AddPrincipal(db, "main", database, user, entry->sid, false);
  write.Commit();
  Changed(session);
  return uid;
}

void RevokeAccess(Session& session, const std::string& user) {
  const DatabaseRights& rights = RequireRole(session, {"db_accessadmin"});
  if (tsql::EqualsIgnoreCase(user, "dbo")) throw MakeError(15405, {user});
  const Principal* found = rights.Security().Find(user);
  if (found == nullptr || found->is_role) throw MakeError(15008, {user});
  CatalogWrite write(session);
  RemovePrincipal(write.Db(), "main", session.CurrentDatabase(), found->uid);
  ForgetNameProperties(write.Db(), "USER", found->name);
  write.Commit();
  Changed(session);
}

// The role `role` names, once the caller may change its members: 15014 for
// no such role, 15247 without the right. Fixed roles are db_owner's to fill;
// the others also db_securityadmin's.
const Principal& ChangeableRole(const DatabaseRights& rights, const std::string& role) {
  const Principal* found_role = rights.Security().Find(role);
  if (found_role == nullptr || !found_role->is_role || found_role->uid == kPublicUid) {
    throw MakeError(15014, {role});
  }
  bool fixed = found_role->uid >= 16384 && found_role->uid < 16400;
  if (fixed ? !(rights.IsDbo() || rights.InRole("db_owner"))
            : !(rights.IsDbo() || rights.InRole("db_owner") || rights.InRole("db_securityadmin"))) {
    throw MakeError(15247);
  }
  return *found_role;
}

void ChangeRoleMember(Session& session, const std::string& role, const std::string& member,
                      bool add) {
  const DatabaseRights& rights = session.Rights().InCurrent();
  const DatabaseSecurity& security = rights.Security();
  const Principal* found_role = &ChangeableRole(rights, role);
  if (tsql::EqualsIgnoreCase(member, "dbo")) throw MakeError(15405, {member});
  const Principal* found_member = security.Find(member);
  if (found_member == nullptr || found_member->uid == kPublicUid) throw MakeError(15410, {member});
  // A role inside itself, directly or through the roles it is in, would be a
  // circle of memberships.
  if (add && security.Closure(found_role->uid).count(found_member->uid) > 0) throw MakeError(15413);
  CatalogWrite write(session);
  SetMembership(write.Db(), "main", session.CurrentDatabase(), found_role->uid, found_member->uid,
                add);
  write.Commit();
  Changed(session);
}

void AddRole(Session& session, const std::string& role) {
  const DatabaseRights& rights = RequireRole(session, {"db_securityadmin"});
  if (IsReserved(role)) throw MakeError(15405, {role});
  if (rights.Security().Find(role) != nullptr) throw MakeError(15023, {role});
  CatalogWrite write(session);
  AddPrincipal(write.Db(), "main", session.CurrentDatabase(), role, {}, true);
  write.Commit();
  Changed(session);
}

void DropRole(Session& session, const std::string& role) {
  const DatabaseRights& rights = RequireRole(session, {"db_securityadmin"});
  const DatabaseSecurity& security = rights.Security();
  const Principal* found = security.Find(role);
  if (found == nullptr || !found->is_role) throw MakeError(15014, {role});
  if (found->uid < 16400) throw MakeError(15405, {role});
  for (const auto& [of, member] : security.members) {
    if (of == found->uid) throw MakeError(15144);
  }
  CatalogWrite write(session);
  RemovePrincipal(write.Db(), "main", session.CurrentDatabase(), found->uid);
  write.Commit();
  Changed(session);
}

// sp_helpuser [@name_in_db]: UserName, GroupName, LoginName, DefDBName, UserID, SID.
void HelpUser(Session& session, const std::optional<std::string>& name, ResultSink& sink) {
  const DatabaseSecurity& security = session.Rights().InCurrent().Security();
  std::optional<catalog::DatabaseEntry> database =
      session.Engine().FindDatabase(session.CurrentDatabase());
  std::vector<Row> rows;
  bool found = false;
  for (const Principal& user : security.principals) {
    if (user.is_role || (name && !tsql::EqualsIgnoreCase(*name, user.name))) continue;
    found = true;
    Bytes sid = user.uid == kDboUid && database ? database->owner_sid : user.sid;
    std::optional<catalog::LoginEntry> login =
        sid.empty() ? std::nullopt : session.Engine().Catalog().FindLoginBySid(sid);
    std::vector<std::string> groups;
    for (const auto& [role, member] : security.members) {
      if (member != user.uid) continue;
      if (const Principal* group = security.FindUid(role)) groups.push_back(group->name);
    }
    if (groups.empty()) groups.push_back("public");
    for (const std::string& group : groups) {
      rows.push_back({user.name, group, login ? Value{login->name} : Value{},
                      login ? Value{login->default_database} : Value{},
                      static_cast<std::int64_t>(user.uid), SidValue(sid)});
    }
  }
  if (name && !found) throw MakeError(15008, {*name});
  SendRows(sink,
           {{"UserName", Name()},
            {"GroupName", Name()},
            {"LoginName", Name()},
            {"DefDBName", Name()},
            {"UserID", ColumnType{SqlType::kSmallInt}},
            {"SID", ColumnType{SqlType::kVarBinary, 85}}},
           rows);
}

// sp_helprolemember [@rolename]: DbRole, MemberName, MemberSID.
void HelpRoleMember(Session& session, const std::optional<std::string>& role, ResultSink& sink) {
  const DatabaseSecurity& security = session.Rights().InCurrent().Security();
  if (role) {
    const Principal* found = security.Find(*role);
    if (found == nullptr || !found->is_role) throw MakeError(15409, {*role});
  }
  std::vector<Row> rows;
  for (const auto& [of, member] : security.members) {
    const Principal* group = security.FindUid(of);
    const Principal* who = security.FindUid(member);
    if (group == nullptr || who == nullptr) continue;
    if (role && !tsql::EqualsIgnoreCase(*role, group->name)) continue;
    rows.push_back({group->name, who->name, SidValue(who->sid)});
  }
  SendRows(sink,
           {{"DbRole", Name()},
            {"MemberName", Name()},
            {"MemberSID", ColumnType{SqlType::kVarBinary, 85}}},
           rows);
}

// sp_helpsrvrolemember [@srvrolename]: ServerRole, MemberName, MemberSID.
void HelpServerRoleMember(Session& session, const std::optional<std::string>& role,
                          ResultSink& sink) {
  if (role && !catalog::IsServerRole(*role)) throw MakeError(15412, {*role});
  std::vector<Row> rows;
  for (const auto& [of, login] : session.Engine().Catalog().RoleMemberships()) {
    if (role && !tsql::EqualsIgnoreCase(*role, of)) continue;
    std::optional<catalog::LoginEntry> entry = session.Engine().Catalog().FindLogin(login);
    rows.push_back({of, login, entry ? SidValue(entry->sid) : Value{}});
  }
  SendRows(sink,
           {{"ServerRole", Name()},
            {"MemberName", Name()},
            {"MemberSID", ColumnType{SqlType::kVarBinary, 85}}},
           rows);
}

// sp_helprotect [@name]: Owner, Object, Grantee, Grantor, ProtectType, Action, Column;
// ordered by object, grantee, grantor, protect type, action and column.
void HelpProtect(Session& session, const std::optional<std::string>& name, ResultSink& sink) {
  const DatabaseSecurity& security = session.Rights().InCurrent().Security();
  struct Listed {
    std::vector<std::string> order;  // lower case
    Row row;
  };
  std::vector<Listed> listed;
  auto add = [&](const PermissionRow& row) {
    if (name && !tsql::EqualsIgnoreCase(*name, row.object)) return;
    const Principal* grantee = security.FindUid(row.grantee);
    const Principal* grantor = security.FindUid(row.grantor);
    std::string type = row.state == 'D' ? "Deny" : row.state == 'W' ? "Grant_WGO" : "Grant";
    std::string object = row.object.empty() ? "." : row.object;
    std::string column = row.object.empty() ? "." : row.column.empty() ? "(All+New)" : row.column;
    std::string grantee_name = grantee ? grantee->name : "";
    std::string grantor_name = grantor ? grantor->name : "";
    listed.push_back({{tsql::ToLower(object), tsql::ToLower(grantee_name),
                       tsql::ToLower(grantor_name), type, row.action, tsql::ToLower(column)},
                      {std::string(row.object.empty() ? "." : "dbo"), object,
                       grantee ? Value{grantee->name} : Value{},
                       grantor ? Value{grantor->name} : Value{}, type, row.action, column}});
  };
  for (const PermissionRow& row : security.permissions) add(row);
  for (const PermissionRow& row : security.column_permissions) add(row);
  if (name && listed.empty()) throw MakeError(15330, {*name});
  std::stable_sort(listed.begin(), listed.end(),
                   [](const Listed& a, const Listed& b) { return a.order < b.order; });
  std::vector<Row> rows;
  for (Listed& entry : listed) rows.push_back(std::move(entry.row));
  SendRows(sink,
           {{"Owner", Name()},
            {"Object", Name()},
            {"Grantee", Name()},
            {"Grantor", Name()},
            {"ProtectType", ColumnType{SqlType::kChar, 10}},
            {"Action", ColumnType{SqlType::kVarChar, 20}},
            {"Column", Name()}},
           rows);
}

}  // namespace

bool RunSecurityProcedure(Session& session, std::string_view name,
                          const std::vector<CallArgument>& given, ResultSink& sink) {
  if (name == "sp_grantdbaccess") {
    Arguments args(name, given, {"@loginame", "@name_in_db"});
    std::string login = args.Required(0, name, "@loginame");
    GrantAccess(session, login, args[1].value_or(login));
  } else if (name == "sp_adduser") {
    Arguments args(name, given, {"@loginame", "@name_in_db", "@grpname"});
    std::string login = args.Required(0, name, "@loginame");
    std::string user = args[1].value_or(login);
    // Refused before the user is made, so a refusal changes nothing.
    if (args[2]) ChangeableRole(session.Rights().InCurrent(), *args[2]);
    GrantAccess(session, login, user);
    if (args[2]) ChangeRoleMember(session, *args[2], user, true);
  } else if (name == "sp_revokedbaccess" || name == "sp_dropuser") {
    Arguments args(name, given, {"@name_in_db"});
    RevokeAccess(session, args.Required(0, name, "@name_in_db"));
  } else if (name == "sp_addrole") {
    Arguments args(name, given, {"@rolename", "@ownername"});
    AddRole(session, args.Required(0, name, "@rolename"));
  } else if (name == "sp_droprole") {
    Arguments args(name, given, {"@rolename"});
    DropRole(session, args.Required(0, name, "@rolename"));
  } else if (name == "sp_addrolemember" || name == "sp_droprolemember") {
    Arguments args(name, given, {"@rolename", "@membername"});
    ChangeRoleMember(session, args.Required(0, name, "@rolename"),
                     args.Required(1, name, "@membername"), name == "sp_addrolemember");
  } else if (name == "sp_helpuser") {
    Arguments args(name, given, {"@name_in_db"});
    HelpUser(session, args[0], sink);
  } else if (name == "sp_helprolemember") {
    Arguments args(name, given, {"@rolename"});
    HelpRoleMember(session, args[0], sink);
  } else if (name == "sp_helpsrvrolemember") {
    Arguments args(name, given, {"@srvrolename"});
    HelpServerRoleMember(session, args[0], sink);
  } else if (name == "sp_helprotect") {
    Arguments args(name, given, {"@name", "@username", "@grantorname", "@permissionarea"});
    HelpProtect(session, args[0], sink);
  } else {
    return false;
  }
  return true;
}

}  // namespace sqlengine::exec
