#pragma once
// What one login may do in one database, from that database's users, roles
// and permissions (SQL Server 2000's rules): sysadmins and the database's
// owner are dbo; a login is its user, else guest when the database has one,
// else has no access. dbo and db_owner may do everything; DENY beats GRANT;
// the fixed roles add and deny what their names say. An object belongs to
// dbo unless a user made it (DatabaseSecurity::owners). Immutable once built.

#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "engine/common/error.h"
#include "engine/exec/database_security.h"
#include "engine/exec/statement_authorizer.h"

namespace sqlengine::exec {

// The T-SQL word of a permission: "SELECT", "CREATE TABLE" ...
std::string_view PermissionName(Access access);

class DatabaseRights {
 public:
  // dbo: the login is a sysadmin or owns the database.
  DatabaseRights(DatabaseSecurity security, std::string database, bool dbo, const Bytes& login_sid);

  bool HasAccess() const { return uid_.has_value(); }
  bool IsDbo() const { return dbo_; }
  // The user the login is in the database ("dbo", "guest", a name); empty without access.
  std::string UserName() const;
  std::optional<int> Uid() const { return uid_; }
  // dbo is in every fixed role.
  bool InRole(std::string_view role) const;
  // Whether the user made `object` (a user other than dbo; dbo's own are
  // dbo's through IsDbo).
  bool OwnsObject(std::string_view object) const;
  const DatabaseSecurity& Security() const { return security_; }
  const std::string& Database() const { return database_; }

  // nullopt when allowed, else SQL Server's error: 229 for an object, 262 for
  // a CREATE statement, 3704 for ALTER/DROP. Objects the database does not
  // hold (SQLite's table functions) are allowed.
  // `column`: one column a SELECT, UPDATE or REFERENCES touches (230 when
  // refused there); empty for the whole object.
  std::optional<SqlError> Check(std::string_view object, Access access,
                                std::string_view column = {}) const;
  // Whether the user may create, bind and drop rules and defaults: dbo,
  // db_owner and db_ddladmin, as for other schema changes.
  bool MakesRulesAndDefaults() const {
    return dbo_ || InRole("db_owner") || InRole("db_ddladmin");
  }
  // Whether the user holds `access` on `object` WITH GRANT OPTION.
  bool CanGrant(std::string_view object, Access access) const;

 private:
  // The word 3704 names `object` by: "table", "view", "procedure", "function".
  std::string_view ObjectKind(std::string_view object) const;
  // 'D', 'G' / 'W' from the rows for the user's principals; 0 for none.
  char Strongest(std::string_view object, std::string_view action) const;
  // The same over the column rows of `object`: of `column`, or of any column when empty.
  char StrongestColumn(std::string_view object, std::string_view action,
                       std::string_view column) const;

  DatabaseSecurity security_;
  std::string database_;
  bool dbo_;
  std::optional<int> uid_;
  std::set<int> principals_;
};

}  // namespace sqlengine::exec
