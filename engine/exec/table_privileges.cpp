#include "engine/exec/table_privileges.h"

#include <algorithm>
#include <functional>
#include <tuple>

#include "engine/catalog/sqlite_handle.h"
#include "engine/exec/catalog_procedures.h"
#include "engine/exec/database_security.h"
#include "engine/exec/procedure_arguments.h"
#include "engine/exec/result_builder.h"
#include "engine/exec/session.h"

namespace sqlengine::exec {
namespace {

using tsql::EqualsIgnoreCase;

ColumnType Name() { return ColumnType{SqlType::kNVarChar, 128}; }

std::string PrincipalName(const DatabaseSecurity& security, int uid) {
  const Principal* found = security.FindUid(uid);
  return found != nullptr ? found->name : "dbo";
}

// One privilege as ODBC lists it.
struct Privilege {
  std::string table;
  std::string column;  // sp_column_privileges only
  std::string grantor;
  std::string grantee;
  std::string action;
  bool grantable = false;

  auto Order() const {
    return std::make_tuple(tsql::ToLower(table), tsql::ToLower(column), action,
                           tsql::ToLower(grantee), tsql::ToLower(grantor));
  }
};

// Whether the caller may see `table` listed: it owns it or holds some
// permission on it or on one of its columns, as for its other catalog rows.
bool MaySee(Session& session, const std::string& table) {
  const DatabaseRights& rights = session.Rights().InCurrent();
  if (rights.IsDbo() || rights.InRole("db_owner") || rights.OwnsObject(table)) return true;
  for (Access access :
       {Access::kSelect, Access::kInsert, Access::kUpdate, Access::kDelete, Access::kReferences}) {
    if (!rights.Check(table, access).has_value()) return true;
  }
  catalog::PreparedStatement columns = catalog::Prepare(
      session.Connection().Handle(), "SELECT name FROM pragma_table_info(?, 'main')");
  sqlite3_bind_text(columns.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  while (sqlite3_step(columns.get()) == SQLITE_ROW) {
    std::string column = catalog::ColumnText(columns.get(), 0);
    for (Access access : {Access::kSelect, Access::kUpdate, Access::kReferences}) {
      if (!rights.Check(table, access, column).has_value()) return true;
    }
  }
  return false;
}

// The privileges on `table`, of `actions`: its owner's own (grantable), then
// every grant of the whole table; with `column`, also the grants of that
// column alone.
void Collect(const DatabaseSecurity& security, const std::string& table,
             const std::vector<std::string_view>& actions, const std::string* column,
             std::vector<Privilege>& out) {
  std::string owner = PrincipalName(security, security.OwnerOf(table));
  std::string item = column != nullptr ? *column : std::string();
  for (std::string_view action : actions) {
    out.push_back({table, item, owner, owner, std::string(action), true});
  }
  auto add = [&](const PermissionRow& row) {
    if (!EqualsIgnoreCase(row.object, table) || row.state == 'D') return;
    if (std::find(actions.begin(), actions.end(), row.action) == actions.end()) return;
    if (!row.column.empty() && (column == nullptr || !EqualsIgnoreCase(row.column, *column)))
      return;
    std::string grantee = PrincipalName(security, row.grantee);
    if (EqualsIgnoreCase(grantee, owner)) return;  // listed as the owner's already
    out.push_back(
        {table, item, PrincipalName(security, row.grantor), grantee, row.action, row.state == 'W'});
  };
  for (const PermissionRow& row : security.permissions) add(row);
  if (column != nullptr) {
    for (const PermissionRow& row : security.column_permissions) add(row);
  }
}

void Send(Session& session, std::vector<Privilege>& privileges, bool columns, ResultSink& sink) {
  std::stable_sort(privileges.begin(), privileges.end(),
                   [](const Privilege& a, const Privilege& b) { return a.Order() < b.Order(); });
  // A grant by two grantors of one privilege is one row per grantor; an
  // exact repeat (a grant WITH GRANT OPTION of the whole table and of a
  // column) is listed once.
  privileges.erase(
      std::unique(privileges.begin(), privileges.end(),
                  [](const Privilege& a, const Privilege& b) { return a.Order() == b.Order(); }),
      privileges.end());
  std::vector<Column> shape = {
      {"TABLE_QUALIFIER", Name()}, {"TABLE_OWNER", Name()}, {"TABLE_NAME", Name()}};
  if (columns) shape.push_back({"COLUMN_NAME", Name()});
  shape.push_back({"GRANTOR", Name()});
  shape.push_back({"GRANTEE", Name()});
  shape.push_back({"PRIVILEGE", ColumnType{SqlType::kVarChar, 32}});
  shape.push_back({"IS_GRANTABLE", ColumnType{SqlType::kVarChar, 3}});
  ResultBuilder result(shape);
  const DatabaseSecurity& security = session.Rights().InCurrent().Security();
  for (const Privilege& privilege : privileges) {
    Row row = {session.CurrentDatabase(),
               PrincipalName(security, security.OwnerOf(privilege.table)), privilege.table};
    if (columns) row.push_back(privilege.column);
    row.push_back(privilege.grantor);
    row.push_back(privilege.grantee);
    row.push_back(privilege.action);
    row.push_back(std::string(privilege.grantable ? "YES" : "NO"));
    result.Add(std::move(row));
  }
  result.Send(sink);
}

bool OwnerMatches(const DatabaseSecurity& security, const std::optional<std::string>& owner,
                  const std::string& table) {
  return !owner || CatalogPatternMatches(*owner, PrincipalName(security, security.OwnerOf(table)));
}

// The tables and views `named` accepts that the owner and qualifier
// arguments allow and the caller may see.
std::vector<std::string> ListedTables(Session& session,
                                      const std::function<bool(const std::string&)>& named,
                                      const std::optional<std::string>& owner,
                                      const std::optional<std::string>& qualifier) {
  std::vector<std::string> listed;
  if (qualifier && !EqualsIgnoreCase(*qualifier, session.CurrentDatabase())) return listed;
  const DatabaseSecurity& security = session.Rights().InCurrent().Security();
  for (bool views : {false, true}) {
    for (const std::string& table : UserTableNames(session, views)) {
      if (named(table) && OwnerMatches(security, owner, table) && MaySee(session, table))
        listed.push_back(table);
    }
  }
  return listed;
}

// sp_table_privileges [table pattern [, owner pattern [, qualifier]]]:
// tables and views.
void TablePrivileges(Session& session, const std::vector<CallArgument>& given, ResultSink& sink) {
  Arguments args("sp_table_privileges", given, {"@table_name", "@table_owner", "@table_qualifier"});
  const DatabaseSecurity& security = session.Rights().InCurrent().Security();
  std::vector<Privilege> privileges;
  auto named = [&](const std::string& table) {
    return CatalogPatternMatches(args[0].value_or("%"), table);
  };
  for (const std::string& table : ListedTables(session, named, args[1], args[2])) {
    Collect(security, table, {"DELETE", "INSERT", "REFERENCES", "SELECT", "UPDATE"}, nullptr,
            privileges);
  }
  Send(session, privileges, false, sink);
}

// sp_column_privileges table [, owner [, qualifier [, column pattern]]].
void ColumnPrivileges(Session& session, const std::vector<CallArgument>& given, ResultSink& sink) {
  constexpr std::string_view kName = "sp_column_privileges";
  Arguments args(kName, given, {"@table_name", "@table_owner", "@table_qualifier", "@column_name"});
  std::string wanted = args.Required(0, kName, "@table_name");
  const DatabaseSecurity& security = session.Rights().InCurrent().Security();
  std::vector<Privilege> privileges;
  auto named = [&](const std::string& table) { return EqualsIgnoreCase(wanted, table); };
  for (const std::string& table : ListedTables(session, named, args[1], args[2])) {
    catalog::PreparedStatement columns = catalog::Prepare(
        session.Connection().Handle(), "SELECT name FROM pragma_table_info(?, 'main')");
    sqlite3_bind_text(columns.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
    while (sqlite3_step(columns.get()) == SQLITE_ROW) {
      std::string column = catalog::ColumnText(columns.get(), 0);
      if (!CatalogPatternMatches(args[3].value_or("%"), column)) continue;
      Collect(security, table, {"INSERT", "REFERENCES", "SELECT", "UPDATE"}, &column, privileges);
    }
  }
  Send(session, privileges, true, sink);
}

}  // namespace

bool RunPrivilegeProcedure(Session& session, std::string_view name,
                           const std::vector<CallArgument>& arguments, ResultSink& sink) {
  if (name == "sp_table_privileges") {
    TablePrivileges(session, arguments, sink);
  } else if (name == "sp_column_privileges") {
    ColumnPrivileges(session, arguments, sink);
  } else {
    return false;
  }
  return true;
}

}  // namespace sqlengine::exec
