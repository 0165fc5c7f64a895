#pragma once
// The SQL Server catalog views as SQLite subqueries over a database's own
// schema and the engine's bookkeeping tables: sysdatabases, sysobjects,
// syscolumns, syscomments, systypes, sysfiles, master's sysaltfiles,
// INFORMATION_SCHEMA.TABLES and .COLUMNS; the index views
// (index_catalog_views.h), the other INFORMATION_SCHEMA views and sysdepends
// (information_schema_views.h) and the security ones with master's syslogins
// (security_catalog_views.h). Their declared columns are in
// catalog_view_columns.h.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/exec/stored_expressions.h"
#include "engine/exec/table_constraints.h"

namespace sqlengine::exec {

// One parameter of a stored procedure, as INFORMATION_SCHEMA.PARAMETERS lists it.
struct ProcedureParameter {
  std::string procedure;
  int position = 0;         // 1-based
  std::string name;         // "@code"
  std::string declaration;  // "nvarchar(10)"
  bool output = false;
};

struct CatalogTarget {
  std::string database;       // the database the view describes
  std::string schema;         // the SQLite schema it is reachable under
  std::string master_schema;  // where master is reachable (sysdatabases only)
  std::string data_file;      // full path of its data file
  std::string data_folder;    // ends in '/'
  bool has_security_tables = false;  // the database has had a security change
  bool guest_has_access = false;
  bool has_column_permissions = false;
  bool has_procedures = false;  // the database has its procedures table
  bool has_triggers = false;    // and its triggers table
  bool has_user_types = false;  // and its user types table
  bool has_rules = false;       // and its rules and defaults table
  bool has_user_messages = false;  // master has the table of sp_addmessage's messages
  bool has_object_owners = false;  // some object belongs to a user other than dbo
  // tempdb's catalog, which lists the session's #temp tables (reachable
  // under SQLite schema "temp") and other sessions' too; whether the
  // session has recorded any (temporary_tables.h).
  bool lists_temp_tables = false;
  bool has_temp_objects = false;
  std::string owner_sid_hex;  // its owner's sid in hex; empty for none
  std::string created;        // its creation time, as sysdatabases.crdate
  // Its procedures' parameters; read only for the views that list them
  // (NeedsParameters).
  std::vector<ProcedureParameter> parameters;
  // Its tables' constraints; read only for the views that list them
  // (NeedsConstraints).
  std::vector<TableConstraint> constraints;
  // In tempdb's target, the session's #temp tables' constraints, read as
  // `constraints` is.
  std::vector<TableConstraint> temp_constraints;
  // Its tables' computed columns; read only for syscomments.
  std::vector<ComputedColumnText> computed_columns;
};

// view: lower case ("sysobjects", "information_schema.columns").
bool IsCatalogView(std::string_view view);
bool NeedsMaster(std::string_view view);
bool NeedsParameters(std::string_view view);
bool NeedsConstraints(std::string_view view);

// Whether some catalog view reads the engine's or SQLite's table `table`.
bool IsCatalogViewSource(std::string_view table);

// The system tables every database lists in sysobjects (xtype 'S') and
// sp_tables: the catalog views above that were tables in SQL Server 2000,
// with SQL Server's object ids.
struct SystemTable {
  std::string_view name;
  int id;
};
inline constexpr SystemTable kSystemTables[] = {
    {"sysobjects", 1},       {"sysindexes", 2},     {"syscolumns", 3},      {"systypes", 4},
    {"syscomments", 6},      {"syspermissions", 9}, {"sysusers", 10},       {"sysdepends", 12},
    {"sysreferences", 14},   {"sysindexkeys", 25},  {"sysforeignkeys", 26}, {"sysmembers", 27},
    {"sysprotects", 28},     {"sysfiles", 97}};

// The system tables master lists besides: the server's own. No published
// listing gives SQL Server 2000's ids for them, so these are the engine's
// own, in a range (30 to 39) no other system table and no user object uses.
inline constexpr SystemTable kMasterSystemTables[] = {
    {"sysaltfiles", 30},   {"syscharsets", 31}, {"sysconfigures", 32}, {"syscurconfigs", 33},
    {"sysdatabases", 34},  {"sysdevices", 35},  {"syslanguages", 36},  {"sysmessages", 37},
    {"sysprocesses", 38},  {"sysservers", 39}};

// The system tables sysobjects lists in `database`: kSystemTables, and in
// master kMasterSystemTables too.
std::vector<SystemTable> SystemTablesOf(std::string_view database);

// SQL for the owner of the object whose name the SQL expression `object`
// gives: its uid in the database, and that user's (or role's) name. An
// object no user was recorded for is dbo's.
std::string OwnerUidSql(const CatalogTarget& target, std::string_view object);
std::string OwnerNameSql(const CatalogTarget& target, std::string_view object);

// The databases master records where `condition` (SQL over its columns)
// holds, as a FROM item `d` (dbid, name, path: the data file's full path);
// needs target.master_schema. DatabaseLogPathSql: the path of d's log file
// (catalog::LogFileFor's rule).
std::string DatabaseFilesSql(const CatalogTarget& target, std::string_view condition);
std::string DatabaseLogPathSql();

// sysobjects.status of a trigger's row: what fires it, in the engine's own
// bits of that internal column.
inline constexpr int kTriggerOnInsert = 256;
inline constexpr int kTriggerOnUpdate = 512;
inline constexpr int kTriggerOnDelete = 1024;
inline constexpr int kTriggerInsteadOf = 8192;

// The target whose views describe the session's #temp tables alone, from
// tempdb's target `t`.
CatalogTarget TempTablesTarget(const CatalogTarget& t);
// In tempdb's target `t`, " UNION ALL " and `view` of TempTablesTarget(t)
// to follow `view` of `t`; empty for another target.
std::string WithTempTables(const CatalogTarget& t, std::string (*view)(const CatalogTarget&));

// The catalog views of tempdb that list other sessions' #temp tables too
// (their names and columns, never their rows). Each session publishes its
// own tables' rows of them when a request ends (SessionRegistry).
inline constexpr std::string_view kViewsShownElsewhere[] = {"sysobjects", "syscolumns"};
// A SELECT of one text: the rows of `view_sql` (the SQL of `view`, of the
// #temp tables' target) as a JSON array of arrays in the view's column order.
std::string PublishedRowsSql(std::string_view view, const std::string& view_sql);
// " UNION ALL " and the rows of `view` other sessions published, in tempdb's
// target `t`; empty for another target.
std::string RowsElsewhere(const CatalogTarget& t, std::string_view view);
// The rows of tempdb's catalog view `view` (one of kViewsShownElsewhere) of
// the #temp tables of connection `db`, as PublishedRowsSql gives them. Run
// as the engine's own SQL. Throws std::runtime_error.
std::string TempCatalogRows(sqlite3* db, std::string_view view);

// A parenthesised SELECT; nullopt for a name that is not a catalog view.
std::optional<std::string> CatalogViewSql(std::string_view view, const CatalogTarget& target);

}  // namespace sqlengine::exec
