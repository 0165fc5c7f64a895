#include "engine/exec/access_rights.h"

#include "engine/tsql/token.h"

namespace sqlengine::exec {

std::string_view PermissionName(Access access) {
  switch (access) {
    case Access::kSelect:
      return "SELECT";
    case Access::kInsert:
      return "INSERT";
    case Access::kUpdate:
      return "UPDATE";
    case Access::kDelete:
      return "DELETE";
    case Access::kReferences:
      return "REFERENCES";
    case Access::kExecute:
      return "EXECUTE";
    case Access::kCreateTable:
      return "CREATE TABLE";
    case Access::kCreateView:
      return "CREATE VIEW";
    case Access::kCreateProcedure:
      return "CREATE PROCEDURE";
    case Access::kCreateFunction:
      return "CREATE FUNCTION";
    case Access::kCreateDatabase:
      return "CREATE DATABASE";
    case Access::kBackupDatabase:
      return "BACKUP DATABASE";
    case Access::kBackupLog:
      return "BACKUP LOG";
    case Access::kCreateRule:
      return "CREATE RULE";
    case Access::kCreateDefault:
      return "CREATE DEFAULT";
    case Access::kAlter:
      return "ALTER";
    case Access::kDrop:
      return "DROP";
  }
  return "";
}

DatabaseRights::DatabaseRights(DatabaseSecurity security, std::string database, bool dbo,
                               const Bytes& login_sid)
    : security_(std::move(security)), database_(std::move(database)), dbo_(dbo) {
  if (dbo_) {
    uid_ = kDboUid;
  } else if (const Principal* user = security_.FindSid(login_sid)) {
    uid_ = user->uid;
  } else if (security_.FindUid(kGuestUid) != nullptr) {
    uid_ = kGuestUid;
  }
  if (uid_) principals_ = security_.Closure(*uid_);
}

std::string DatabaseRights::UserName() const {
  if (!uid_) return {};
  const Principal* user = security_.FindUid(*uid_);
  return user != nullptr ? user->name : std::string("dbo");
}

bool DatabaseRights::InRole(std::string_view role) const {
  if (dbo_) return true;
  const Principal* found = security_.Find(role);
  return found != nullptr && found->is_role && principals_.count(found->uid) > 0;
}

bool DatabaseRights::OwnsObject(std::string_view object) const {
  return uid_ && !object.empty() && security_.owners.count(tsql::ToLower(object)) > 0 &&
         security_.OwnerOf(object) == *uid_;
}

char DatabaseRights::Strongest(std::string_view object, std::string_view action) const {
  char strongest = 0;
  for (const PermissionRow& row : security_.permissions) {
    if (!principals_.count(row.grantee) || !tsql::EqualsIgnoreCase(row.object, object) ||
        row.action != action) {
      continue;
    }
    if (row.state == 'D') return 'D';
    if (row.state == 'W' || strongest == 0) strongest = row.state;
  }
  return strongest;
}

char DatabaseRights::StrongestColumn(std::string_view object, std::string_view action,
                                     std::string_view column) const {
  char strongest = 0;
  for (const PermissionRow& row : security_.column_permissions) {
    if (!principals_.count(row.grantee) || !tsql::EqualsIgnoreCase(row.object, object) ||
        row.action != action || (!column.empty() && !tsql::EqualsIgnoreCase(row.column, column))) {
      continue;
    }
    if (row.state == 'D' && !column.empty()) return 'D';
    if (row.state == 'W' || strongest == 0 || strongest == 'D') strongest = row.state;
  }
  return strongest;
}

std::optional<SqlError> DatabaseRights::Check(std::string_view object, Access access,
                                              std::string_view column) const {
  if (!uid_) return MakeError(916, {"", database_});
  if (dbo_ || InRole("db_owner")) return std::nullopt;
  // An object's owner holds every permission on it (ALTER and DROP too),
  // and no DENY takes that away.
  if (OwnsObject(object)) return std::nullopt;
  std::string_view action = PermissionName(access);
  switch (access) {
    case Access::kCreateTable:
    case Access::kCreateView:
    case Access::kCreateProcedure:
    case Access::kCreateFunction:
    case Access::kCreateRule:
    case Access::kCreateDefault: {
      char state = Strongest("", action);
      if (state == 'D' || (state == 0 && !InRole("db_ddladmin")))
        return MakeError(262, {action, database_});
      return std::nullopt;
    }
    case Access::kCreateDatabase:
    case Access::kBackupDatabase:
    case Access::kBackupLog: {
      char state = Strongest("", action);
      bool operator_role = access != Access::kCreateDatabase && InRole("db_backupoperator");
      if (state == 'D' || (state == 0 && !operator_role)) {
        return MakeError(262, {action, database_});
      }
      return std::nullopt;
    }
    case Access::kAlter:
    case Access::kDrop:
      if (InRole("db_ddladmin")) return std::nullopt;
      return MakeError(3704, {ObjectKind(object), object});
    default:
      break;
  }
  if (!security_.objects.count(tsql::ToLower(object))) return std::nullopt;
  bool reads = access == Access::kSelect;
  bool writes = access == Access::kInsert || access == Access::kUpdate || access == Access::kDelete;
  char state = Strongest(object, action);
  // A column's rows, or for a read of no column in particular (count(*)) a
  // grant of any column.
  char column_state = StrongestColumn(object, action, column);
  bool allowed = state == 'G' || state == 'W' || column_state == 'G' || column_state == 'W' ||
                 (reads && InRole("db_datareader")) || (writes && InRole("db_datawriter"));
  bool object_denied = state == 'D' || (reads && InRole("db_denydatareader")) ||
                       (writes && InRole("db_denydatawriter"));
  if (object_denied || (!column.empty() && column_state == 'D')) allowed = false;
  if (allowed) return std::nullopt;
  std::string owner = "dbo";
  if (const Principal* found = security_.FindUid(security_.OwnerOf(object))) owner = found->name;
  if (!object_denied && !column.empty() && StrongestColumn(object, action, {}) != 0) {
    return MakeError(230, {action, column, object, database_, owner});
  }
  return MakeError(229, {action, object, database_, owner});
}

std::string_view DatabaseRights::ObjectKind(std::string_view object) const {
  std::string lower = tsql::ToLower(object);
  if (security_.views.count(lower)) return "view";
  if (security_.functions.count(lower)) return "function";
  if (security_.procedures.count(lower)) return "procedure";
  return "table";
}

bool DatabaseRights::CanGrant(std::string_view object, Access access) const {
  if (dbo_ || InRole("db_owner") || OwnsObject(object)) return true;
  if (object.empty() && InRole("db_securityadmin")) return true;
  return Strongest(object, PermissionName(access)) == 'W';
}

}  // namespace sqlengine::exec
