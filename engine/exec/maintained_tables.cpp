#include "engine/exec/maintained_tables.h"

#include "engine/catalog/sqlite_handle.h"
#include "engine/common/error.h"
#include "engine/exec/engine_impl.h"
#include "engine/exec/session.h"
#include "engine/tsql/dotted_name.h"
#include "engine/tsql/sqlite_quoting.h"

namespace sqlengine::exec {

std::optional<MaintainedTable> FindMaintainedTable(Session& session, const tsql::DottedName& name) {
  if (name.parts.empty() || name.Last().empty()) return std::nullopt;
  SessionConnection& connection = session.Connection();
  MaintainedTable table;
  if (tsql::IsLocalTempName(name.Last())) {
    table.schema = "temp";
    table.database = "tempdb";
  } else if (!name.Database().empty()) {
    table.schema = connection.SchemaFor(name.Database());
    table.database = name.Database();
  } else {
    table.schema = connection.UnqualifiedSchema();
    table.database = connection.ResolvesElsewhere() ? connection.DatabaseOfSchema(table.schema)
                                                    : session.CurrentDatabase();
  }
  std::string master = table.schema == "temp"
                           ? "sqlite_temp_master"
                           : tsql::QuoteSqliteName(table.schema) + ".sqlite_master";
  auto query = catalog::Prepare(connection.Handle(), "SELECT name FROM " + master +
                                                         " WHERE type = 'table' AND name = ? "
                                                         "COLLATE NOCASE AND name NOT LIKE "
                                                         "'sqlengine!_%' ESCAPE '!' AND name NOT "
                                                         "LIKE 'sqlite!_%' ESCAPE '!'");
  sqlite3_bind_text(query.get(), 1, name.Last().c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(query.get()) != SQLITE_ROW) return std::nullopt;
  table.name = catalog::ColumnText(query.get(), 0);
  if (std::optional<catalog::DatabaseEntry> entry = session.Engine().FindDatabase(table.database)) {
    table.database = entry->name;
  }
  return table;
}

std::optional<MaintainedTable> FindMaintainedTable(Session& session, std::string_view written) {
  return FindMaintainedTable(session, tsql::ReadWrittenName(written));
}

bool MayMaintain(Session& session, const MaintainedTable& table) {
  if (table.schema == "temp") return true;
  const DatabaseRights& rights = session.Rights().In(table.database, table.schema);
  return !rights.Check(table.name, Access::kAlter).has_value();
}

}  // namespace sqlengine::exec
