#include "engine/exec/ignored_duplicates.h"

#include <stdexcept>
#include <utility>

#include "engine/catalog/sqlite_handle.h"
#include "engine/tsql/sqlite_quoting.h"

namespace sqlengine::exec {
namespace {

// A session runs its statements on its own thread, which reads the note
// right after the statement.
thread_local bool ignored_duplicate = false;

void NoteIgnoredDuplicate(sqlite3_context* context, int, sqlite3_value**) {
  ignored_duplicate = true;
  sqlite3_result_int(context, 1);
}

std::string UnqualifiedTriggerName(const std::string& stored_index) {
  return "sqlengine_ignore_dup_" + stored_index;
}

std::string TriggerName(const std::string& schema, const std::string& stored_index) {
  return tsql::QuoteSqliteName(schema) + "." +
         tsql::QuoteSqliteName(UnqualifiedTriggerName(stored_index));
}

}  // namespace

void IgnoreDuplicateKeys(sqlite3* db, const std::string& schema, const std::string& table,
                         const std::string& stored_index, const std::vector<std::string>& columns) {
  if (columns.empty()) throw std::runtime_error("an index without columns");
  std::string quoted_table = tsql::QuoteSqliteName(table);
  std::string same;
  for (const std::string& column : columns) {
    std::string quoted = tsql::QuoteSqliteName(column);
    same += (same.empty() ? "" : " AND ") + quoted_table + "." + quoted + " IS NEW." + quoted;
  }
  catalog::Exec(db, "CREATE TRIGGER " + TriggerName(schema, stored_index) + " BEFORE INSERT ON " +
                        quoted_table + " FOR EACH ROW WHEN EXISTS (SELECT 1 FROM " + quoted_table +
                        " WHERE " + same +
                        ") AND sqlengine_ignored_duplicate() BEGIN SELECT RAISE(IGNORE); END");
}

void StopIgnoringDuplicateKeys(sqlite3* db, const std::string& schema,
                               const std::string& stored_index) {
  catalog::Exec(db, "DROP TRIGGER IF EXISTS " + TriggerName(schema, stored_index));
}

void RenameIgnoringDuplicateKeys(sqlite3* db, const std::string& schema, const std::string& from,
                                 const std::string& to) {
  auto query = catalog::Prepare(db, "SELECT sql FROM " + tsql::QuoteSqliteName(schema) +
                                        ".sqlite_master WHERE type = 'trigger' AND name = ?");
  std::string old_name = UnqualifiedTriggerName(from);
  sqlite3_bind_text(query.get(), 1, old_name.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(query.get()) != SQLITE_ROW) return;
  std::string sql = catalog::ColumnText(query.get(), 0);
  query.reset();
  // The text as it was made, without its schema: CREATE TRIGGER "name" ...
  std::string quoted = tsql::QuoteSqliteName(old_name);
  std::size_t at = sql.find(quoted);
  if (at == std::string::npos) throw std::runtime_error("unexpected trigger text: " + sql);
  sql.replace(at, quoted.size(), TriggerName(schema, to));
  catalog::Exec(db, "DROP TRIGGER " + TriggerName(schema, from));
  catalog::Exec(db, sql);
}

bool TakeIgnoredDuplicate() { return std::exchange(ignored_duplicate, false); }

void RegisterIgnoredDuplicateFunction(sqlite3* db) {
  if (sqlite3_create_function_v2(db, "sqlengine_ignored_duplicate", 0, SQLITE_UTF8, nullptr,
                                 NoteIgnoredDuplicate, nullptr, nullptr, nullptr) != SQLITE_OK) {
    throw std::runtime_error("cannot register sqlengine_ignored_duplicate");
  }
}

}  // namespace sqlengine::exec
