#pragma once
// A database's users, roles, role memberships and permissions, kept in the
// database's own file (so they travel with detach/attach and backup/restore)
// in three engine tables the authorizer hides from user statements. The
// tables are made on the first change; a database without them has dbo,
// and guest when it is master, tempdb or msdb.
// Every function works on the given connection and schema; the caller holds
// whatever transaction it wants the change in.

#include <sqlite3.h>

#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "engine/common/types.h"

namespace sqlengine::exec {

inline constexpr const char* kPrincipalsTable = "sqlengine_principals";
inline constexpr const char* kRoleMembersTable = "sqlengine_role_members";
inline constexpr const char* kPermissionsTable = "sqlengine_permissions";
inline constexpr const char* kColumnPermissionsTable = "sqlengine_column_permissions";
inline constexpr const char* kObjectOwnersTable = "sqlengine_object_owners";

// SQL Server 2000's fixed uids.
inline constexpr int kPublicUid = 0;
inline constexpr int kDboUid = 1;
inline constexpr int kGuestUid = 2;

struct Principal {
  int uid = 0;
  std::string name;
  Bytes sid;  // the login's; empty for roles, dbo and guest
  bool is_role = false;
};

// The fixed database roles, with their SQL Server 2000 uids.
const std::vector<Principal>& FixedDatabaseRoles();

// One GRANT / DENY row. object: empty for a statement permission.
struct PermissionRow {
  std::string object;
  std::string action;  // "SELECT", "EXECUTE", "CREATE TABLE" ...
  int grantee = 0;
  char state = 'G';  // 'G' grant, 'W' grant WITH GRANT OPTION, 'D' deny
  int grantor = kDboUid;
  std::string column;  // empty: the whole object
};

// A user function a table's enabled CHECK or DEFAULT constraint calls. SQLite
// runs it inside every write that applies the constraint, so the writer must
// be allowed to call it where the ownership chain from the table breaks.
struct ConstraintCall {
  std::string function;
  bool on_update = false;  // a CHECK's: applies to UPDATE as well as INSERT
};

// What the authorizer and the procedures read of one database.
struct DatabaseSecurity {
  std::vector<Principal> principals;         // stored ones, then public and the fixed roles
  std::vector<std::pair<int, int>> members;  // (role uid, member uid)
  std::vector<PermissionRow> permissions;         // whole objects and statements
  std::vector<PermissionRow> column_permissions;  // SELECT / UPDATE / REFERENCES of one column
  std::set<std::string> views;       // lower-case names
  std::set<std::string> objects;     // lower-case tables, views and procedures
  std::set<std::string> procedures;  // lower-case, user functions included
  std::set<std::string> functions;   // lower-case
  // Objects a user other than dbo made: lower-case name -> owner's uid.
  std::map<std::string, int> owners;
  // lower-case table -> the user functions its constraints call (an empty
  // name: a built-in that looks names up, such as OBJECT_ID)
  std::map<std::string, std::vector<ConstraintCall>> constraint_calls;
  // lower-case table -> lower-case computed column -> the user functions it
  // calls, each time the column is read (an empty name as above)
  std::map<std::string, std::map<std::string, std::vector<std::string>>> computed_calls;
  // lower-case views whose stored text calls a user function by its name alone
  std::set<std::string> calling_views;
  // (child, parent), lower-case: the tables whose FOREIGN KEY refers to another.
  std::set<std::pair<std::string, std::string>> foreign_keys;

  const Principal* Find(std::string_view name) const;
  const Principal* FindUid(int uid) const;
  const Principal* FindSid(const Bytes& sid) const;
  // uid plus the roles it is in, directly or through other roles, plus public.
  std::set<int> Closure(int uid) const;
  // The uid of the user who owns `object`: dbo's unless recorded otherwise.
  int OwnerOf(std::string_view object) const;
};

// The name of the user (or role) that owns `object`: "dbo" for one no other
// owner was recorded for.
std::string OwnerNameOf(const DatabaseSecurity& security, std::string_view object);

// Whether a database has guest before anyone changes its users.
bool HasGuestByDefault(std::string_view database);

// Whether the database under `schema` has had its first security change.
bool HasSecurityTables(sqlite3* db, const std::string& schema);
// Whether some object of it belongs to a user other than dbo (the owners
// table exists).
bool HasObjectOwners(sqlite3* db, const std::string& schema);
// Whether it has ever held a column permission.
bool HasColumnPermissions(sqlite3* db, const std::string& schema);

// Whether the database's guest user exists (has access).
bool GuestHasAccess(sqlite3* db, const std::string& schema, std::string_view database);

DatabaseSecurity LoadSecurity(sqlite3* db, const std::string& schema, std::string_view database);

// Changes, each creating the tables first. Name clashes are the caller's to
// check. AddPrincipal numbers the new one unless `uid` (guest's 2) is given.
int AddPrincipal(sqlite3* db, const std::string& schema, std::string_view database,
                 std::string_view name, const Bytes& sid, bool is_role, int uid = -1);
void RemovePrincipal(sqlite3* db, const std::string& schema, std::string_view database, int uid);
void SetMembership(sqlite3* db, const std::string& schema, std::string_view database, int role,
                   int member, bool add);
// Replaces the row for (object, column, action, grantee); state 0 removes
// it. A whole-object row also drops that grantee's column rows of the action.
void SetPermission(sqlite3* db, const std::string& schema, std::string_view database,
                   const PermissionRow& row);
// Objects belong to dbo unless a user who is not dbo made them (with a
// statement permission such as CREATE PROCEDURE); those are recorded here.
// The ownership chain holds only between objects of one owner, so such a
// procedure's or function's statements run with its caller's rights, never
// dbo's. A database without the table has dbo own everything.
void RecordOwner(sqlite3* db, const std::string& schema, std::string_view object, int uid);

// Forgets every permission on `object`, whole and per column, its owner and its
// extended properties (extended_properties.h). Rights belong
// to the object, not to its name: once it is dropped, a new object made under
// the same name starts with none.
// Returns whether it removed anything (the caller then tells the engine).
bool ForgetObjectPermissions(sqlite3* db, const std::string& schema, std::string_view object);

}  // namespace sqlengine::exec
