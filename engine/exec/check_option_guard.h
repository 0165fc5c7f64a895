#pragma once
// A change through a view WITH CHECK OPTION: every row it writes must meet
// the view's conditions, or the statement fails with 550.

#include <sqlite3.h>

#include <string>
#include <string_view>

#include "engine/catalog/sqlite_handle.h"
#include "engine/common/error.h"
#include "engine/exec/sqlite_errors.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/sqlite_text.h"

namespace sqlengine::exec {

// While it lives, a TEMP trigger refuses with 550 each row an INSERT (or
// an UPDATE) of guard.table writes that does not meet guard.condition. TEMP
// triggers fire even while the connection's triggers are switched off.
// Throws SqlError when the trigger cannot be made; one INSERT guard and one
// UPDATE guard at a time per connection.
class RowGuardTrigger {
 public:
  RowGuardTrigger(sqlite3* db, const tsql::SqliteText::RowGuard& guard, bool insert)
      : db_(db), name_(insert ? kInsertName : kName) {
    catalog::Exec(db, "CREATE TEMP TRIGGER " + std::string(name_) +
                          (insert ? " BEFORE INSERT ON " : " BEFORE UPDATE ON ") + guard.table +
                          " FOR EACH ROW WHEN (" + guard.condition +
                          ") = 0 BEGIN SELECT RAISE(ABORT, " +
                          tsql::QuoteSqliteString(FunctionErrorText(MakeError(550))) + "); END");
  }
  ~RowGuardTrigger() {
    sqlite3_exec(db_, ("DROP TRIGGER IF EXISTS temp." + std::string(name_)).c_str(), nullptr,
                 nullptr, nullptr);
  }
  RowGuardTrigger(const RowGuardTrigger&) = delete;
  RowGuardTrigger& operator=(const RowGuardTrigger&) = delete;

 private:
  static constexpr std::string_view kName = "\"sqlengine_check_option\"";
  static constexpr std::string_view kInsertName = "\"sqlengine_check_option_insert\"";
  sqlite3* db_;
  std::string_view name_;
};

}  // namespace sqlengine::exec
