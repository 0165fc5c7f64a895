#include "engine/exec/table_truncation.h"

#include <sqlite3.h>

#include <string>

#include "engine/catalog/sqlite_handle.h"
#include "engine/common/error.h"
#include "engine/exec/session.h"
#include "engine/tsql/dotted_name.h"
#include "engine/tsql/sqlite_quoting.h"

namespace sqlengine::exec {
namespace {

bool ReferencedByForeignKey(sqlite3* db, const MaintainedTable& table) {
  if (table.schema == "temp") return false;
  std::string schema = tsql::QuoteSqliteString(table.schema);
  auto query = catalog::Prepare(
      db, "SELECT 1 FROM " + tsql::QuoteSqliteName(table.schema) +
              ".sqlite_master AS m, pragma_foreign_key_list(m.name, " + schema +
              ") AS f WHERE m.type = 'table' AND f.\"table\" = ?1 COLLATE NOCASE LIMIT 1");
  sqlite3_bind_text(query.get(), 1, table.name.c_str(), -1, SQLITE_TRANSIENT);
  return sqlite3_step(query.get()) == SQLITE_ROW;
}

}  // namespace

std::optional<MaintainedTable> CheckTruncation(Session& session, const tsql::Statement& statement) {
  const tsql::Tokens& tokens = statement.tokens;
  size_t at = 2;
  if (at >= tokens.size() || !tokens[at].IsName()) return std::nullopt;
  std::optional<MaintainedTable> table =
      FindMaintainedTable(session, tsql::ReadDottedName(tokens, at));
  if (!table) return std::nullopt;
  if (!MayMaintain(session, *table)) throw MakeError(3704, {"table", table->name});
  if (ReferencedByForeignKey(session.Connection().Handle(), *table))
    throw MakeError(4712, {table->name});
  return table;
}

}  // namespace sqlengine::exec
