#include "engine/exec/identity_functions.h"

#include <optional>
#include <string>

#include "engine/catalog/sqlite_handle.h"
#include "engine/exec/function_registration.h"
#include "engine/exec/identity_columns.h"
#include "engine/exec/sql_functions.h"
#include "engine/exec/sqlite_value_text.h"
#include "engine/exec/statement_authorizer.h"
#include "engine/tsql/dotted_name.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/token.h"

namespace sqlengine::exec {
namespace {

struct IdentityTable {
  std::string schema;
  std::string name;
  KeptIdentity declared;
};

FunctionHost& Host(sqlite3_context* context) {
  return *static_cast<FunctionHost*>(sqlite3_user_data(context));
}

// Lifts the user's rules while a function reads the engine's tables.
class EngineReads {
 public:
  explicit EngineReads(sqlite3_context* context) {
    if (StatementAuthorizer* authorizer = Host(context).Authorizer()) scope_.emplace(*authorizer);
  }

 private:
  std::optional<StatementAuthorizer::EngineScope> scope_;
};

// The table the argument names, with its identity; nullopt gives NULL, also
// for a table the user may not read.
std::optional<IdentityTable> Resolve(sqlite3_context* context, sqlite3_value* argument) {
  if (sqlite3_value_type(argument) == SQLITE_NULL) return std::nullopt;
  tsql::DottedName name = tsql::ReadWrittenName(SqliteValueText(argument));
  if (name.parts.empty() || name.parts.size() > 3) return std::nullopt;
  sqlite3* db = sqlite3_context_db_handle(context);
  bool temporary = tsql::IsLocalTempName(name.Last());
  // A #temp table may be named as tempdb's ('tempdb..#t'), as SQL Server names it.
  bool in_tempdb = tsql::EqualsIgnoreCase(name.Database(), "tempdb") && temporary;
  // A database part may name the database the name reaches anyway ('db..t'
  // in db); another database's tables are not looked into.
  if (!name.Database().empty() && !in_tempdb &&
      !tsql::EqualsIgnoreCase(name.Database(), Host(context).DatabaseName()))
    return std::nullopt;
  // An unqualified name inside a trigger of another database's table is
  // that database's, as the trigger's other names are.
  std::string schema = temporary ? "temp" : Host(context).UnqualifiedSchema();
  std::string master =
      temporary ? "sqlite_temp_master" : tsql::QuoteSqliteName(schema) + ".sqlite_master";
  auto query = catalog::Prepare(
      db, "SELECT name FROM " + master + " WHERE type = 'table' AND name = ? COLLATE NOCASE");
  sqlite3_bind_text(query.get(), 1, name.Last().c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(query.get()) != SQLITE_ROW) return std::nullopt;
  std::string stored = catalog::ColumnText(query.get(), 0);
  if (!Host(context).MayRead(schema, stored)) return std::nullopt;
  std::optional<KeptIdentity> declared = DeclaredIdentityOf(db, schema, stored);
  if (!declared) return std::nullopt;
  return IdentityTable{schema, stored, *declared};
}

void IdentSeed(sqlite3_context* context, int, sqlite3_value** args) {
  EngineReads reads(context);
  std::optional<IdentityTable> table = Resolve(context, args[0]);
  if (!table) return sqlite3_result_null(context);
  sqlite3_result_int64(context, table->declared.seed);
}

void IdentIncr(sqlite3_context* context, int, sqlite3_value** args) {
  EngineReads reads(context);
  std::optional<IdentityTable> table = Resolve(context, args[0]);
  if (!table) return sqlite3_result_null(context);
  sqlite3_result_int64(context, table->declared.increment);
}

void IdentCurrent(sqlite3_context* context, int, sqlite3_value** args) {
  EngineReads reads(context);
  std::optional<IdentityTable> table = Resolve(context, args[0]);
  if (!table) return sqlite3_result_null(context);
  sqlite3* db = sqlite3_context_db_handle(context);
  std::string schema = tsql::QuoteSqliteName(table->schema);
  KeptIdentity kept = table->declared;
  bool engine_assigned = KeptIdentityOf(db, table->schema, table->name).has_value();
  auto query = catalog::Prepare(
      db, engine_assigned ? "SELECT last FROM " + schema + ".sqlengine_identity WHERE name = ?"
                          : "SELECT seq FROM " + schema + ".sqlite_sequence WHERE name = ?");
  sqlite3_bind_text(query.get(), 1, table->name.c_str(), -1, SQLITE_TRANSIENT);
  bool used =
      sqlite3_step(query.get()) == SQLITE_ROW && sqlite3_column_type(query.get(), 0) != SQLITE_NULL;
  std::int64_t current = used ? sqlite3_column_int64(query.get(), 0) : kept.seed;
  // sqlite_sequence starts one below a seed above 1 before the first row.
  if (!engine_assigned && current < kept.seed) current = kept.seed;
  sqlite3_result_int64(context, current);
}

constexpr FunctionDefinition kFunctions[] = {
    {"ident_seed", 1, IdentSeed, false},
    {"ident_incr", 1, IdentIncr, false},
    {"ident_current", 1, IdentCurrent, false},
};

}  // namespace

void RegisterIdentityFunctions(sqlite3* db, FunctionHost& host) {
  RegisterFunctionTable(db, kFunctions, &host);
}

}  // namespace sqlengine::exec
