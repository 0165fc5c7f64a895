#include "engine/exec/server_catalog_views.h"

#include "engine/common/error.h"
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

}  // namespace sqlengine::exec
