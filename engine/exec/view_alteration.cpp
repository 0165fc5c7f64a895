// ALTER VIEW: a view's new definition replaces the old one in one step. The
// view stays the same object to everyone who uses it: the rights granted on
// it and its INSTEAD OF triggers (kept by the view's name) stay as they are.

#include "engine/catalog/sqlite_handle.h"
#include "engine/common/error.h"
#include "engine/exec/batch_executor.h"
#include "engine/exec/front_end_view.h"
#include "engine/exec/session.h"
#include "engine/exec/statement_authorizer.h"
#include "engine/exec/view_change_capture.h"
#include "engine/exec/write_lock.h"
#include "engine/tsql/definition_text.h"
#include "engine/tsql/sqlite_quoting.h"

namespace sqlengine::exec {

void BatchExecutor::AlterView(const tsql::Statement& statement, const std::string& view) {
  SessionConnection& connection = session_.Connection();
  sqlite3* db = connection.Handle();
  if (view.empty() || view.starts_with("#") || !IsView(db, "main", view))
    throw MakeError(208, {view});
  session_.Rights().Require(view, Access::kAlter);
  // Binds the new query first: a definition SQL Server refuses leaves the
  // old one in place.
  std::optional<tsql::SqliteText> created =
      FrontEndCreateView(statement, session_, tsql::DefinitionText(source_text_, statement.tokens));
  if (!created) {
    SqlError error = MakeError(8180);
    error.message().text += " This engine cannot run it: ALTER VIEW of this definition.";
    error.message().line = statement.line;
    throw error;
  }
  StatementTransaction own_transaction(db, "main", true);
  catalog::Exec(db, "SAVEPOINT sqlengine_ddl");
  try {
    TakeWriteLockFirst(db, "main");
    StatementAuthorizer::EngineScope engine_sql(connection.Authorizer());
    catalog::Exec(db, "DROP VIEW main." + tsql::QuoteSqliteName(view));
    catalog::Exec(db, created->sql);
    catalog::Exec(db, "RELEASE sqlengine_ddl");
  } catch (...) {
    if (sqlite3_get_autocommit(db) == 0)
      sqlite3_exec(db, "ROLLBACK TO sqlengine_ddl; RELEASE sqlengine_ddl", nullptr, nullptr,
                   nullptr);
    throw;
  }
  own_transaction.Commit();
  Done();
}

}  // namespace sqlengine::exec
