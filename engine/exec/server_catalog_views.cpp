#include "engine/exec/server_catalog_views.h"

#include "engine/catalog/server_configuration.h"
#include "engine/common/error.h"
#include "engine/exec/configuration_procedures.h"
#include "engine/exec/languages.h"
#include "engine/exec/server_functions.h"
#include "engine/exec/user_messages.h"
#include "engine/tsql/sqlite_quoting.h"

namespace sqlengine::exec {

std::string SysMessages(const CatalogTarget& t) {
  // Written once: the message table does not change while the engine runs.
  static const std::string system_messages = [] {
    std::string rows;
    for (const MessageTemplate& message : MessageTemplates()) {
      rows += std::string(rows.empty() ? "VALUES " : ", ") + "(" +
              std::to_string(message.number) + ", " + std::to_string(message.severity) + ", " +
              tsql::QuoteSqliteString(std::string(message.text)) + ")";
    }
    return rows;
  }();
  std::string sql = "(SELECT column1 AS error, column2 AS severity, 0 AS dlevel, column3 AS "
                    "description, 1033 AS msglangid FROM (" +
                    system_messages + ")";
  if (t.has_user_messages) {
    sql += " UNION ALL SELECT error, severity, 0, description, 1033 FROM " +
           tsql::QuoteSqliteName(t.master_schema) + "." + kUserMessagesTable;
  }
  return sql + ")";
}

std::string SysLanguages(const CatalogTarget&) {
  std::string rows;
  for (const Language& language : Languages()) {
    auto quoted = [](std::string_view text) { return tsql::QuoteSqliteString(std::string(text)); };
    rows += std::string(rows.empty() ? "VALUES " : ", ") + "(" +
            std::to_string(language.langid) + ", " + quoted(language.dateformat) + ", " +
            std::to_string(language.first_day) + ", " + quoted(language.name) + ", " +
            quoted(language.alias) + ", " + quoted(language.months) + ", " +
            quoted(language.short_months) + ", " + quoted(language.days) + ", " +
            std::to_string(language.lcid) + ")";
  }
  // Messages are in English for every language.
  return "(SELECT column1 AS langid, column2 AS dateformat, column3 AS datefirst, 0 AS upgrade, "
         "column4 AS name, column5 AS alias, column6 AS months, column7 AS shortmonths, "
         "column8 AS days, column9 AS lcid, 1033 AS msglangid FROM (" +
         rows + "))";
}

std::string SysServers(const CatalogTarget& t) {
  std::string name = tsql::QuoteSqliteString(kServerName);
  // srvstatus 1089: rpc (1), rpc out (64), use remote collation (1024).
  return "(SELECT 0 AS srvid, 1089 AS srvstatus, " + name +
         " AS srvname, 'SQL Server' AS srvproduct, 'SQLOLEDB' AS providername, " + name +
         " AS datasource, NULL AS location, NULL AS providerstring, " +
         tsql::QuoteSqliteString(t.created.empty() ? "1900-01-01 00:00:00.000" : t.created) +
         " AS schemadate, "
         "0 AS topologyx, 0 AS topologyy, NULL AS catalog, NULL AS srvcollation, "
         "0 AS connecttimeout, 0 AS querytimeout, " +
         name +
         " AS srvnetname, 1 AS isremote, 1 AS rpc, 0 AS pub, 0 AS sub, 0 AS dist, 0 AS dpub, "
         "1 AS rpcout, 0 AS dataaccess, 0 AS collationcompatible, 0 AS system, "
         "1 AS useremotecollation, 0 AS lazyschemavalidation, NULL AS collation)";
}

namespace {

// The options as rows: name, config, comment, status, minimum, maximum.
std::string OptionRows() {
  std::string rows;
  for (const ConfigurationOption& option : ConfigurationOptions()) {
    rows += std::string(rows.empty() ? "VALUES " : ", ") + "(" +
            tsql::QuoteSqliteString(std::string(option.name)) + ", " +
            std::to_string(option.number) + ", " +
            tsql::QuoteSqliteString(std::string(option.description)) + ", " +
            std::to_string(option.status) + ")";
  }
  return "(SELECT column1 AS name, column2 AS config, column3 AS comment, column4 AS status "
         "FROM (" + rows + "))";
}

}  // namespace

std::string SysConfigures(const CatalogTarget& t) {
  // An option never set is configured as it runs.
  return "(SELECT coalesce((SELECT s.value FROM " + tsql::QuoteSqliteName(t.master_schema) + "." +
         catalog::kConfigurationsTable +
         " s WHERE s.name = o.name), sqlengine_configuration_in_use(o.name)) AS value, "
         "o.config AS config, o.comment AS comment, o.status AS status FROM " +
         OptionRows() + " o)";
}

std::string SysCurConfigs(const CatalogTarget&) {
  return "(SELECT sqlengine_configuration_in_use(o.name) AS value, o.config AS config, "
         "o.comment AS comment, o.status AS status FROM " +
         OptionRows() + " o)";
}

std::string SysCharSets(const CatalogTarget&) {
  // type 1001: a character set; 2001: a sort order, over the set csid.
  return "(SELECT 1001 AS type, 1 AS id, 0 AS csid, 0 AS status, 'iso_1' AS name, "
         "'ISO 8859-1 (Latin-1) - Western European 8-bit character set.' AS description, "
         "NULL AS binarydefinition, NULL AS definition "
         "UNION ALL SELECT 2001, 52, 1, 0, 'nocase_iso', "
         "'Case-insensitive dictionary sort order for use with several Western-European "
         "languages including English, French, and German. Uses the ISO 8859-1 character set.', "
         "NULL, NULL)";
}

std::string SysDevices(const CatalogTarget& t) {
  // Named as sysaltfiles names the files; size in 2 KB pages; status 2: a
  // physical disk; cntrltype 0: a database file.
  std::string log = DatabaseLogPathSql();
  std::string databases = DatabaseFilesSql(t, "dbid IN (1, 2, 3)");
  return "(SELECT name, size, 0 AS low, 0 AS high, 2 AS status, 0 AS cntrltype, phyname FROM "
         "(SELECT d.dbid, 0 AS part, d.name AS name, 4 * sqlengine_file_pages(d.path) AS size, "
         "d.path AS phyname FROM " + databases +
         " UNION ALL SELECT d.dbid, 1, d.name || '_log', 4 * sqlengine_file_pages(" + log + "), " +
         log + " FROM " + databases + ") ORDER BY dbid, part)";
}

}  // namespace sqlengine::exec
