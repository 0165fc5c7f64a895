#include "engine/exec/catalog_view_columns.h"

namespace sqlengine::exec {
namespace {

constexpr bool kNull = true;
constexpr bool kNotNull = false;

constexpr CatalogViewColumn kSysDatabases[] = {
    {"name", "sysname", kNotNull},        {"dbid", "smallint", kNotNull},
    {"sid", "varbinary(85)", kNull},      {"mode", "smallint", kNotNull},
    {"status", "int", kNotNull},          {"status2", "int", kNotNull},
    {"crdate", "datetime", kNotNull},     {"reserved", "datetime", kNotNull},
    {"category", "int", kNotNull},        {"cmptlevel", "tinyint", kNotNull},
    {"filename", "nvarchar(260)", kNull}, {"version", "smallint", kNull},
};

constexpr CatalogViewColumn kSysObjects[] = {
    {"name", "sysname", kNotNull},         {"id", "int", kNotNull},
    {"xtype", "char(2)", kNotNull},        {"uid", "smallint", kNotNull},
    {"info", "smallint", kNotNull},        {"status", "int", kNotNull},
    {"base_schema_ver", "int", kNotNull},  {"replinfo", "int", kNotNull},
    {"parent_obj", "int", kNotNull},       {"crdate", "datetime", kNotNull},
    {"ftcatid", "smallint", kNotNull},     {"schema_ver", "int", kNotNull},
    {"stats_schema_ver", "int", kNotNull}, {"type", "char(2)", kNotNull},
    {"userstat", "smallint", kNotNull},    {"sysstat", "smallint", kNotNull},
    {"indexdel", "smallint", kNotNull},    {"refdate", "datetime", kNotNull},
    {"version", "int", kNotNull},          {"deltrig", "int", kNotNull},
    {"instrig", "int", kNotNull},          {"updtrig", "int", kNotNull},
    {"seltrig", "int", kNotNull},          {"category", "int", kNotNull},
    {"cache", "smallint", kNotNull},
};

constexpr CatalogViewColumn kSysColumns[] = {
    {"name", "sysname", kNull},         {"id", "int", kNotNull},
    {"xtype", "tinyint", kNotNull},     {"typestat", "tinyint", kNotNull},
    {"xusertype", "smallint", kNull},   {"length", "smallint", kNotNull},
    {"xprec", "tinyint", kNotNull},     {"xscale", "tinyint", kNotNull},
    {"colid", "smallint", kNotNull},    {"xoffset", "smallint", kNotNull},
    {"bitpos", "tinyint", kNotNull},    {"reserved", "tinyint", kNotNull},
    {"colstat", "smallint", kNotNull},  {"cdefault", "int", kNotNull},
    {"domain", "int", kNotNull},        {"number", "smallint", kNotNull},
    {"colorder", "smallint", kNotNull}, {"autoval", "varbinary(255)", kNull},
    {"offset", "smallint", kNotNull},   {"isnullable", "int", kNull},
    {"prec", "smallint", kNull},        {"scale", "int", kNull},
    {"iscomputed", "int", kNull},       {"isoutparam", "int", kNull},
    {"collation", "sysname", kNull},
};

constexpr CatalogViewColumn kSysComments[] = {
    {"id", "int", kNotNull},
    {"number", "smallint", kNotNull},
    {"colid", "smallint", kNotNull},
    {"status", "smallint", kNotNull},
    {"ctext", "varbinary(8000)", kNull},
    {"texttype", "smallint", kNull},
    {"language", "smallint", kNull},
    {"encrypted", "bit", kNotNull},
    {"compressed", "bit", kNotNull},
    {"text", "nvarchar(4000)", kNull},
};

constexpr CatalogViewColumn kSysTypes[] = {
    {"name", "sysname", kNotNull},    {"xtype", "tinyint", kNotNull},
    {"status", "tinyint", kNull},     {"xusertype", "smallint", kNull},
    {"length", "smallint", kNotNull}, {"xprec", "tinyint", kNotNull},
    {"xscale", "tinyint", kNotNull},  {"tdefault", "int", kNotNull},
    {"domain", "int", kNotNull},      {"uid", "smallint", kNull},
    {"reserved", "smallint", kNull},  {"variable", "bit", kNotNull},
    {"allownulls", "bit", kNull},     {"prec", "smallint", kNull},
    {"scale", "tinyint", kNull},      {"collation", "sysname", kNull},
};

constexpr CatalogViewColumn kSysFiles[] = {
    {"fileid", "smallint", kNotNull},
    {"groupid", "smallint", kNotNull},
    {"size", "int", kNotNull},
    {"maxsize", "int", kNotNull},
    {"growth", "int", kNotNull},
    {"status", "int", kNotNull},
    {"perf", "int", kNotNull},
    {"name", "sysname", kNotNull},
    {"filename", "nvarchar(260)", kNotNull},
};

constexpr CatalogViewColumn kSysUsers[] = {
    {"uid", "smallint", kNull},
    {"status", "smallint", kNull},
    {"name", "sysname", kNotNull},
    {"sid", "varbinary(85)", kNull},
    {"roles", "varbinary(2048)", kNull},
    {"createdate", "datetime", kNull},
    {"updatedate", "datetime", kNull},
    {"altuid", "smallint", kNull},
    {"password", "varbinary(256)", kNull},
    {"gid", "smallint", kNull},
    {"environ", "varchar(255)", kNull},
    {"hasdbaccess", "int", kNull},
    {"islogin", "int", kNull},
    {"isntname", "int", kNull},
    {"isntgroup", "int", kNull},
    {"isntuser", "int", kNull},
    {"issqluser", "int", kNull},
    {"isaliased", "int", kNull},
    {"issqlrole", "int", kNull},
    {"isapprole", "int", kNull},
};

constexpr CatalogViewColumn kSysMembers[] = {
    {"memberuid", "smallint", kNotNull},
    {"groupuid", "smallint", kNotNull},
};

constexpr CatalogViewColumn kSysProtects[] = {
    {"id", "int", kNotNull},
    {"uid", "smallint", kNull},
    {"action", "tinyint", kNull},
    {"protecttype", "tinyint", kNull},
    {"columns", "varbinary(4000)", kNull},
    {"grantor", "smallint", kNull},
};

constexpr CatalogViewColumn kSysPermissions[] = {
    {"id", "int", kNotNull},
    {"grantee", "smallint", kNotNull},
    {"grantor", "smallint", kNotNull},
    {"actadd", "smallint", kNull},
    {"actmod", "smallint", kNull},
    {"seladd", "varbinary(4000)", kNull},
    {"selmod", "varbinary(4000)", kNull},
    {"updadd", "varbinary(4000)", kNull},
    {"updmod", "varbinary(4000)", kNull},
    {"refadd", "varbinary(4000)", kNull},
    {"refmod", "varbinary(4000)", kNull},
};

constexpr CatalogViewColumn kTables[] = {
    {"TABLE_CATALOG", "nvarchar(128)", kNull},
    {"TABLE_SCHEMA", "nvarchar(128)", kNull},
    {"TABLE_NAME", "sysname", kNotNull},
    {"TABLE_TYPE", "varchar(10)", kNull},
};

constexpr CatalogViewColumn kColumns[] = {
    {"TABLE_CATALOG", "nvarchar(128)", kNull},
    {"TABLE_SCHEMA", "nvarchar(128)", kNull},
    {"TABLE_NAME", "nvarchar(128)", kNotNull},
    {"COLUMN_NAME", "nvarchar(128)", kNull},
    {"ORDINAL_POSITION", "smallint", kNull},
    {"COLUMN_DEFAULT", "nvarchar(4000)", kNull},
    {"IS_NULLABLE", "varchar(3)", kNull},
    {"DATA_TYPE", "nvarchar(128)", kNull},
    {"CHARACTER_MAXIMUM_LENGTH", "int", kNull},
    {"CHARACTER_OCTET_LENGTH", "int", kNull},
    {"NUMERIC_PRECISION", "tinyint", kNull},
    {"NUMERIC_PRECISION_RADIX", "smallint", kNull},
    {"NUMERIC_SCALE", "int", kNull},
    {"DATETIME_PRECISION", "smallint", kNull},
    {"CHARACTER_SET_CATALOG", "varchar(6)", kNull},
    {"CHARACTER_SET_SCHEMA", "varchar(3)", kNull},
    {"CHARACTER_SET_NAME", "nvarchar(128)", kNull},
    {"COLLATION_CATALOG", "varchar(6)", kNull},
    {"COLLATION_SCHEMA", "varchar(3)", kNull},
    {"COLLATION_NAME", "nvarchar(128)", kNull},
    {"DOMAIN_CATALOG", "nvarchar(128)", kNull},
    {"DOMAIN_SCHEMA", "nvarchar(128)", kNull},
    {"DOMAIN_NAME", "nvarchar(128)", kNull},
};

constexpr CatalogViewColumn kSysLogins[] = {
    {"suid", "smallint", kNull},
    {"sid", "varbinary(85)", kNull},
    {"status", "smallint", kNull},
    {"createdate", "datetime", kNotNull},
    {"updatedate", "datetime", kNotNull},
    {"accdate", "datetime", kNotNull},
    {"totcpu", "int", kNull},
    {"totio", "int", kNull},
    {"spacelimit", "int", kNull},
    {"timelimit", "int", kNull},
    {"resultlimit", "int", kNull},
    {"name", "sysname", kNull},
    {"dbname", "sysname", kNull},
    {"password", "nvarchar(128)", kNull},
    {"language", "sysname", kNull},
    {"denylogin", "int", kNull},
    {"hasaccess", "int", kNull},
    {"isntname", "int", kNull},
    {"isntgroup", "int", kNull},
    {"isntuser", "int", kNull},
    {"sysadmin", "int", kNull},
    {"securityadmin", "int", kNull},
    {"serveradmin", "int", kNull},
    {"setupadmin", "int", kNull},
    {"processadmin", "int", kNull},
    {"diskadmin", "int", kNull},
    {"dbcreator", "int", kNull},
    {"bulkadmin", "int", kNull},
    {"loginname", "sysname", kNull},
};

constexpr CatalogViewColumn kSysIndexes[] = {
    {"id", "int", kNotNull},
    {"status", "int", kNotNull},
    {"first", "binary(6)", kNull},
    {"indid", "smallint", kNotNull},
    {"root", "binary(6)", kNull},
    {"minlen", "smallint", kNotNull},
    {"keycnt", "smallint", kNotNull},
    {"groupid", "smallint", kNotNull},
    {"dpages", "int", kNotNull},
    {"reserved", "int", kNotNull},
    {"used", "int", kNotNull},
    {"rowcnt", "bigint", kNotNull},
    {"rowmodctr", "int", kNotNull},
    {"reserved3", "int", kNotNull},
    {"reserved4", "int", kNotNull},
    {"xmaxlen", "smallint", kNotNull},
    {"maxirow", "smallint", kNotNull},
    {"OrigFillFactor", "tinyint", kNotNull},
    {"StatVersion", "tinyint", kNotNull},
    {"reserved2", "int", kNotNull},
    {"FirstIAM", "binary(6)", kNull},
    {"impid", "smallint", kNotNull},
    {"lockflags", "smallint", kNotNull},
    {"pgmodctr", "int", kNotNull},
    {"keys", "varbinary(1088)", kNull},
    {"name", "sysname", kNull},
    {"statblob", "image", kNull},
    {"maxlen", "int", kNull},
    {"rows", "int", kNull},
};

constexpr CatalogViewColumn kSysIndexKeys[] = {
    {"id", "int", kNotNull},
    {"indid", "smallint", kNotNull},
    {"colid", "smallint", kNotNull},
    {"keyno", "smallint", kNotNull},
};

constexpr CatalogViewColumn kViewsView[] = {
    {"TABLE_CATALOG", "nvarchar(128)", kNull}, {"TABLE_SCHEMA", "nvarchar(128)", kNull},
    {"TABLE_NAME", "nvarchar(128)", kNotNull}, {"VIEW_DEFINITION", "nvarchar(4000)", kNull},
    {"CHECK_OPTION", "varchar(7)", kNull},     {"IS_UPDATABLE", "varchar(2)", kNull},
};

constexpr CatalogViewColumn kRoutines[] = {
    {"SPECIFIC_CATALOG", "nvarchar(128)", kNull},
    {"SPECIFIC_SCHEMA", "nvarchar(128)", kNull},
    {"SPECIFIC_NAME", "nvarchar(128)", kNotNull},
    {"ROUTINE_CATALOG", "nvarchar(128)", kNull},
    {"ROUTINE_SCHEMA", "nvarchar(128)", kNull},
    {"ROUTINE_NAME", "nvarchar(128)", kNotNull},
    {"ROUTINE_TYPE", "nvarchar(20)", kNull},
    {"DATA_TYPE", "nvarchar(128)", kNull},
    {"ROUTINE_BODY", "nvarchar(30)", kNull},
    {"ROUTINE_DEFINITION", "nvarchar(4000)", kNull},
    {"IS_DETERMINISTIC", "nvarchar(10)", kNull},
    {"SQL_DATA_ACCESS", "nvarchar(30)", kNull},
    {"CREATED", "datetime", kNull},
    {"LAST_ALTERED", "datetime", kNull},
};

constexpr CatalogViewColumn kTableConstraints[] = {
    {"CONSTRAINT_CATALOG", "nvarchar(128)", kNull}, {"CONSTRAINT_SCHEMA", "nvarchar(128)", kNull},
    {"CONSTRAINT_NAME", "sysname", kNotNull},       {"TABLE_CATALOG", "nvarchar(128)", kNull},
    {"TABLE_SCHEMA", "nvarchar(128)", kNull},       {"TABLE_NAME", "sysname", kNotNull},
    {"CONSTRAINT_TYPE", "varchar(11)", kNull},      {"IS_DEFERRABLE", "varchar(2)", kNotNull},
    {"INITIALLY_DEFERRED", "varchar(2)", kNotNull},
};

constexpr CatalogViewColumn kKeyColumnUsage[] = {
    {"CONSTRAINT_CATALOG", "nvarchar(128)", kNull}, {"CONSTRAINT_SCHEMA", "nvarchar(128)", kNull},
    {"CONSTRAINT_NAME", "nvarchar(128)", kNotNull}, {"TABLE_CATALOG", "nvarchar(128)", kNull},
    {"TABLE_SCHEMA", "nvarchar(128)", kNull},       {"TABLE_NAME", "nvarchar(128)", kNotNull},
    {"COLUMN_NAME", "nvarchar(128)", kNull},        {"ORDINAL_POSITION", "int", kNotNull},
};

constexpr CatalogViewColumn kReferentialConstraints[] = {
    {"CONSTRAINT_CATALOG", "nvarchar(128)", kNull},
    {"CONSTRAINT_SCHEMA", "nvarchar(128)", kNull},
    {"CONSTRAINT_NAME", "sysname", kNotNull},
    {"UNIQUE_CONSTRAINT_CATALOG", "nvarchar(128)", kNull},
    {"UNIQUE_CONSTRAINT_SCHEMA", "nvarchar(128)", kNull},
    {"UNIQUE_CONSTRAINT_NAME", "sysname", kNull},
    {"MATCH_OPTION", "varchar(7)", kNull},
    {"UPDATE_RULE", "varchar(9)", kNull},
    {"DELETE_RULE", "varchar(9)", kNull},
};

constexpr CatalogViewColumn kSysDepends[] = {
    {"id", "int", kNotNull},           {"depid", "int", kNotNull},
    {"number", "smallint", kNotNull},  {"depnumber", "smallint", kNotNull},
    {"status", "smallint", kNotNull},  {"deptype", "tinyint", kNotNull},
    {"depdbid", "smallint", kNotNull}, {"depsiteid", "smallint", kNotNull},
    {"selall", "bit", kNotNull},       {"resultobj", "bit", kNotNull},
    {"readobj", "bit", kNotNull},
};

constexpr CatalogViewColumn kSysAltFiles[] = {
    {"fileid", "smallint", kNotNull}, {"groupid", "smallint", kNotNull},
    {"size", "int", kNotNull},        {"maxsize", "int", kNotNull},
    {"growth", "int", kNotNull},      {"status", "int", kNotNull},
    {"perf", "int", kNotNull},        {"dbid", "smallint", kNotNull},
    {"name", "sysname", kNotNull},    {"filename", "nvarchar(260)", kNotNull},
};

constexpr CatalogViewColumn kSysProcesses[] = {
    {"spid", "smallint", kNotNull},           {"kpid", "smallint", kNotNull},
    {"blocked", "smallint", kNotNull},        {"waittype", "binary(2)", kNotNull},
    {"waittime", "int", kNotNull},            {"lastwaittype", "nchar(32)", kNotNull},
    {"waitresource", "nchar(256)", kNotNull}, {"dbid", "smallint", kNotNull},
    {"uid", "smallint", kNotNull},            {"cpu", "int", kNotNull},
    {"physical_io", "bigint", kNotNull},      {"memusage", "int", kNotNull},
    {"login_time", "datetime", kNotNull},     {"last_batch", "datetime", kNotNull},
    {"ecid", "smallint", kNotNull},           {"open_tran", "smallint", kNotNull},
    {"status", "nchar(30)", kNotNull},        {"sid", "binary(86)", kNotNull},
    {"hostname", "nchar(128)", kNotNull},     {"program_name", "nchar(128)", kNotNull},
    {"hostprocess", "nchar(8)", kNotNull},    {"cmd", "nchar(16)", kNotNull},
    {"nt_domain", "nchar(128)", kNotNull},    {"nt_username", "nchar(128)", kNotNull},
    {"net_address", "nchar(12)", kNotNull},   {"net_library", "nchar(12)", kNotNull},
    {"loginame", "nchar(128)", kNotNull},     {"context_info", "binary(128)", kNotNull},
    {"sql_handle", "binary(20)", kNotNull},   {"stmt_start", "int", kNotNull},
    {"stmt_end", "int", kNotNull},
};

constexpr CatalogViewColumn kSysMessages[] = {
    {"error", "int", kNotNull},         {"severity", "tinyint", kNotNull},
    {"dlevel", "smallint", kNotNull},   {"description", "nvarchar(255)", kNull},
    {"msglangid", "smallint", kNotNull},
};

constexpr CatalogViewColumn kSysLanguages[] = {
    {"langid", "smallint", kNotNull},        {"dateformat", "nchar(3)", kNotNull},
    {"datefirst", "tinyint", kNotNull},      {"upgrade", "int", kNull},
    {"name", "sysname", kNotNull},           {"alias", "sysname", kNotNull},
    {"months", "nvarchar(372)", kNull},      {"shortmonths", "nvarchar(132)", kNull},
    {"days", "nvarchar(217)", kNull},        {"lcid", "int", kNotNull},
    {"msglangid", "smallint", kNotNull},
};

constexpr CatalogViewColumn kSysCharSets[] = {
    {"type", "smallint", kNotNull},          {"id", "tinyint", kNotNull},
    {"csid", "tinyint", kNotNull},           {"status", "smallint", kNull},
    {"name", "sysname", kNotNull},           {"description", "nvarchar(255)", kNotNull},
    {"binarydefinition", "varbinary(255)", kNull}, {"definition", "image", kNull},
};

constexpr CatalogViewColumn kSysDevices[] = {
    {"name", "sysname", kNotNull},   {"size", "int", kNull},
    {"low", "int", kNull},           {"high", "int", kNull},
    {"status", "smallint", kNull},   {"cntrltype", "smallint", kNull},
    {"phyname", "nvarchar(260)", kNotNull},
};

constexpr CatalogViewColumn kSysServers[] = {
    {"srvid", "smallint", kNotNull},
    {"srvstatus", "smallint", kNull},
    {"srvname", "sysname", kNotNull},
    {"srvproduct", "sysname", kNotNull},
    {"providername", "nvarchar(128)", kNotNull},
    {"datasource", "nvarchar(4000)", kNull},
    {"location", "nvarchar(4000)", kNull},
    {"providerstring", "nvarchar(4000)", kNull},
    {"schemadate", "datetime", kNotNull},
    {"topologyx", "int", kNull},
    {"topologyy", "int", kNull},
    {"catalog", "sysname", kNull},
    {"srvcollation", "sysname", kNull},
    {"connecttimeout", "int", kNull},
    {"querytimeout", "int", kNull},
    {"srvnetname", "char(30)", kNull},
    {"isremote", "bit", kNull},
    {"rpc", "bit", kNotNull},
    {"pub", "bit", kNotNull},
    {"sub", "bit", kNull},
    {"dist", "bit", kNull},
    {"dpub", "bit", kNull},
    {"rpcout", "bit", kNull},
    {"dataaccess", "bit", kNull},
    {"collationcompatible", "bit", kNull},
    {"system", "bit", kNull},
    {"useremotecollation", "bit", kNull},
    {"lazyschemavalidation", "bit", kNull},
    {"collation", "sysname", kNull},
};

constexpr CatalogViewColumn kSysConfigures[] = {
    {"value", "int", kNotNull},
    {"config", "smallint", kNotNull},
    {"comment", "nvarchar(255)", kNotNull},
    {"status", "smallint", kNull},
};

constexpr CatalogViewColumn kSptValues[] = {
    {"name", "nvarchar(35)", kNull}, {"number", "int", kNotNull}, {"type", "nchar(3)", kNotNull},
    {"low", "int", kNull},           {"high", "int", kNull},      {"status", "int", kNull},
};

constexpr CatalogViewColumn kHelpCollations[] = {
    {"name", "nvarchar(128)", kNotNull},
    {"description", "nvarchar(1000)", kNull},
};

constexpr CatalogViewColumn kParameters[] = {
    {"SPECIFIC_CATALOG", "nvarchar(128)", kNull},   {"SPECIFIC_SCHEMA", "nvarchar(128)", kNull},
    {"SPECIFIC_NAME", "nvarchar(128)", kNotNull},   {"ORDINAL_POSITION", "smallint", kNotNull},
    {"PARAMETER_MODE", "nvarchar(10)", kNull},      {"IS_RESULT", "nvarchar(10)", kNull},
    {"AS_LOCATOR", "nvarchar(10)", kNull},          {"PARAMETER_NAME", "nvarchar(128)", kNull},
    {"DATA_TYPE", "nvarchar(128)", kNull},          {"CHARACTER_MAXIMUM_LENGTH", "int", kNull},
    {"CHARACTER_OCTET_LENGTH", "int", kNull},       {"NUMERIC_PRECISION", "tinyint", kNull},
    {"NUMERIC_PRECISION_RADIX", "smallint", kNull}, {"NUMERIC_SCALE", "int", kNull},
};

constexpr CatalogViewColumn kSysConstraints[] = {
    {"constid", "int", kNotNull}, {"id", "int", kNotNull},      {"colid", "smallint", kNotNull},
    {"spare1", "tinyint", kNotNull}, {"status", "int", kNotNull}, {"actions", "int", kNotNull},
    {"error", "int", kNotNull},
};

constexpr CatalogViewColumn kSysForeignKeys[] = {
    {"constid", "int", kNotNull},   {"fkeyid", "int", kNotNull},
    {"rkeyid", "int", kNotNull},    {"fkey", "smallint", kNotNull},
    {"rkey", "smallint", kNotNull}, {"keyno", "smallint", kNotNull},
};

constexpr CatalogViewColumn kSysReferences[] = {
    {"constid", "int", kNotNull},
    {"fkeyid", "int", kNotNull},
    {"rkeyid", "int", kNull},
    {"rkeyindid", "smallint", kNull},
    {"keycnt", "smallint", kNotNull},
    {"forkeys", "binary(32)", kNull},
    {"refkeys", "binary(32)", kNull},
    {"fkeydbid", "smallint", kNotNull},
    {"rkeydbid", "smallint", kNotNull},
    {"fkey1", "smallint", kNotNull},
    {"fkey2", "smallint", kNotNull},
    {"fkey3", "smallint", kNotNull},
    {"fkey4", "smallint", kNotNull},
    {"fkey5", "smallint", kNotNull},
    {"fkey6", "smallint", kNotNull},
    {"fkey7", "smallint", kNotNull},
    {"fkey8", "smallint", kNotNull},
    {"fkey9", "smallint", kNotNull},
    {"fkey10", "smallint", kNotNull},
    {"fkey11", "smallint", kNotNull},
    {"fkey12", "smallint", kNotNull},
    {"fkey13", "smallint", kNotNull},
    {"fkey14", "smallint", kNotNull},
    {"fkey15", "smallint", kNotNull},
    {"fkey16", "smallint", kNotNull},
    {"rkey1", "smallint", kNotNull},
    {"rkey2", "smallint", kNotNull},
    {"rkey3", "smallint", kNotNull},
    {"rkey4", "smallint", kNotNull},
    {"rkey5", "smallint", kNotNull},
    {"rkey6", "smallint", kNotNull},
    {"rkey7", "smallint", kNotNull},
    {"rkey8", "smallint", kNotNull},
    {"rkey9", "smallint", kNotNull},
    {"rkey10", "smallint", kNotNull},
    {"rkey11", "smallint", kNotNull},
    {"rkey12", "smallint", kNotNull},
    {"rkey13", "smallint", kNotNull},
    {"rkey14", "smallint", kNotNull},
    {"rkey15", "smallint", kNotNull},
    {"rkey16", "smallint", kNotNull},
};

constexpr CatalogViewColumn kCheckConstraints[] = {
    {"CONSTRAINT_CATALOG", "nvarchar(128)", kNull},
    {"CONSTRAINT_SCHEMA", "nvarchar(128)", kNull},
    {"CONSTRAINT_NAME", "sysname", kNotNull},
    {"CHECK_CLAUSE", "nvarchar(4000)", kNull},
};

constexpr CatalogViewColumn kConstraintColumnUsage[] = {
    {"TABLE_CATALOG", "nvarchar(128)", kNull},      {"TABLE_SCHEMA", "nvarchar(128)", kNull},
    {"TABLE_NAME", "sysname", kNotNull},            {"COLUMN_NAME", "sysname", kNull},
    {"CONSTRAINT_CATALOG", "nvarchar(128)", kNull}, {"CONSTRAINT_SCHEMA", "nvarchar(128)", kNull},
    {"CONSTRAINT_NAME", "sysname", kNotNull},
};

struct ViewColumns {
  std::string_view view;
  std::span<const CatalogViewColumn> columns;
};

constexpr ViewColumns kViews[] = {
    {"sysdatabases", kSysDatabases},
    {"sysobjects", kSysObjects},
    {"syscolumns", kSysColumns},
    {"syscomments", kSysComments},
    {"systypes", kSysTypes},
    {"sysfiles", kSysFiles},
    {"sysusers", kSysUsers},
    {"sysmembers", kSysMembers},
    {"sysprotects", kSysProtects},
    {"syspermissions", kSysPermissions},
    {"syslogins", kSysLogins},
    {"sysindexes", kSysIndexes},
    {"sysindexkeys", kSysIndexKeys},
    {"information_schema.tables", kTables},
    {"information_schema.columns", kColumns},
    {"information_schema.views", kViewsView},
    {"information_schema.routines", kRoutines},
    {"information_schema.table_constraints", kTableConstraints},
    {"information_schema.key_column_usage", kKeyColumnUsage},
    {"information_schema.referential_constraints", kReferentialConstraints},
    {"information_schema.parameters", kParameters},
    {"sysdepends", kSysDepends},
    {"sysaltfiles", kSysAltFiles},
    {"sysprocesses", kSysProcesses},
    {"spt_values", kSptValues},
    {"sysmessages", kSysMessages},
    {"syslanguages", kSysLanguages},
    {"sysservers", kSysServers},
    {"sysconfigures", kSysConfigures},
    {"syscurconfigs", kSysConfigures},
    {"syscharsets", kSysCharSets},
    {"sysdevices", kSysDevices},
    {"::fn_helpcollations", kHelpCollations},
    {"sysconstraints", kSysConstraints},
    {"sysforeignkeys", kSysForeignKeys},
    {"sysreferences", kSysReferences},
    {"information_schema.check_constraints", kCheckConstraints},
    {"information_schema.constraint_column_usage", kConstraintColumnUsage},
};

}  // namespace

std::span<const CatalogViewColumn> CatalogViewColumns(std::string_view view) {
  for (const ViewColumns& known : kViews) {
    if (known.view == view) return known.columns;
  }
  return {};
}

}  // namespace sqlengine::exec
