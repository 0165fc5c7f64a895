#include "engine/exec/user_messages.h"

#include <cstdlib>

#include "engine/catalog/sqlite_handle.h"
#include "engine/exec/engine_impl.h"
#include "engine/exec/procedure_arguments.h"
#include "engine/exec/session.h"
#include "engine/tsql/sqlite_quoting.h"

namespace sqlengine::exec {
namespace {

constexpr int kFirstUserMessage = 50001;

// The messages table, created in master when missing; its qualified name.
std::string MessagesTable(Session& session, bool create) {
  std::string table =
      "\"" + session.Connection().SchemaFor("master") + "\"." + std::string(kUserMessagesTable);
  if (create) {
    catalog::Exec(session.Connection().Handle(),
                  "CREATE TABLE IF NOT EXISTS " + table +
                      " (error INTEGER PRIMARY KEY, severity INTEGER NOT NULL, "
                      "description TEXT NOT NULL)");
  }
  return table;
}

int Number(const std::string& text) { return std::atoi(text.c_str()); }

void RequireAdministrator(Session& session) {
  if (session.IsSysadmin() ||
      session.Engine().Catalog().IsRoleMember("serveradmin", session.Login().name)) {
    return;
  }
  throw MakeError(15247);
}

void Step(sqlite3* db, sqlite3_stmt* statement) {
  if (sqlite3_step(statement) != SQLITE_DONE) throw MakeError(50000, {sqlite3_errmsg(db)});
}

void AddMessage(Session& session, const std::vector<CallArgument>& given) {
  Arguments args("sp_addmessage", given,
                 {"@msgnum", "@severity", "@msgtext", "@lang", "@with_log", "@replace"});
  int number = Number(args.Required(0, "sp_addmessage", "@msgnum"));
  int severity = Number(args.Required(1, "sp_addmessage", "@severity"));
  std::string text = args.Required(2, "sp_addmessage", "@msgtext");
  bool replace = args[5] && tsql::EqualsIgnoreCase(*args[5], "replace");
  RequireAdministrator(session);
  if (number < kFirstUserMessage) throw MakeError(15040);
  if (severity < 1 || severity > 25) throw MakeError(15041);
  sqlite3* db = session.Connection().Handle();
  std::string table = MessagesTable(session, /*create=*/true);
  if (!replace && FindUserMessage(session, number)) throw MakeError(15043);
  auto insert = catalog::Prepare(
      db, "INSERT OR REPLACE INTO " + table + " (error, severity, description) VALUES (?, ?, ?)");
  sqlite3_bind_int(insert.get(), 1, number);
  sqlite3_bind_int(insert.get(), 2, severity);
  sqlite3_bind_text(insert.get(), 3, text.c_str(), -1, SQLITE_TRANSIENT);
  Step(db, insert.get());
}

void DropMessage(Session& session, const std::vector<CallArgument>& given) {
  Arguments args("sp_dropmessage", given, {"@msgnum", "@lang"});
  int number = Number(args.Required(0, "sp_dropmessage", "@msgnum"));
  RequireAdministrator(session);
  if (number < kFirstUserMessage) throw MakeError(15178);
  if (!FindUserMessage(session, number)) throw MakeError(15179, {std::to_string(number)});
  sqlite3* db = session.Connection().Handle();
  auto remove =
      catalog::Prepare(db, "DELETE FROM " + MessagesTable(session, false) + " WHERE error = ?");
  sqlite3_bind_int(remove.get(), 1, number);
  Step(db, remove.get());
}

}  // namespace

bool HasUserMessages(sqlite3* db, const std::string& master_schema) {
  auto query = catalog::Prepare(db, "SELECT 1 FROM " + tsql::QuoteSqliteName(master_schema) +
                                        ".sqlite_master WHERE type = 'table' AND name = '" +
                                        std::string(kUserMessagesTable) + "'");
  return sqlite3_step(query.get()) == SQLITE_ROW;
}

bool RunMessageProcedure(Session& session, std::string_view name,
                         const std::vector<CallArgument>& arguments) {
  if (name == "sp_addmessage") {
    AddMessage(session, arguments);
  } else if (name == "sp_dropmessage") {
    DropMessage(session, arguments);
  } else {
    return false;
  }
  return true;
}

std::optional<std::string> FindUserMessage(Session& session, int number) {
  if (number < kFirstUserMessage || !HasUserMessages(session.Connection().Handle(), session.Connection().SchemaFor("master"))) return std::nullopt;
  auto query = catalog::Prepare(
      session.Connection().Handle(),
      "SELECT description FROM " + MessagesTable(session, false) + " WHERE error = ?");
  sqlite3_bind_int(query.get(), 1, number);
  if (sqlite3_step(query.get()) != SQLITE_ROW) return std::nullopt;
  return catalog::ColumnText(query.get(), 0);
}

}  // namespace sqlengine::exec
