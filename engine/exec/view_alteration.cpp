// ALTER VIEW and sp_refreshview: a view's new definition replaces the old
// one in one step. The view stays the same object to everyone who uses it:
// the rights granted on it and its INSTEAD OF triggers (kept by the view's
// name) stay as they are.

#include "engine/exec/view_alteration.h"

#include "engine/catalog/sqlite_handle.h"
#include "engine/common/error.h"
#include "engine/exec/batch_executor.h"
#include "engine/exec/catalog_writes.h"
#include "engine/exec/extended_properties.h"
#include "engine/exec/front_end_view.h"
#include "engine/exec/owner_names.h"
#include "engine/exec/session.h"
#include "engine/exec/statement_authorizer.h"
#include "engine/exec/view_change_capture.h"
#include "engine/exec/write_lock.h"
#include "engine/tsql/definition_text.h"
#include "engine/tsql/lexer.h"
#include "engine/tsql/parser.h"
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

void RefreshView(Session& session, const std::string& written) {
  sqlite3* db = session.Connection().Handle();
  tsql::DottedName name = tsql::ReadWrittenName(written);
  std::optional<NamedObject> object;
  if (!name.parts.empty() && name.parts.size() <= 2)
    object = FindNamedObject(db, "main", name.Last());
  if (!object || object->type != "VIEW" || !ReachesAsWritten(session, name))
    throw MakeError(15009, {written, session.CurrentDatabase()});
  if (session.Rights().InCurrent().Check(object->name, Access::kAlter).has_value())
    throw MakeError(15247);
  // The view's text as its author wrote it is a CREATE VIEW: bound again,
  // it gives the definition with the columns as they now are.
  std::string text = ViewTextAsWritten(StoredViewSql(db, "main", object->name));
  tsql::StatementList statements = tsql::ParseBatch(tsql::Lex(text));
  std::optional<tsql::SqliteText> created;
  if (statements.size() == 1) created = FrontEndCreateView(*statements.front(), session, text);
  if (!created) {
    SqlError error = MakeError(8180);
    error.message().text += " This engine cannot run it: sp_refreshview of this view.";
    throw error;
  }
  // As every catalog change: 3906 in a read-only database, the write lock
  // first.
  CatalogWrite write(session);
  catalog::Exec(write.Db(), "DROP VIEW main." + tsql::QuoteSqliteName(object->name));
  catalog::Exec(write.Db(), created->sql);
  write.Commit();
}

}  // namespace sqlengine::exec
