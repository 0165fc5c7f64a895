#include "engine/exec/object_maintenance.h"

#include <cctype>

#include "engine/catalog/sqlite_handle.h"
#include "engine/common/error.h"
#include "engine/exec/catalog_writes.h"
#include "engine/exec/database_security.h"
#include "engine/exec/engine_impl.h"
#include "engine/exec/extended_properties.h"
#include "engine/exec/owner_names.h"
#include "engine/exec/procedure_arguments.h"
#include "engine/exec/session.h"
#include "engine/exec/triggers.h"
#include "engine/exec/view_alteration.h"
#include "engine/tsql/dotted_name.h"
#include "engine/tsql/sqlite_quoting.h"

namespace sqlengine::exec {
namespace {

using tsql::EqualsIgnoreCase;

void Print(ResultSink& sink, std::string text) {
  ServerMessage message;
  message.text = std::move(text);
  sink.Message(message);
}

// The user tables of the current database whose names are LIKE `pattern`, by name.
std::vector<std::string> UserTablesLike(sqlite3* db, const std::string& pattern) {
  std::vector<std::string> tables;
  catalog::PreparedStatement list = catalog::Prepare(
      db,
      "SELECT name FROM main.sqlite_master WHERE type = 'table' AND name LIKE ? AND name NOT "
      "LIKE 'sqlite!_%' ESCAPE '!' AND name NOT LIKE 'sqlengine!_%' ESCAPE '!' ORDER BY name "
      "COLLATE NOCASE");
  sqlite3_bind_text(list.get(), 1, pattern.c_str(), -1, SQLITE_TRANSIENT);
  while (sqlite3_step(list.get()) == SQLITE_ROW)
    tables.push_back(catalog::ColumnText(list.get(), 0));
  return tables;
}

// The object `written` names ("name" or "owner.name"): nullopt when there is
// none, or the owner written is not its owner.
std::optional<NamedObject> FindOwnedObject(Session& session, const std::string& written) {
  tsql::DottedName name = tsql::ReadWrittenName(written);
  if (name.parts.empty() || name.parts.size() > 2) return std::nullopt;
  std::optional<NamedObject> object =
      FindNamedObject(session.Connection().Handle(), "main", name.Last());
  if (!object || !ReachesAsWritten(session, "", OwnerPart(name), object->name))
    return std::nullopt;
  return object;
}

// sp_changeobjectowner 'object', 'owner': dbo, db_owner, or a user in both
// db_ddladmin and db_securityadmin. The object's permissions go, as in SQL
// Server; its properties stay with it.
void ChangeObjectOwner(Session& session, const std::vector<CallArgument>& given, ResultSink& sink) {
  constexpr std::string_view kName = "sp_changeobjectowner";
  Arguments args(kName, given, {"@objname", "@newowner"});
  std::string written = args.Required(0, kName, "@objname");
  std::string owner = args.Required(1, kName, "@newowner");
  const DatabaseRights& rights = session.Rights().InCurrent();
  if (!rights.IsDbo() && !rights.InRole("db_owner") &&
      !(rights.InRole("db_ddladmin") && rights.InRole("db_securityadmin"))) {
    throw MakeError(15247);
  }
  std::optional<NamedObject> object = FindOwnedObject(session, written);
  if (!object) throw MakeError(15001, {written});
  const DatabaseSecurity& security = rights.Security();
  const Principal* principal =
      EqualsIgnoreCase(owner, "dbo") ? security.FindUid(kDboUid) : security.Find(owner);
  int uid = EqualsIgnoreCase(owner, "dbo") ? kDboUid : principal ? principal->uid : -1;
  if (uid < 0 || uid == kPublicUid) throw MakeError(15410, {owner});
  sink.Message(FormatMessage(15477));
  CatalogWrite write(session);
  sqlite3* db = write.Db();
  for (const char* table : {kPermissionsTable, kColumnPermissionsTable, kObjectOwnersTable}) {
    if (!HasTable(db, table)) continue;
    RunWithTexts(db, std::string("DELETE FROM main.") + table + " WHERE object = ?",
                 {object->name});
  }
  if (uid != kDboUid) RecordOwner(db, "main", object->name, uid);
  write.Commit();
  session.Engine().SecurityChanged();
}

// sp_recompile 'object': a table, view, procedure, function or trigger its
// owner, db_owner or db_ddladmin may alter. The engine binds procedures,
// functions and triggers again whenever a schema they use changes; the
// bindings and compilations sessions keep (bound_texts.h,
// statement_cache.h) are made again after it all the same.
void Recompile(Session& session, const std::vector<CallArgument>& given, ResultSink& sink) {
  Arguments args("sp_recompile", given, {"@objname"});
  std::string written = args.Required(0, "sp_recompile", "@objname");
  std::optional<NamedObject> object = FindOwnedObject(session, written);
  std::string name;
  if (object && object->type != "DEFAULT" && object->type != "RULE") {
    name = object->name;
  } else {
    sqlite3* db = session.Connection().Handle();
    tsql::DottedName parts = tsql::ReadWrittenName(written);
    if (!parts.parts.empty() && HasTriggers(db, "main")) {
      catalog::PreparedStatement trigger =
          catalog::Prepare(db, std::string("SELECT table_name, name FROM main.") + kTriggersTable +
                                   " WHERE name = ? COLLATE NOCASE");
      sqlite3_bind_text(trigger.get(), 1, parts.Last().c_str(), -1, SQLITE_TRANSIENT);
      if (sqlite3_step(trigger.get()) == SQLITE_ROW) {
        std::string table = catalog::ColumnText(trigger.get(), 0);
        if (session.Rights().InCurrent().Check(table, Access::kAlter).has_value())
          throw MakeError(15247);
        sink.Message(FormatMessage(15070, {catalog::ColumnText(trigger.get(), 1)}));
        return;
      }
    }
    throw MakeError(15009, {written, session.CurrentDatabase()});
  }
  const DatabaseRights& rights = session.Rights().InCurrent();
  if (!rights.IsDbo() && !rights.InRole("db_owner") && !rights.InRole("db_ddladmin") &&
      !rights.OwnsObject(name)) {
    throw MakeError(15247);
  }
  // Every session's kept statements are keyed by the security generation.
  session.Engine().SecurityChanged();
  sink.Message(FormatMessage(15070, {name}));
}

// sp_updatestats: dbo and db_owner refresh the statistics of every user table.
void UpdateStats(Session& session, const std::vector<CallArgument>& given, ResultSink& sink) {
  Arguments args("sp_updatestats", given, {"@resample"});
  const DatabaseRights& rights = session.Rights().InCurrent();
  if (!rights.IsDbo() && !rights.InRole("db_owner")) throw MakeError(15247);
  CatalogWrite write(session);
  sqlite3* db = write.Db();
  std::vector<std::string> tables = UserTablesLike(db, "%");
  const DatabaseSecurity& security = rights.Security();
  for (const std::string& table : tables) {
    Print(sink, "Updating " + OwnerNameOf(security, table) + "." + table);
    catalog::Exec(db, "ANALYZE main." + tsql::QuoteSqliteName(table));
  }
  write.Commit();
  Print(sink, "Statistics for all tables have been updated.");
}

// sp_tableoption 'table pattern', 'option', 'value': SQL Server 2000's four
// table options. The engine keeps them (extended_properties.h); none
// changes how it stores or locks a table.
void TableOption(Session& session, const std::vector<CallArgument>& given) {
  constexpr std::string_view kName = "sp_tableoption";
  Arguments args(kName, given, {"@TableNamePattern", "@OptionName", "@OptionValue"});
  std::string pattern = args.Required(0, kName, "@TableNamePattern");
  std::string option = tsql::ToLower(args.Required(1, kName, "@OptionName"));
  std::string value = tsql::ToLower(args.Required(2, kName, "@OptionValue"));
  auto invalid = [&] { return MakeError(15600, {kName}); };
  if (option != "pintable" && option != "table lock on bulk load" && option != "insert row lock" &&
      option != "text in row") {
    throw invalid();
  }
  std::int64_t setting = 0;
  if (value == "true" || value == "on" || value == "1") {
    setting = option == "text in row" ? 256 : 1;
  } else if (value == "false" || value == "off" || value == "0") {
    setting = 0;
  } else {
    // 'text in row' also takes the largest value kept in the row, 24 to 7000.
    bool number = option == "text in row" && !value.empty() && value.size() <= 4;
    for (char c : value) number = number && std::isdigit(static_cast<unsigned char>(c));
    if (!number) throw invalid();
    setting = std::stoll(value);
    if (setting < 24 || setting > 7000) throw invalid();
  }
  tsql::DottedName name = tsql::ReadWrittenName(pattern);
  if (name.parts.empty()) throw MakeError(15009, {pattern, session.CurrentDatabase()});
  const DatabaseRights& rights = session.Rights().InCurrent();
  CatalogWrite write(session);
  sqlite3* db = write.Db();
  std::vector<std::string> tables = UserTablesLike(db, name.Last());
  if (tables.empty()) throw MakeError(15009, {pattern, session.CurrentDatabase()});
  for (const std::string& table : tables) {
    if (rights.Check(table, Access::kAlter).has_value()) throw MakeError(15247);
    SetTableOption(db, table, option, setting);
  }
  write.Commit();
}

}  // namespace

bool RunObjectMaintenanceProcedure(Session& session, std::string_view name,
                                   const std::vector<CallArgument>& given, ResultSink& sink) {
  if (name == "sp_changeobjectowner") {
    ChangeObjectOwner(session, given, sink);
  } else if (name == "sp_recompile") {
    Recompile(session, given, sink);
  } else if (name == "sp_refreshview") {
    Arguments args(name, given, {"@viewname"});
    RefreshView(session, args.Required(0, name, "@viewname"));
  } else if (name == "sp_updatestats") {
    UpdateStats(session, given, sink);
  } else if (name == "sp_tableoption") {
    TableOption(session, given);
  } else {
    return false;
  }
  return true;
}

}  // namespace sqlengine::exec
