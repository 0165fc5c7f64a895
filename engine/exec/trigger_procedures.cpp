#include "engine/exec/trigger_procedures.h"

#include "engine/catalog/sqlite_handle.h"
#include "engine/exec/procedure_arguments.h"
#include "engine/exec/session.h"
#include "engine/exec/triggers.h"
#include "engine/tsql/dotted_name.h"
#include "engine/tsql/lexer.h"

namespace sqlengine::exec {

bool RunTriggerProcedure(Session& session, std::string_view name,
                         const std::vector<CallArgument>& arguments, ResultSink& sink) {
  if (name != "sp_helptrigger") return false;
  Arguments args(name, arguments, {"@tabname", "@triggertype"});
  std::string written = args.Required(0, name, "@tabname");
  tsql::DottedName table = tsql::ReadDottedName(tsql::Lex(written), 0);
  sqlite3* db = session.Connection().Handle();
  bool exists = false;
  if (!table.parts.empty() && table.Database().empty() && !IsInternalName(table.Last())) {
    auto query = catalog::Prepare(
        db, "SELECT 1 FROM main.sqlite_master WHERE type = 'table' AND name = ? COLLATE NOCASE");
    sqlite3_bind_text(query.get(), 1, table.Last().c_str(), -1, SQLITE_TRANSIENT);
    exists = sqlite3_step(query.get()) == SQLITE_ROW;
  }
  if (!exists) throw MakeError(15009, {written, session.CurrentDatabase()});
  // @triggertype 'INSERT', 'UPDATE' or 'DELETE' keeps the triggers firing for it.
  std::string wanted = args[1] ? tsql::ToLower(*args[1]) : std::string();
  const ColumnType flag{SqlType::kInt};
  sink.BeginResult({{"trigger_name", ColumnType{SqlType::kNVarChar, 128}},
                    {"trigger_owner", ColumnType{SqlType::kNVarChar, 128}},
                    {"isupdate", flag},
                    {"isdelete", flag},
                    {"isinsert", flag},
                    {"isafter", flag},
                    {"isinsteadof", flag}});
  std::int64_t rows = 0;
  for (const StoredTrigger& trigger : TriggersOf(db, "main", table.Last())) {
    auto fires = [&](char event) {
      return std::int64_t{trigger.events.find(event) != std::string::npos ? 1 : 0};
    };
    if ((wanted == "insert" && !fires('I')) || (wanted == "update" && !fires('U')) ||
        (wanted == "delete" && !fires('D'))) {
      continue;
    }
    sink.AddRow({trigger.name, std::string("dbo"), fires('U'), fires('D'), fires('I'),
                 std::int64_t{trigger.instead_of ? 0 : 1},
                 std::int64_t{trigger.instead_of ? 1 : 0}});
    ++rows;
  }
  StatementDone done;
  done.row_count = rows;
  sink.Done(done);
  return true;
}

}  // namespace sqlengine::exec
