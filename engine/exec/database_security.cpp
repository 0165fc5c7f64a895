#include "engine/exec/database_security.h"

#include <stdexcept>

#include "engine/catalog/data_file.h"
#include "engine/catalog/sqlite_handle.h"
#include "engine/exec/extended_properties.h"
#include "engine/exec/table_constraints.h"
#include "engine/exec/table_definition.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/token.h"

namespace sqlengine::exec {
namespace {

std::string Table(const std::string& schema, const char* table) {
  return tsql::QuoteSqliteName(schema) + "." + table;
}

bool TableExists(sqlite3* db, const std::string& schema, const char* table) {
  auto query = catalog::Prepare(db, "SELECT 1 FROM " + tsql::QuoteSqliteName(schema) +
                                        ".sqlite_master WHERE type = 'table' AND name = ?");
  sqlite3_bind_text(query.get(), 1, table, -1, SQLITE_STATIC);
  return sqlite3_step(query.get()) == SQLITE_ROW;
}

void Step(sqlite3* db, sqlite3_stmt* statement) {
  if (sqlite3_step(statement) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
}

void EnsureTables(sqlite3* db, const std::string& schema, std::string_view database) {
  if (TableExists(db, schema, kPrincipalsTable)) return;
  catalog::Exec(db, "CREATE TABLE " + Table(schema, kPrincipalsTable) +
                        " (uid INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE COLLATE NOCASE, "
                        "sid BLOB, is_role INTEGER NOT NULL)");
  catalog::Exec(db, "CREATE TABLE " + Table(schema, kRoleMembersTable) +
                        " (role_uid INTEGER NOT NULL, member_uid INTEGER NOT NULL, "
                        "PRIMARY KEY (role_uid, member_uid))");
  catalog::Exec(db, "CREATE TABLE " + Table(schema, kPermissionsTable) +
                        " (object TEXT NOT NULL COLLATE NOCASE, action TEXT NOT NULL, "
                        "grantee_uid INTEGER NOT NULL, state TEXT NOT NULL, "
                        "grantor_uid INTEGER NOT NULL, PRIMARY KEY (object, action, grantee_uid))");
  catalog::Exec(db, "INSERT INTO " + Table(schema, kPrincipalsTable) +
                        " (uid, name, sid, is_role) VALUES (1, 'dbo', NULL, 0)");
  if (HasGuestByDefault(database)) {
    catalog::Exec(db, "INSERT INTO " + Table(schema, kPrincipalsTable) +
                          " (uid, name, sid, is_role) VALUES (2, 'guest', NULL, 0)");
  }
}

void EnsureColumnTable(sqlite3* db, const std::string& schema) {
  catalog::Exec(db, "CREATE TABLE IF NOT EXISTS " + Table(schema, kColumnPermissionsTable) +
                        " (object TEXT NOT NULL COLLATE NOCASE, column_name TEXT NOT NULL "
                        "COLLATE NOCASE, action TEXT NOT NULL, grantee_uid INTEGER NOT NULL, "
                        "state TEXT NOT NULL, grantor_uid INTEGER NOT NULL, "
                        "PRIMARY KEY (object, column_name, action, grantee_uid))");
}

// Removes the column rows of (object, action, grantee); of one column unless `column` is empty.
void RemoveColumnRows(sqlite3* db, const std::string& schema, const PermissionRow& row) {
  if (!TableExists(db, schema, kColumnPermissionsTable)) return;
  auto remove = catalog::Prepare(
      db, "DELETE FROM " + Table(schema, kColumnPermissionsTable) +
              " WHERE object = ?1 AND action = ?2 AND grantee_uid = ?3 AND (?4 = '' OR "
              "column_name = ?4)");
  sqlite3_bind_text(remove.get(), 1, row.object.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(remove.get(), 2, row.action.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_int(remove.get(), 3, row.grantee);
  sqlite3_bind_text(remove.get(), 4, row.column.c_str(), -1, SQLITE_TRANSIENT);
  Step(db, remove.get());
}

Bytes BlobOf(sqlite3_stmt* statement, int column) {
  const auto* data = static_cast<const std::uint8_t*>(sqlite3_column_blob(statement, column));
  return Bytes(data, data + sqlite3_column_bytes(statement, column));
}

}  // namespace

const std::vector<Principal>& FixedDatabaseRoles() {
  static const std::vector<Principal> kRoles = {
      {16384, "db_owner", {}, true},          {16385, "db_accessadmin", {}, true},
      {16386, "db_securityadmin", {}, true},  {16387, "db_ddladmin", {}, true},
      {16389, "db_backupoperator", {}, true}, {16390, "db_datareader", {}, true},
      {16391, "db_datawriter", {}, true},     {16392, "db_denydatareader", {}, true},
      {16393, "db_denydatawriter", {}, true},
  };
  return kRoles;
}

bool HasGuestByDefault(std::string_view database) {
  return tsql::EqualsIgnoreCase(database, "master") || tsql::EqualsIgnoreCase(database, "tempdb") ||
         tsql::EqualsIgnoreCase(database, "msdb");
}

const Principal* DatabaseSecurity::Find(std::string_view name) const {
  for (const Principal& principal : principals) {
    if (tsql::EqualsIgnoreCase(principal.name, name)) return &principal;
  }
  return nullptr;
}

const Principal* DatabaseSecurity::FindUid(int uid) const {
  for (const Principal& principal : principals) {
    if (principal.uid == uid) return &principal;
  }
  return nullptr;
}

const Principal* DatabaseSecurity::FindSid(const Bytes& sid) const {
  if (sid.empty()) return nullptr;
  for (const Principal& principal : principals) {
    if (!principal.is_role && principal.sid == sid) return &principal;
  }
  return nullptr;
}

std::set<int> DatabaseSecurity::Closure(int uid) const {
  std::set<int> found = {uid, kPublicUid};
  std::vector<int> pending = {uid};
  while (!pending.empty()) {
    int member = pending.back();
    pending.pop_back();
    for (const auto& [role, of] : members) {
      if (of == member && found.insert(role).second) pending.push_back(role);
    }
  }
  return found;
}

int DatabaseSecurity::OwnerOf(std::string_view object) const {
  auto it = owners.find(tsql::ToLower(object));
  return it == owners.end() ? kDboUid : it->second;
}

std::string OwnerNameOf(const DatabaseSecurity& security, std::string_view object) {
  const Principal* owner = security.FindUid(security.OwnerOf(object));
  return owner != nullptr && owner->uid != kDboUid ? owner->name : "dbo";
}

bool HasSecurityTables(sqlite3* db, const std::string& schema) {
  return TableExists(db, schema, kPrincipalsTable);
}

bool HasObjectOwners(sqlite3* db, const std::string& schema) {
  return TableExists(db, schema, kObjectOwnersTable);
}

bool HasColumnPermissions(sqlite3* db, const std::string& schema) {
  return TableExists(db, schema, kColumnPermissionsTable);
}

bool GuestHasAccess(sqlite3* db, const std::string& schema, std::string_view database) {
  if (!HasSecurityTables(db, schema)) return HasGuestByDefault(database);
  auto query = catalog::Prepare(db, "SELECT 1 FROM " + Table(schema, kPrincipalsTable) +
                                        " WHERE uid = " + std::to_string(kGuestUid));
  return sqlite3_step(query.get()) == SQLITE_ROW;
}

namespace {

// How generated SQL calls a user function: sqlengine_user_function('name', ...),
// in a computed column sqlengine_row_user_function('name', ...).
constexpr const char* kUserFunctionCall = "sqlengine_user_function(";
constexpr const char* kComputedFunctionCall = "sqlengine_row_user_function(";

// ... and a built-in's, sqlengine_builtin('name', ...) or in a computed
// column sqlengine_row_builtin('name', ...).
constexpr const char* kBuiltinCall = "sqlengine_builtin(";
constexpr const char* kComputedBuiltinCall = "sqlengine_row_builtin(";

// The names of the user functions `sql` calls through `call`, in order,
// then an empty name when it calls a built-in through `builtin_call`.
std::vector<std::string> UserFunctionsCalled(std::string_view sql,
                                             std::string_view call = kUserFunctionCall,
                                             std::string_view builtin_call = kBuiltinCall) {
  std::vector<std::string> names;
  for (size_t at = sql.find(call); at != std::string_view::npos; at = sql.find(call, at + 1)) {
    size_t i = at + call.size();
    while (i < sql.size() && sql[i] == ' ') ++i;
    if (i >= sql.size() || sql[i] != '\'') continue;
    std::string name;
    for (++i; i < sql.size(); ++i) {
      if (sql[i] == '\'') {
        if (i + 1 < sql.size() && sql[i + 1] == '\'') {
          name += '\'';
          ++i;
          continue;
        }
        names.push_back(std::move(name));
        break;
      }
      name += sql[i];
    }
  }
  if (sql.find(builtin_call) != std::string_view::npos) names.emplace_back();
  return names;
}

std::vector<ConstraintCall> ConstraintCalls(sqlite3* db, const std::string& schema,
                                            const std::string& table) {
  std::string sql = StoredTableSql(db, schema, table);
  if (sql.empty()) return {};
  std::vector<ConstraintCall> calls;
  for (const TableConstraint& constraint : ReadTableConstraints(db, schema, table)) {
    // A constraint switched off with NOCHECK is kept as a comment and runs no call.
    if (constraint.disabled || (constraint.xtype != "C" && constraint.xtype != "D") ||
        constraint.end > sql.size() || constraint.begin >= constraint.end) {
      continue;
    }
    std::string_view clause = std::string_view(sql).substr(constraint.begin,
                                                           constraint.end - constraint.begin);
    for (std::string& function : UserFunctionsCalled(clause))
      calls.push_back({std::move(function), constraint.xtype == "C"});
  }
  return calls;
}

// Computed column -> the user functions it calls, lower-case.
std::map<std::string, std::vector<std::string>> ComputedCalls(sqlite3* db,
                                                              const std::string& schema,
                                                              const std::string& table) {
  std::map<std::string, std::vector<std::string>> calls;
  std::optional<TableDefinition> definition = ReadTableDefinition(db, schema, table);
  if (!definition) return calls;
  for (const TableDefinition::Element& element : definition->elements) {
    if (element.column.empty() || element.end > definition->sql.size()) continue;
    std::string_view text =
        std::string_view(definition->sql).substr(element.begin, element.end - element.begin);
    std::vector<std::string> functions = UserFunctionsCalled(text, kComputedFunctionCall, kComputedBuiltinCall);
    if (!functions.empty()) calls[tsql::ToLower(element.column)] = std::move(functions);
  }
  return calls;
}

}  // namespace

DatabaseSecurity LoadSecurity(sqlite3* db, const std::string& schema, std::string_view database) {
  DatabaseSecurity security;
  if (TableExists(db, schema, kPrincipalsTable)) {
    auto principals = catalog::Prepare(
        db, "SELECT uid, name, sid, is_role FROM " + Table(schema, kPrincipalsTable));
    while (sqlite3_step(principals.get()) == SQLITE_ROW) {
      security.principals.push_back(
          {sqlite3_column_int(principals.get(), 0), catalog::ColumnText(principals.get(), 1),
           BlobOf(principals.get(), 2), sqlite3_column_int(principals.get(), 3) != 0});
    }
    auto members = catalog::Prepare(
        db, "SELECT role_uid, member_uid FROM " + Table(schema, kRoleMembersTable));
    while (sqlite3_step(members.get()) == SQLITE_ROW) {
      security.members.emplace_back(sqlite3_column_int(members.get(), 0),
                                    sqlite3_column_int(members.get(), 1));
    }
    auto permissions =
        catalog::Prepare(db, "SELECT object, action, grantee_uid, state, grantor_uid FROM " +
                                 Table(schema, kPermissionsTable));
    while (sqlite3_step(permissions.get()) == SQLITE_ROW) {
      std::string state = catalog::ColumnText(permissions.get(), 3);
      security.permissions.push_back(
          {catalog::ColumnText(permissions.get(), 0), catalog::ColumnText(permissions.get(), 1),
           sqlite3_column_int(permissions.get(), 2), state.empty() ? 'G' : state[0],
           sqlite3_column_int(permissions.get(), 4), ""});
    }
    if (TableExists(db, schema, kColumnPermissionsTable)) {
      auto columns = catalog::Prepare(
          db, "SELECT object, action, grantee_uid, state, grantor_uid, column_name FROM " +
                  Table(schema, kColumnPermissionsTable));
      while (sqlite3_step(columns.get()) == SQLITE_ROW) {
        std::string state = catalog::ColumnText(columns.get(), 3);
        security.column_permissions.push_back(
            {catalog::ColumnText(columns.get(), 0), catalog::ColumnText(columns.get(), 1),
             sqlite3_column_int(columns.get(), 2), state.empty() ? 'G' : state[0],
             sqlite3_column_int(columns.get(), 4), catalog::ColumnText(columns.get(), 5)});
      }
    }
  } else {
    security.principals.push_back({kDboUid, "dbo", {}, false});
    if (HasGuestByDefault(database)) security.principals.push_back({kGuestUid, "guest", {}, false});
  }
  security.principals.push_back({kPublicUid, "public", {}, true});
  for (const Principal& role : FixedDatabaseRoles()) security.principals.push_back(role);
  std::vector<std::string> calling_tables;
  std::vector<std::string> computing_tables;
  std::vector<std::string> referring_tables;
  // A table's constraints and computed columns may call a built-in alone
  // (DB_ID(), OBJECT_ID('t')): that call too is read in its database.
  auto objects = catalog::Prepare(
      db, std::string("SELECT name, type, instr(sql, '") + kUserFunctionCall + "') > 0, " +
              "instr(sql, '" + kComputedFunctionCall + "') > 0 OR instr(sql, '" +
              kComputedBuiltinCall + "') > 0, instr(sql, '" + kBuiltinCall + "') > 0, " +
              "instr(lower(sql), 'references') > 0 FROM " +
              tsql::QuoteSqliteName(schema) + ".sqlite_master WHERE type IN ('table', 'view')");
  while (sqlite3_step(objects.get()) == SQLITE_ROW) {
    std::string name = catalog::ColumnText(objects.get(), 0);
    if (catalog::ColumnText(objects.get(), 1) == "view") {
      security.views.insert(tsql::ToLower(name));
      if (sqlite3_column_int(objects.get(), 2) != 0)
        security.calling_views.insert(tsql::ToLower(name));
    } else if (sqlite3_column_int(objects.get(), 2) != 0 ||
               sqlite3_column_int(objects.get(), 4) != 0) {
      calling_tables.push_back(name);
    }
    if (catalog::ColumnText(objects.get(), 1) == "table" &&
        sqlite3_column_int(objects.get(), 3) != 0) {
      computing_tables.push_back(name);
    }
    if (catalog::ColumnText(objects.get(), 1) == "table" &&
        sqlite3_column_int(objects.get(), 5) != 0) {
      referring_tables.push_back(name);
    }
    security.objects.insert(tsql::ToLower(name));
  }
  for (const std::string& table : calling_tables) {
    std::vector<ConstraintCall> calls = ConstraintCalls(db, schema, table);
    if (!calls.empty()) security.constraint_calls[tsql::ToLower(table)] = std::move(calls);
  }
  for (const std::string& table : referring_tables) {
    auto parents = catalog::Prepare(db, "SELECT \"table\" FROM pragma_foreign_key_list(?, ?)");
    sqlite3_bind_text(parents.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(parents.get(), 2, schema.c_str(), -1, SQLITE_TRANSIENT);
    while (sqlite3_step(parents.get()) == SQLITE_ROW) {
      security.foreign_keys.emplace(tsql::ToLower(table),
                                    tsql::ToLower(catalog::ColumnText(parents.get(), 0)));
    }
  }
  for (const std::string& table : computing_tables) {
    auto calls = ComputedCalls(db, schema, table);
    if (!calls.empty()) security.computed_calls[tsql::ToLower(table)] = std::move(calls);
  }
  if (TableExists(db, schema, kObjectOwnersTable)) {
    auto owners =
        catalog::Prepare(db, "SELECT object, owner_uid FROM " + Table(schema, kObjectOwnersTable));
    while (sqlite3_step(owners.get()) == SQLITE_ROW) {
      security.owners[tsql::ToLower(catalog::ColumnText(owners.get(), 0))] =
          sqlite3_column_int(owners.get(), 1);
    }
  }
  if (TableExists(db, schema, "sqlengine_procedures")) {
    auto procedures =
        catalog::Prepare(db, "SELECT name FROM " + Table(schema, "sqlengine_procedures"));
    while (sqlite3_step(procedures.get()) == SQLITE_ROW) {
      std::string name = tsql::ToLower(catalog::ColumnText(procedures.get(), 0));
      security.procedures.insert(name);
      security.objects.insert(std::move(name));
    }
  }
  if (TableExists(db, schema, catalog::kObjectsTable)) {
    auto functions = catalog::Prepare(db, "SELECT name FROM " + Table(schema, catalog::kObjectsTable) +
                                              " WHERE xtype IN ('FN', 'IF', 'TF')");
    while (sqlite3_step(functions.get()) == SQLITE_ROW)
      security.functions.insert(tsql::ToLower(catalog::ColumnText(functions.get(), 0)));
  }
  return security;
}

int AddPrincipal(sqlite3* db, const std::string& schema, std::string_view database,
                 std::string_view name, const Bytes& sid, bool is_role, int uid) {
  EnsureTables(db, schema, database);
  // Users from 5 up, roles from 16400 up, as SQL Server numbers them.
  // A given uid (guest's) is one row; the next free one is max()'s single row.
  std::string range = is_role ? "uid >= 16400" : "uid >= 5 AND uid < 16384";
  std::string row = uid >= 0 ? std::to_string(uid) + ", ?, ?, ?"
                             : std::string("coalesce(max(uid) + 1, ") +
                                   (is_role ? "16400" : "5") + "), ?, ?, ? FROM " +
                                   Table(schema, kPrincipalsTable) + " WHERE " + range;
  auto insert = catalog::Prepare(db, "INSERT INTO " + Table(schema, kPrincipalsTable) +
                                         " (uid, name, sid, is_role) SELECT " + row +
                                         " RETURNING uid");
  sqlite3_bind_text(insert.get(), 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
  if (sid.empty()) {
    sqlite3_bind_null(insert.get(), 2);
  } else {
    sqlite3_bind_blob(insert.get(), 2, sid.data(), static_cast<int>(sid.size()), SQLITE_TRANSIENT);
  }
  sqlite3_bind_int(insert.get(), 3, is_role ? 1 : 0);
  if (sqlite3_step(insert.get()) != SQLITE_ROW) throw std::runtime_error(sqlite3_errmsg(db));
  int assigned = sqlite3_column_int(insert.get(), 0);
  Step(db, insert.get());
  return assigned;
}

void RemovePrincipal(sqlite3* db, const std::string& schema, std::string_view database, int uid) {
  EnsureTables(db, schema, database);
  EnsureColumnTable(db, schema);
  for (const std::string& sql :
       {"DELETE FROM " + Table(schema, kPrincipalsTable) + " WHERE uid = ?1",
        "DELETE FROM " + Table(schema, kColumnPermissionsTable) + " WHERE grantee_uid = ?1",
        "DELETE FROM " + Table(schema, kRoleMembersTable) +
            " WHERE role_uid = ?1 OR member_uid = ?1",
        "DELETE FROM " + Table(schema, kPermissionsTable) + " WHERE grantee_uid = ?1"}) {
    auto remove = catalog::Prepare(db, sql);
    sqlite3_bind_int(remove.get(), 1, uid);
    Step(db, remove.get());
  }
}

void SetMembership(sqlite3* db, const std::string& schema, std::string_view database, int role,
                   int member, bool add) {
  EnsureTables(db, schema, database);
  auto change = catalog::Prepare(db, (add ? "INSERT OR IGNORE INTO " : "DELETE FROM ") +
                                         Table(schema, kRoleMembersTable) +
                                         (add ? " (role_uid, member_uid) VALUES (?1, ?2)"
                                              : " WHERE role_uid = ?1 AND member_uid = ?2"));
  sqlite3_bind_int(change.get(), 1, role);
  sqlite3_bind_int(change.get(), 2, member);
  Step(db, change.get());
}

void SetPermission(sqlite3* db, const std::string& schema, std::string_view database,
                   const PermissionRow& row) {
  EnsureTables(db, schema, database);
  RemoveColumnRows(db, schema, row);
  if (!row.column.empty()) {
    if (row.state == 0) return;
    EnsureColumnTable(db, schema);
    auto insert = catalog::Prepare(db, "INSERT INTO " + Table(schema, kColumnPermissionsTable) +
                                           " (object, column_name, action, grantee_uid, state, "
                                           "grantor_uid) VALUES (?, ?, ?, ?, ?, ?)");
    std::string state(1, row.state);
    sqlite3_bind_text(insert.get(), 1, row.object.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert.get(), 2, row.column.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert.get(), 3, row.action.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(insert.get(), 4, row.grantee);
    sqlite3_bind_text(insert.get(), 5, state.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(insert.get(), 6, row.grantor);
    Step(db, insert.get());
    return;
  }
  auto remove = catalog::Prepare(db, "DELETE FROM " + Table(schema, kPermissionsTable) +
                                         " WHERE object = ? AND action = ? AND grantee_uid = ?");
  sqlite3_bind_text(remove.get(), 1, row.object.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(remove.get(), 2, row.action.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_int(remove.get(), 3, row.grantee);
  Step(db, remove.get());
  if (row.state == 0) return;
  auto insert = catalog::Prepare(db, "INSERT INTO " + Table(schema, kPermissionsTable) +
                                         " (object, action, grantee_uid, state, grantor_uid) "
                                         "VALUES (?, ?, ?, ?, ?)");
  sqlite3_bind_text(insert.get(), 1, row.object.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(insert.get(), 2, row.action.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_int(insert.get(), 3, row.grantee);
  std::string state(1, row.state);
  sqlite3_bind_text(insert.get(), 4, state.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_int(insert.get(), 5, row.grantor);
  Step(db, insert.get());
}

void RecordOwner(sqlite3* db, const std::string& schema, std::string_view object, int uid) {
  catalog::Exec(db, "CREATE TABLE IF NOT EXISTS " + Table(schema, kObjectOwnersTable) +
                        " (object TEXT PRIMARY KEY COLLATE NOCASE, owner_uid INTEGER NOT NULL)");
  auto record = catalog::Prepare(db, "INSERT OR REPLACE INTO " + Table(schema, kObjectOwnersTable) +
                                         " (object, owner_uid) VALUES (?, ?)");
  sqlite3_bind_text(record.get(), 1, object.data(), static_cast<int>(object.size()),
                    SQLITE_TRANSIENT);
  sqlite3_bind_int(record.get(), 2, uid);
  Step(db, record.get());
}

bool ForgetObjectPermissions(sqlite3* db, const std::string& schema, std::string_view object) {
  bool removed = false;
  for (const char* table : {kPermissionsTable, kColumnPermissionsTable, kObjectOwnersTable}) {
    if (!TableExists(db, schema, table)) continue;
    auto remove = catalog::Prepare(db, "DELETE FROM " + Table(schema, table) + " WHERE object = ?");
    sqlite3_bind_text(remove.get(), 1, object.data(), static_cast<int>(object.size()),
                      SQLITE_TRANSIENT);
    Step(db, remove.get());
    removed = removed || sqlite3_changes(db) > 0;
  }
  ForgetObjectProperties(db, schema, object);
  return removed;
}

}  // namespace sqlengine::exec
