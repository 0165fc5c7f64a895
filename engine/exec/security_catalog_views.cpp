#include "engine/exec/security_catalog_views.h"

#include "engine/catalog/data_file.h"
#include "engine/catalog/master_catalog.h"
#include "engine/exec/database_security.h"
#include "engine/tsql/sqlite_quoting.h"

namespace sqlengine::exec {
namespace {

std::string Table(const CatalogTarget& t, const char* table) {
  return tsql::QuoteSqliteName(t.schema) + "." + table;
}

// (uid, name, sid, is_role, present): the stored principals, or what a
// database has before its first security change; guest without access
// (present 0) when it has none; public and the fixed roles. The one table
// read stands alone: SQLite names the enclosing view to the authorizer only
// for reads it can flatten into that view's query.
std::string Principals(const CatalogTarget& t) {
  std::string all;
  if (t.has_security_tables) {
    all = "SELECT uid, name, sid, is_role, 1 AS present FROM " + Table(t, kPrincipalsTable);
    if (!t.guest_has_access) all += " UNION ALL SELECT 2, 'guest', NULL, 0, 0";
  } else {
    all =
        "SELECT 1 AS uid, 'dbo' AS name, NULL AS sid, 0 AS is_role, 1 AS present "
        "UNION ALL SELECT 2, 'guest', NULL, 0, " +
        std::string(t.guest_has_access ? "1" : "0");
  }
  all += " UNION ALL SELECT 0, 'public', NULL, 1, 1";
  for (const Principal& role : FixedDatabaseRoles()) {
    all += " UNION ALL SELECT " + std::to_string(role.uid) + ", " +
           tsql::QuoteSqliteString(role.name) + ", NULL, 1, 1";
  }
  return all;
}

// The permission rows, or none before the first security change.
std::string Permissions(const CatalogTarget& t) {
  if (t.has_security_tables) {
    return "SELECT object, action, grantee_uid, state, grantor_uid FROM " +
           Table(t, kPermissionsTable);
  }
  return "SELECT '' AS object, '' AS action, 0 AS grantee_uid, 'G' AS state, 0 AS grantor_uid "
         "WHERE 0";
}

// The permission rows (p) with the id sysobjects shows for their object
// (0 for a statement permission). Joins rather than scalar subqueries, as in
// Principals.
std::string PermissionsWithIds(const CatalogTarget& t) {
  return "SELECT CASE WHEN p.object = '' THEN 0 ELSE coalesce(o.id, 1000 + m.rowid, 0) END AS id, "
         "p.action AS action, p.grantee_uid AS grantee_uid, p.state AS state, "
         "p.grantor_uid AS grantor_uid FROM (" +
         Permissions(t) + ") p LEFT JOIN " + Table(t, catalog::kObjectsTable) +
         " o ON o.name = p.object LEFT JOIN " + Table(t, "sqlite_master") +
         " m ON m.name = p.object COLLATE NOCASE AND m.type IN ('table', 'view') AND o.id IS NULL";
}

// SQL Server 2000's sysprotects action codes.
constexpr const char* kActionCodes =
    "CASE p.action WHEN 'REFERENCES' THEN 26 WHEN 'CREATE FUNCTION' THEN 178 "
    "WHEN 'SELECT' THEN 193 WHEN 'INSERT' THEN 195 WHEN 'DELETE' THEN 196 "
    "WHEN 'UPDATE' THEN 197 WHEN 'CREATE TABLE' THEN 198 WHEN 'CREATE DATABASE' THEN 203 "
    "WHEN 'CREATE VIEW' THEN 207 WHEN 'CREATE PROCEDURE' THEN 222 WHEN 'EXECUTE' THEN 224 "
    "WHEN 'BACKUP DATABASE' THEN 228 WHEN 'CREATE DEFAULT' THEN 233 WHEN 'BACKUP LOG' THEN 235 "
    "WHEN 'CREATE RULE' THEN 236 END";

// syspermissions' action bitmaps, one bit per permission as the
// management objects number them.
constexpr const char* kActionBits =
    "CASE p.action WHEN 'SELECT' THEN 1 WHEN 'INSERT' THEN 2 WHEN 'UPDATE' THEN 4 "
    "WHEN 'DELETE' THEN 8 WHEN 'EXECUTE' THEN 16 WHEN 'REFERENCES' THEN 32 "
    "WHEN 'CREATE TABLE' THEN 128 WHEN 'CREATE DATABASE' THEN 256 WHEN 'CREATE VIEW' THEN 512 "
    "WHEN 'CREATE PROCEDURE' THEN 1024 WHEN 'BACKUP DATABASE' THEN 2048 "
    "WHEN 'CREATE DEFAULT' THEN 4096 WHEN 'BACKUP LOG' THEN 8192 WHEN 'CREATE RULE' THEN 16384 "
    "ELSE 0 END";

}  // namespace

std::string SysUsers(const CatalogTarget& t) {
  std::string owner_sid = t.owner_sid_hex.empty() ? "X'01'" : "X'" + t.owner_sid_hex + "'";
  std::string created =
      t.created.empty() ? std::string("NULL") : tsql::QuoteSqliteString(t.created);
  return "(SELECT p.uid AS uid, "
         "CASE WHEN p.is_role = 0 AND p.uid <> 2 THEN 2 ELSE 0 END AS status, p.name AS name, "
         "CASE p.uid WHEN 1 THEN " +
         owner_sid + " WHEN 2 THEN X'00' ELSE p.sid END AS sid, NULL AS roles, " + created +
         " AS createdate, " + created +
         " AS updatedate, CASE WHEN p.is_role THEN 1 END AS altuid, NULL AS password, "
         "CASE WHEN p.is_role THEN p.uid ELSE 0 END AS gid, NULL AS environ, "
         "CASE WHEN p.is_role THEN 0 ELSE p.present END AS hasdbaccess, "
         "1 - p.is_role AS islogin, 0 AS isntname, 0 AS isntgroup, 0 AS isntuser, "
         "1 - p.is_role AS issqluser, 0 AS isaliased, p.is_role AS issqlrole, 0 AS isapprole "
         "FROM (" +
         Principals(t) + ") p)";
}

std::string SysMembers(const CatalogTarget& t) {
  // dbo is db_owner's member in every database.
  std::string dbo = "SELECT 1 AS memberuid, 16384 AS groupuid";
  if (!t.has_security_tables) return "(" + dbo + ")";
  return "(" + dbo + " UNION ALL SELECT member_uid, role_uid FROM " + Table(t, kRoleMembersTable) +
         ")";
}

std::string SysProtects(const CatalogTarget& t) {
  std::string columns = "CASE WHEN p.action IN ('SELECT', 'UPDATE', 'REFERENCES') THEN X'01' END";
  std::string whole = std::string("SELECT p.id AS id, p.grantee_uid AS uid, ") + kActionCodes +
                      " AS action, CASE p.state WHEN 'W' THEN 204 WHEN 'G' THEN 205 ELSE 206 "
                      "END AS protecttype, " +
                      columns + " AS columns, p.grantor_uid AS grantor FROM (" +
                      PermissionsWithIds(t) + ") p";
  if (!t.has_column_permissions) return "(" + whole + ")";
  // One row per object, grantee, action and kind with the bitmap of its columns.
  std::string column_rows =
      "SELECT c.state AS state, c.object AS object, "
      "c.action AS action, c.grantee_uid AS grantee_uid, c.grantor_uid AS grantor_uid, "
      "sqlengine_column_bitmap(group_concat(i.cid + 1)) AS columns FROM " +
      Table(t, kColumnPermissionsTable) + " c JOIN pragma_table_info(c.object, " +
      tsql::QuoteSqliteString(t.schema) +
      ") i ON i.name = c.column_name COLLATE NOCASE "
      "GROUP BY c.object, c.action, c.grantee_uid, c.state, c.grantor_uid";
  return "(" + whole +
         std::string(
             " UNION ALL SELECT coalesce(o.id, 1000 + m.rowid, 0), "
             "p.grantee_uid, ") +
         kActionCodes +
         ", CASE p.state WHEN 'W' THEN 204 WHEN 'G' THEN 205 ELSE 206 END, p.columns, "
         "p.grantor_uid FROM (" +
         column_rows + ") p LEFT JOIN " + Table(t, catalog::kObjectsTable) +
         " o ON o.name = p.object LEFT JOIN " + Table(t, "sqlite_master") +
         " m ON m.name = p.object COLLATE NOCASE AND m.type IN ('table', 'view') AND o.id IS "
         "NULL)";
}

std::string SysPermissions(const CatalogTarget& t) {
  return std::string(
             "(SELECT id, grantee, grantor, sum(CASE WHEN state <> 'D' THEN bit ELSE 0 END) AS "
             "actadd, "
             "sum(CASE WHEN state = 'D' THEN bit ELSE 0 END) AS actmod, NULL AS seladd, "
             "NULL AS selmod, NULL AS updadd, NULL AS updmod, NULL AS refadd, NULL AS refmod FROM "
             "(SELECT p.id AS id, p.grantee_uid AS grantee, p.grantor_uid AS grantor, "
             "p.state AS state, ") +
         kActionBits + " AS bit FROM (" + PermissionsWithIds(t) +
         ") p) GROUP BY id, grantee, grantor)";
}

std::string SysLogins(const CatalogTarget& t) {
  std::string members = tsql::QuoteSqliteName(t.master_schema) + "." + catalog::kRoleMembersTable;
  auto role = [&](std::string_view name) {
    return "EXISTS (SELECT 1 FROM " + members + " r WHERE r.login = l.name AND r.role = '" +
           std::string(name) + "') AS " + std::string(name) + ", ";
  };
  // No password leaves the engine: the column is NULL for every reader.
  return "(SELECT l.suid AS suid, l.sid AS sid, 9 AS status, l.created AS createdate, l.created AS updatedate, "
         "l.created AS accdate, 0 AS totcpu, 0 AS totio, 0 AS spacelimit, 0 AS timelimit, "
         "0 AS resultlimit, l.name AS name, l.default_database AS dbname, NULL AS password, "
         "'us_english' AS language, 0 AS denylogin, 1 AS hasaccess, 0 AS isntname, "
         "0 AS isntgroup, 0 AS isntuser, " +
         role("sysadmin") + role("securityadmin") + role("serveradmin") + role("setupadmin") +
         role("processadmin") + role("diskadmin") + role("dbcreator") + role("bulkadmin") +
         "l.name AS loginname FROM " + tsql::QuoteSqliteName(t.master_schema) + "." +
         catalog::kLoginsTable + " l)";
}

}  // namespace sqlengine::exec
