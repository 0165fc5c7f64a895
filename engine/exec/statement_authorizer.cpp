#include "engine/exec/statement_authorizer.h"

#include <cctype>
#include <utility>

#include "engine/exec/catalog_views.h"
#include "engine/tsql/dotted_name.h"
#include "engine/tsql/token.h"

namespace sqlengine::exec {
namespace {

std::string_view Text(const char* text) { return text == nullptr ? std::string_view() : text; }

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         tsql::EqualsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

// SQLite writes its schema table for every CREATE and DROP (and refuses such
// writes from SQL itself).
bool IsSchemaTable(std::string_view table) {
  return tsql::EqualsIgnoreCase(table, "sqlite_master") ||
         tsql::EqualsIgnoreCase(table, "sqlite_temp_master");
}

// A column no statement of a user reads, catalog view or not.
bool IsSecretColumn(std::string_view table, std::string_view column) {
  return tsql::EqualsIgnoreCase(column, "password") && StartsWithIgnoreCase(table, "sqlengine_");
}

}  // namespace

// The engine's own names; SQLite refuses user objects named sqlite_ itself
// and makes some of its own (sqlite_sequence, sqlite_autoindex_...) while
// compiling a CREATE.
bool IsEngineName(std::string_view name) { return StartsWithIgnoreCase(name, "sqlengine_"); }

bool IsInternalName(std::string_view name) {
  return StartsWithIgnoreCase(name, "sqlengine_") || StartsWithIgnoreCase(name, "sqlite_");
}

void StatementAuthorizer::Install(sqlite3* db) {
  sqlite3_set_authorizer(db, &StatementAuthorizer::Callback, this);
}

StatementAuthorizer::UserScope::UserScope(StatementAuthorizer& authorizer)
    : authorizer_(authorizer), was_user_(authorizer.user_) {
  authorizer_.user_ = true;
}

void StatementAuthorizer::BeginCompilation() {
  allowed_.clear();
  denial_.reset();
  changes_schema_ = false;
  indexed_.reset();
  stored_call_schemas_.clear();
  if (policy_ != nullptr) policy_->Refresh();
}

StatementAuthorizer::UserScope::~UserScope() { authorizer_.user_ = was_user_; }

StatementAuthorizer::EngineScope::EngineScope(StatementAuthorizer& authorizer)
    : authorizer_(authorizer), was_user_(authorizer.user_) {
  authorizer_.user_ = false;
}

StatementAuthorizer::EngineScope::~EngineScope() { authorizer_.user_ = was_user_; }

void StatementAuthorizer::Expose(std::string_view schema, std::string_view table) {
  exposed_.emplace(tsql::ToLower(schema), tsql::ToLower(table));
}

bool StatementAuthorizer::Exposed(std::string_view schema, std::string_view table) const {
  return exposed_.count({tsql::ToLower(schema), tsql::ToLower(table)}) > 0;
}

std::optional<SqlError> StatementAuthorizer::TakeDenial() {
  std::optional<SqlError> denial = std::move(denial_);
  denial_.reset();
  return denial;
}

int StatementAuthorizer::Callback(void* self, int action, const char* a3, const char* a4,
                                  const char* schema, const char* inner) {
  auto* authorizer = static_cast<StatementAuthorizer*>(self);
  if (!authorizer->user_) return SQLITE_OK;
  return authorizer->Decide(action, Text(a3), Text(a4), Text(schema), Text(inner));
}

int StatementAuthorizer::Deny(SqlError error) {
  if (!denial_) denial_ = std::move(error);
  return SQLITE_DENY;
}

int StatementAuthorizer::Ask(std::string_view schema, std::string_view object, Access access,
                             std::string_view column) {
  if (policy_ == nullptr) return SQLITE_OK;
  // SQLite's names for the row id are no column a permission can name.
  if (tsql::EqualsIgnoreCase(column, "rowid") || tsql::EqualsIgnoreCase(column, "_rowid_") ||
      tsql::EqualsIgnoreCase(column, "oid")) {
    column = {};
  }
  auto key =
      std::make_tuple(tsql::ToLower(schema), tsql::ToLower(object), access, tsql::ToLower(column));
  if (allowed_.count(key)) return SQLITE_OK;
  if (std::optional<SqlError> refused = policy_->Check(schema, object, access, column)) {
    return Deny(std::move(*refused));
  }
  allowed_.insert(std::move(key));
  return SQLITE_OK;
}

bool StatementAuthorizer::Listed(std::string_view schema, std::string_view object) const {
  if (reaches_ == nullptr) return false;
  for (const tsql::ObjectReach& reach : *reaches_) {
    if (tsql::EqualsIgnoreCase(reach.name, object) && tsql::EqualsIgnoreCase(reach.schema, schema))
      return true;
  }
  return false;
}

bool StatementAuthorizer::ReadForKeyCheck(std::string_view schema, std::string_view table) const {
  // Only a statement the front end bound says what it names itself.
  if (policy_ == nullptr || reaches_ == nullptr || schema.empty() || Listed(schema, table))
    return false;
  for (const auto& [written_schema, written] : written_) {
    if (written_schema != tsql::ToLower(schema)) continue;
    if (policy_->RefersTo(schema, written, table) || policy_->RefersTo(schema, table, written))
      return true;
  }
  return false;
}

bool StatementAuthorizer::SameOwner(std::string_view schema, std::string_view outer,
                                    std::string_view inner) {
  if (policy_ == nullptr) return true;
  std::optional<int> outer_owner = policy_->OwnerOf(schema, outer);
  return outer_owner && outer_owner == policy_->OwnerOf(schema, inner);
}

int StatementAuthorizer::Reach(std::string_view schema, std::string_view object, Access access,
                               std::string_view column, int depth) {
  // Views nest 32 deep at most; a longer way round is no chain.
  constexpr int kMaxDepth = 40;
  bool listed = false;
  if (reaches_ != nullptr && depth < kMaxDepth) {
    for (const tsql::ObjectReach& reach : *reaches_) {
      if (!tsql::EqualsIgnoreCase(reach.name, object) ||
          (!schema.empty() && !tsql::EqualsIgnoreCase(reach.schema, schema)))
        continue;
      listed = true;
      using Kind = tsql::ObjectReach::Kind;
      bool function =
          reach.kind == Kind::kScalarFunction || reach.kind == Kind::kTableFunction;
      // A function is called (EXECUTE) or read (SELECT) as a whole.
      Access own_access = !function                             ? access
                          : reach.kind == Kind::kScalarFunction ? Access::kExecute
                                                                : Access::kSelect;
      if (reach.kind == Kind::kTruncatedTable && access == Access::kDelete)
        own_access = Access::kAlter;
      std::string_view own_column = function ? std::string_view() : column;
      int decision = SQLITE_OK;
      if (reach.inside_name.empty()) {
        // Named by the statement. A function's right was checked where the
        // front end found it.
        if (!function) decision = Ask(reach.schema, reach.name, own_access, own_column);
      } else {
        // Under a view or function: the caller reaches that one first, in
        // the view's column this one stands for when a change says it.
        std::string_view outer_column;
        for (const auto& [mine, outer] : reach.columns) {
          if (tsql::EqualsIgnoreCase(mine, column)) outer_column = outer;
        }
        decision =
            Reach(reach.inside_schema, reach.inside_name, access, outer_column, depth + 1);
        if (decision == SQLITE_OK &&
            (!tsql::EqualsIgnoreCase(reach.inside_schema, reach.schema) ||
             !SameOwner(reach.schema, reach.inside_name, reach.name))) {
          decision = Ask(reach.schema, reach.name, own_access, own_column);
        }
      }
      if (decision != SQLITE_OK) return decision;
    }
  }
  return listed ? SQLITE_OK : Ask(schema, object, access, column);
}

int StatementAuthorizer::AskConstraintCalls(std::string_view schema, std::string_view table,
                                            bool update) {
  if (policy_ == nullptr) return SQLITE_OK;
  return AskStoredCalls(schema, table, policy_->FunctionsCalledByWrite(schema, table, update));
}

int StatementAuthorizer::AskComputedCalls(std::string_view schema, std::string_view table,
                                          std::string_view column) {
  if (policy_ == nullptr || column.empty()) return SQLITE_OK;
  return AskStoredCalls(schema, table, policy_->FunctionsCalledByRead(schema, table, column));
}

int StatementAuthorizer::AskStoredCalls(std::string_view schema, std::string_view table,
                                        const std::vector<std::string>& functions) {
  if (functions.empty()) return SQLITE_OK;
  stored_call_schemas_.insert(tsql::ToLower(schema));
  for (const std::string& function : functions) {
    // A built-in's lookups need no right.
    if (function.empty()) continue;
    // A function of the table's own owner is reached through the chain; any
    // other takes the caller's EXECUTE, at every statement that runs it, not
    // only when the table was made.
    if (SameOwner(schema, table, function)) continue;
    if (int decision = Ask(schema, function, Access::kExecute, {}); decision != SQLITE_OK)
      return decision;
  }
  return SQLITE_OK;
}

std::optional<std::string> StatementAuthorizer::SettleStoredCalls(std::string_view sql) {
  if (policy_ == nullptr || stored_call_schemas_.empty()) return std::string();
  const std::string& schema = *stored_call_schemas_.begin();
  if (stored_call_schemas_.size() == 1 && policy_->ResolvesUnqualified(schema))
    return std::string();
  // The statement's own calls of a function or built-in without a database
  // go through the same engine functions as the stored ones.
  auto calls = [&](std::string_view call) {
    for (size_t at = sql.find(call); at != std::string_view::npos; at = sql.find(call, at + 1)) {
      if (at == 0 || !(std::isalnum(static_cast<unsigned char>(sql[at - 1])) || sql[at - 1] == '_'))
        return true;
    }
    return false;
  };
  if (stored_call_schemas_.size() == 1 && !calls("sqlengine_user_function(") &&
      !calls("sqlengine_user_function_of(''") && !calls("sqlengine_builtin("))
    return schema;
  SqlError refused = MakeError(8180);
  refused.message().text +=
      " This engine cannot run, in one statement, calls that name no database made by"
      " constraints or computed columns of tables in different databases, or by those of a table"
      " in another database than the session's and by the statement itself.";
  Deny(std::move(refused));
  return std::nullopt;
}

int StatementAuthorizer::Decide(int action, std::string_view a3, std::string_view a4,
                                std::string_view schema, std::string_view inner) {
  int decision = DecideAction(action, a3, a4, schema, inner);
  if (decision == SQLITE_OK) {
    switch (action) {
      case SQLITE_CREATE_TABLE:
      case SQLITE_CREATE_VIEW:
      case SQLITE_CREATE_INDEX:
      case SQLITE_DROP_TABLE:
      case SQLITE_DROP_VIEW:
      case SQLITE_DROP_INDEX:
      case SQLITE_ALTER_TABLE:
        // SQLite's own follow-up statements of a schema change read and
        // rewrite its schema, sqlite_sequence and the engine's triggers.
        changes_schema_ = true;
        break;
      default:
        break;
    }
  }
  return decision;
}

int StatementAuthorizer::DecideAction(int action, std::string_view a3, std::string_view a4,
                                      std::string_view schema, std::string_view inner) {
  // The engine's own triggers keep its bookkeeping and normalise values.
  bool engine_trigger = IsEngineName(inner);
  bool temporary = tsql::EqualsIgnoreCase(schema, "temp");
  switch (action) {
    case SQLITE_READ: {
      if (IsInternalName(a3)) {
        if (IsSecretColumn(a3, a4)) return Deny(MakeError(208, {a3}));
        if (engine_trigger || Exposed(schema, a3)) return SQLITE_OK;
        // The engine's name for a recursive common table expression.
        if (StartsWithIgnoreCase(a3, "sqlengine_level_")) return SQLITE_OK;
        // The engine's grouping function: the query it runs is compiled
        // while this statement is, under this authorizer (exec/hash_grouping.h).
        if (tsql::EqualsIgnoreCase(a3, "sqlengine_grouped")) return SQLITE_OK;
        if (changes_schema_ && (IsSchemaTable(a3) || tsql::EqualsIgnoreCase(a3, "sqlite_sequence") ||
                                StartsWithIgnoreCase(a3, "sqlite_stat"))) {
          return SQLITE_OK;
        }
        // A view made from a catalog view reads what that catalog view reads.
        if (!inner.empty() && IsCatalogViewSource(a3)) return SQLITE_OK;
        return Deny(MakeError(208, {a3}));
      }
      if (temporary || engine_trigger) return SQLITE_OK;
      if (inner.empty() && indexed_ &&
          *indexed_ == std::make_pair(tsql::ToLower(schema), tsql::ToLower(a3)))
        return SQLITE_OK;
      if (!inner.empty() && policy_ != nullptr) {
        // Ownership chain: a trigger's reads are its table's; a view's are
        // the view's where the view's owner owns what it reads.
        if (!policy_->IsView(schema, inner)) return SQLITE_OK;
        if (int decision = Reach(schema, inner, Access::kSelect, {}); decision != SQLITE_OK)
          return decision;
        int decision =
            SameOwner(schema, inner, a3) ? SQLITE_OK : Ask(schema, a3, Access::kSelect, a4);
        if (decision != SQLITE_OK) return decision;
        return AskComputedCalls(schema, a3, a4);
      }
      // SQLite looks up a written row's parent key, or a changed or deleted
      // key's children, under the writer's name. SQL Server checks the
      // writer's rights on the written table alone: the right to refer to
      // the other was its constraint's maker's (REFERENCES), and the
      // lookup returns him nothing but the constraint's error.
      if (ReadForKeyCheck(schema, a3)) return SQLITE_OK;
      // A read of no column names no schema (and no view it came through).
      if (int decision = Reach(schema, a3, Access::kSelect, a4); decision != SQLITE_OK)
        return decision;
      return AskComputedCalls(schema, a3, a4);
    }
    case SQLITE_INSERT:
    case SQLITE_UPDATE:
    case SQLITE_DELETE: {
      if (IsSchemaTable(a3)) {
        changes_schema_ = true;
        return SQLITE_OK;
      }
      // A DROP or RENAME of a table also updates sqlite_sequence, and the
      // statistics UPDATE STATISTICS kept (sqlite_stat1, sqlite_stat4).
      if (changes_schema_ && (tsql::EqualsIgnoreCase(a3, "sqlite_sequence") ||
                              StartsWithIgnoreCase(a3, "sqlite_stat")))
        return SQLITE_OK;
      if (IsInternalName(a3)) return engine_trigger ? SQLITE_OK : Deny(MakeError(208, {a3}));
      if (temporary || !inner.empty()) return SQLITE_OK;
      written_.emplace(tsql::ToLower(schema), tsql::ToLower(a3));
      Access access = action == SQLITE_INSERT   ? Access::kInsert
                      : action == SQLITE_UPDATE ? Access::kUpdate
                                                : Access::kDelete;
      int decision =
          Reach(schema, a3, access, access == Access::kUpdate ? a4 : std::string_view());
      if (decision != SQLITE_OK || access == Access::kDelete) return decision;
      return AskConstraintCalls(schema, a3, access == Access::kUpdate);
    }
    case SQLITE_FUNCTION:
      // a4: the function; inner: the view whose stored text calls it. Such a
      // call names the user function without a database, and the engine
      // looks it up where the session's names resolve: from another
      // database's view it would reach the session's function of the name.
      if (!inner.empty() && policy_ != nullptr &&
          (StartsWithIgnoreCase(a4, "sqlengine_user_function") ||
           StartsWithIgnoreCase(a4, "sqlengine_table_function")) &&
          !a4.ends_with("_in") && policy_->ViewCallsElsewhere(inner)) {
        SqlError refused = MakeError(8180);
        refused.message().text +=
            " This engine cannot run a view of another database than the session's that"
            " calls user functions.";
        return Deny(std::move(refused));
      }
      return SQLITE_OK;
    case SQLITE_CREATE_TABLE:
    case SQLITE_CREATE_VIEW:
      if (IsEngineName(a3)) return Deny(MakeError(2714, {a3}));
      // A statement right, of no object; but a ##table of tempdb any login
      // may make, which the policy tells by its name.
      return Ask(
          schema,
          action == SQLITE_CREATE_TABLE && tsql::IsGlobalTempName(a3) ? a3 : std::string_view(),
          action == SQLITE_CREATE_TABLE ? Access::kCreateTable : Access::kCreateView);
    case SQLITE_CREATE_TEMP_TABLE:
    case SQLITE_CREATE_TEMP_VIEW:
    case SQLITE_CREATE_TEMP_INDEX:
    case SQLITE_DROP_TEMP_TABLE:
    case SQLITE_DROP_TEMP_VIEW:
    case SQLITE_DROP_TEMP_INDEX:
      return IsEngineName(a3) || IsEngineName(a4) ? Deny(MakeError(208, {a3})) : SQLITE_OK;
    case SQLITE_CREATE_INDEX:
    case SQLITE_DROP_INDEX:
      // a3: the index, a4: its table.
      if (IsEngineName(a4)) return Deny(MakeError(208, {a4}));
      if (IsEngineName(a3)) return Deny(MakeError(2714, {a3}));
      // SQLite makes a PRIMARY KEY's or UNIQUE constraint's index itself
      // only while it creates the table, which CREATE TABLE's permission
      // covers: the table is nobody's yet to hold ALTER on.
      if (action == SQLITE_CREATE_INDEX && a3.starts_with("sqlite_autoindex_")) return SQLITE_OK;
      if (int decision = Ask(schema, a4, Access::kAlter); decision != SQLITE_OK) return decision;
      // SQLite resolves the key's columns as reads of the table: who may
      // index a table need not read it.
      if (action == SQLITE_CREATE_INDEX) indexed_ = {tsql::ToLower(schema), tsql::ToLower(a4)};
      return SQLITE_OK;
    case SQLITE_CREATE_TRIGGER:
    case SQLITE_CREATE_TEMP_TRIGGER:
    case SQLITE_DROP_TRIGGER:
    case SQLITE_DROP_TEMP_TRIGGER:
      // An ALTER TABLE that SQLite carries out re-reads the table's triggers.
      if (changes_schema_ && IsEngineName(a3) && !IsEngineName(a4)) return SQLITE_OK;
      if (IsEngineName(a4)) return Deny(MakeError(208, {a4}));
      if (IsEngineName(a3)) return Deny(MakeError(2714, {a3}));
      return temporary ? SQLITE_OK : Ask(schema, a4, Access::kAlter);
    case SQLITE_DROP_TABLE:
    case SQLITE_DROP_VIEW:
      if (IsEngineName(a3)) {
        return Deny(MakeError(3701, {"drop", action == SQLITE_DROP_TABLE ? "table" : "view", a3}));
      }
      return Ask(schema, a3, Access::kDrop);
    case SQLITE_ALTER_TABLE:
      // a3: the schema, a4: the table.
      if (IsInternalName(a4)) return Deny(MakeError(208, {a4}));
      return Ask(a3, a4, Access::kAlter);
    case SQLITE_ATTACH:
    case SQLITE_DETACH:
    case SQLITE_CREATE_VTABLE:
    case SQLITE_DROP_VTABLE:
      // T-SQL has none of these; the engine does them outside user statements.
      return Deny(MakeError(15247));
    default:
      return SQLITE_OK;
  }
}

}  // namespace sqlengine::exec
