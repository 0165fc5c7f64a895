#include "engine/exec/front_end_catalog.h"

#include <sqlite3.h>

#include <map>
#include <stdexcept>

#include "engine/catalog/sqlite_handle.h"
#include "engine/exec/catalog_view_columns.h"
#include "engine/exec/catalog_views.h"
#include "engine/exec/database_options.h"
#include "engine/exec/front_end_view.h"
#include "engine/exec/owner_names.h"
#include "engine/exec/session.h"
#include "engine/exec/session_rights.h"
#include "engine/exec/sqlite_errors.h"
#include "engine/exec/table_shapes.h"
#include "engine/exec/triggers.h"
#include "engine/tsql/dotted_name.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/type_name.h"

namespace sqlengine::exec {

namespace {

// Inside a trigger, `inserted` and `deleted` are its images (TEMP tables of
// those names that live only while a trigger runs; see row_images.h).
bool IsTriggerImage(Session& session, const std::string& table) {
  if (!tsql::EqualsIgnoreCase(table, "inserted") && !tsql::EqualsIgnoreCase(table, "deleted"))
    return false;
  SessionConnection::KeptRead found(session.Connection(),
                                    "SELECT 1 FROM temp.sqlite_master WHERE type = 'table' AND "
                                    "name = ?1 COLLATE NOCASE");
  if (found.get() == nullptr) return false;
  sqlite3_bind_text(found.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  return sqlite3_step(found.get()) == SQLITE_ROW;
}

// The catalog view `name` (1 to 3 parts) reads, lower case ("sysobjects",
// "information_schema.tables"); empty when it names none.
std::string CatalogViewNamed(const std::vector<std::string>& name) {
  std::string table = tsql::ToLower(name.back());
  std::string owner = name.size() >= 2 ? tsql::ToLower(name[name.size() - 2]) : std::string();
  std::string view = owner == "information_schema" ? owner + "." + table : table;
  if (!owner.empty() && owner != "dbo" && owner != "information_schema") return {};
  return IsCatalogView(view) ? view : std::string();
}

// A catalog view's values in its declared types: a char(n) column padded to
// its length, as SQL Server stores it.
std::string TypedCatalogView(const std::string& view_sql, const std::vector<Column>& columns) {
  std::string sql = "(SELECT ";
  for (size_t k = 0; k < columns.size(); ++k) {
    const Column& column = columns[k];
    std::string value = "\"sqlengine_view\"." + tsql::QuoteSqliteName(column.name);
    if (column.type.type == SqlType::kChar || column.type.type == SqlType::kNChar) {
      value = "substr(" + value + " || " +
              tsql::QuoteSqliteString(std::string(static_cast<size_t>(column.type.length), ' ')) +
              ", 1, " + std::to_string(column.type.length) + ")";
    }
    // Names and other texts sort and compare by the server's collation.
    if (tsql::IsCharacterType(column.type.type)) value += " COLLATE sqlengine_ci";
    sql += (k == 0 ? "" : ", ") + value + " AS " + tsql::QuoteSqliteName(column.name);
  }
  return sql + " FROM " + view_sql + " AS \"sqlengine_view\")";
}

}  // namespace

std::optional<tsql::bind::TableShape> SessionCatalog::CatalogViewShape(
    const std::vector<std::string>& name) {
  std::string view = CatalogViewNamed(name);
  if (view.empty()) return std::nullopt;
  std::string database = name.size() == 3 ? name[0] : std::string();
  std::optional<std::string> view_sql = session_.Connection().CatalogView(database, view);
  if (!view_sql) return std::nullopt;
  tsql::bind::TableShape shape;
  shape.name = name.back();
  shape.system_catalog = true;
  for (const CatalogViewColumn& declared : CatalogViewColumns(view)) {
    std::optional<ColumnType> type = tsql::ParseDeclaredType(declared.type);
    if (!type) return std::nullopt;
    type->nullable = declared.nullable;
    shape.columns.push_back(Column{std::string(declared.name), *type});
    shape.column_defaults.emplace_back();
  }
  if (shape.columns.empty()) return std::nullopt;
  shape.sql = TypedCatalogView(*view_sql, shape.columns);
  return shape;
}

std::vector<std::string> SessionCatalog::InBodyDatabase(
    const std::vector<std::string>& name) const {
  if (bodies_.empty() || name.empty() || (name.size() == 3 && !name.front().empty()))
    return name;
  // A view's or a function's body names its own database's objects when it
  // names no database, wherever it is read or called from.
  const Body& body = bodies_.back();
  if (body.kind == tsql::ObjectReach::Kind::kTable ||
      body.schema == session_.Connection().UnqualifiedSchema() || body.schema == "temp" ||
      tsql::IsLocalTempName(name.back()))
    return name;
  std::string database = session_.Connection().DatabaseOfSchema(body.schema);
  if (database.empty()) return name;
  return {database, name.size() >= 2 ? name[name.size() - 2] : std::string(), name.back()};
}

void SessionCatalog::Note(const std::string& schema, const std::string& name,
                          tsql::ObjectReach::Kind kind) {
  tsql::ObjectReach reach{schema, name, kind, {}, {}, {}};
  if (!bodies_.empty()) {
    reach.inside_schema = bodies_.back().schema;
    reach.inside_name = bodies_.back().name;
  }
  for (const tsql::ObjectReach& known : reaches_) {
    if (known.columns.empty() && tsql::EqualsIgnoreCase(known.schema, reach.schema) &&
        tsql::EqualsIgnoreCase(known.name, reach.name) &&
        tsql::EqualsIgnoreCase(known.inside_schema, reach.inside_schema) &&
        tsql::EqualsIgnoreCase(known.inside_name, reach.inside_name))
      return;
  }
  reaches_.push_back(std::move(reach));
}

std::optional<std::vector<int>> SessionCatalog::OwnersReached(const std::string& database,
                                                              const std::string& owner) {
  SessionConnection& connection = session_.Connection();
  std::string schema = connection.SchemaOf(database);
  if (schema.empty() || schema == "temp") return std::nullopt;
  std::string in_database = database.empty() ? connection.UnqualifiedDatabase() : database;
  return session_.Rights().OwnersReached(in_database, schema, owner);
}

void SessionCatalog::EnterBody(const std::string& schema, const std::string& name,
                               tsql::ObjectReach::Kind kind) {
  Unkeepable();
  bodies_.push_back({schema, name, kind});
  // A view's or function's names without an owner reach its owner's objects.
  SessionConnection& connection = session_.Connection();
  std::string database = schema == connection.UnqualifiedSchema()
                             ? connection.UnqualifiedDatabase()
                             : connection.DatabaseOfSchema(schema);
  std::optional<int> owner;
  if (kind != tsql::ObjectReach::Kind::kTable && !database.empty())
    owner = session_.Rights().OwnerIn(database, schema, name);
  session_.Rights().PushNamesOwner(database, owner);
}

void SessionCatalog::LeaveBody() {
  if (bodies_.empty()) return;
  bodies_.pop_back();
  session_.Rights().PopNamesOwner();
}

void SessionCatalog::NoteWrittenThrough(const std::string& view_schema, const std::string& view,
                                        const std::string& source_schema,
                                        const std::string& source,
                                        std::vector<std::pair<std::string, std::string>> columns) {
  Unkeepable();
  reaches_.push_back(
      {source_schema, source, tsql::ObjectReach::Kind::kTable, view_schema, view,
       std::move(columns)});
}

std::vector<tsql::ObjectReach> SessionCatalog::TakeReaches() { return std::move(reaches_); }

std::optional<tsql::bind::TableShape> SessionCatalog::FindTable(
    const std::vector<std::string>& written) {
  std::vector<std::string> name = InBodyDatabase(written);
  std::optional<tsql::bind::TableShape> shape = Describe(name);
  // Only a table's shape follows its schema text alone.
  if (BoundTexts::Notes* notes = session_.Connection().Recorded();
      notes != nullptr && (!shape || shape->system_catalog || shape->schema == "temp" ||
                           shape->view_query))
    notes->keepable = false;
  if (shape && !shape->system_catalog && shape->schema != "temp") {
    Note(shape->schema, shape->name,
         shape->view_query ? tsql::ObjectReach::Kind::kView : tsql::ObjectReach::Kind::kTable);
  }
  return shape;
}

void SessionCatalog::RequireUsable(const std::string& database, const std::string& schema) {
  if (database.empty() || schema.empty() || schema == "main" || schema == "temp") return;
  SessionRights& rights = session_.Rights();
  if (!rights.IsSysadmin() && !rights.In(database, schema).HasAccess())
    throw MakeError(916, {session_.LoginName(), database});
}

bool SessionCatalog::OwnedAsWritten(const std::string& owner, const std::string& database,
                                    const std::string& table) {
  return ReachesAsWritten(session_, database, owner, table);
}

std::optional<tsql::bind::TableShape> SessionCatalog::Describe(
    const std::vector<std::string>& name) {
  const std::string& table = name.back();
  if (table.empty()) return std::nullopt;
  if (std::optional<tsql::bind::TableShape> shape = CatalogViewShape(name)) return shape;
  std::string owner = name.size() >= 2 ? name[name.size() - 2] : std::string();
  std::string database = name.size() == 3 ? name[0] : std::string();
  // The engine's own tables are reached through catalog views only.
  if (tsql::ToLower(table).starts_with("sqlengine_") || tsql::ToLower(table).starts_with("sqlite_"))
    return std::nullopt;
  std::string schema;
  if (tsql::IsLocalTempName(table)) {
    // tempdb..#t and tempdb.dbo.#t name the session's own #t.
    if (!database.empty() && !tsql::EqualsIgnoreCase(database, "tempdb")) return std::nullopt;
    schema = "temp";
  } else if (database.empty() && owner.empty() && IsTriggerImage(session_, table)) {
    schema = "temp";
  } else {
    schema = session_.Connection().SchemaOf(database);
    RequireUsable(database, schema);
  }
  if (!OwnedAsWritten(owner, database, table)) return std::nullopt;
  SessionConnection& connection = session_.Connection();
  std::optional<StoredTable> stored = FindStoredTable(connection, schema, table);
  if (!stored) return std::nullopt;
  std::optional<StoredView> view;
  bool older = false;  // stored by an older engine as its statement
  if (stored->view) {
    // The view's query says what its columns are: the one the front end
    // kept, or an older engine's stored statement read as T-SQL. Its
    // query's names are its database's (InBodyDatabase).
    if (stored->sql.empty()) return std::nullopt;
    view = StoredViewQuery(stored->sql);
    older = !view->query;
    if (older) view = OlderViewQuery(stored->sql);
    if (!view->query) return std::nullopt;
  }
  std::shared_ptr<const tsql::bind::TableShape> kept = TableShapeOf(connection, schema, *stored);
  if (!kept) return std::nullopt;
  tsql::bind::TableShape shape = *kept;
  if (view) {
    shape.view_query = std::move(view->query);
    shape.view_with = std::move(view->with);
    shape.check_option = view->check_option;
    // An older engine's copy is not the front end's SQL, and a view of
    // another database's tables has a stand-in there: both are read as
    // their query bound here.
    shape.read_bound_query = older || view->bound_at_use;
    for (const StoredTrigger& trigger : TriggersOf(connection.Handle(), schema, shape.name)) {
      if (!trigger.instead_of) continue;
      shape.instead_of_insert |= trigger.events.find('I') != std::string::npos;
      shape.instead_of_update |= trigger.events.find('U') != std::string::npos;
      shape.instead_of_delete |= trigger.events.find('D') != std::string::npos;
    }
  }
  return shape;
}

bool SessionCatalog::ObjectExists(const std::vector<std::string>& written) {
  Unkeepable();
  std::vector<std::string> name = InBodyDatabase(written);
  std::string table = tsql::ToLower(name.back());
  if (table.empty()) return true;
  if (table.starts_with("sqlengine_") || table.starts_with("sqlite_")) return false;
  // A trigger's rows: the trigger's own statements decide.
  if (name.size() == 1 && (table == "inserted" || table == "deleted")) return true;
  std::string owner = name.size() >= 2 ? tsql::ToLower(name[name.size() - 2]) : std::string();
  std::string database = name.size() == 3 ? name[0] : std::string();
  SessionConnection& connection = session_.Connection();
  std::string view = owner == "information_schema" ? owner + "." + table : table;
  if (IsCatalogView(view) && connection.CatalogView(database, view)) return true;
  if (owner != "information_schema" && !OwnedAsWritten(owner, database, name.back())) return false;
  std::string schema = tsql::IsLocalTempName(table) ? "temp" : connection.SchemaOf(database);
  SessionConnection::KeptRead found(connection, "SELECT 1 FROM " +
                                                    tsql::QuoteSqliteName(schema) +
                                                    ".sqlite_schema WHERE name = ?1 "
                                                    "COLLATE NOCASE");
  if (found.get() == nullptr) throw std::runtime_error(sqlite3_errmsg(connection.Handle()));
  sqlite3_bind_text(found.get(), 1, name.back().c_str(), -1, SQLITE_TRANSIENT);
  return sqlite3_step(found.get()) == SQLITE_ROW;
}

std::optional<ColumnType> SessionCatalog::VariableType(std::string_view name) {
  std::string lower = tsql::ToLower(name);
  auto it = session_.Variables().find(lower);
  std::optional<ColumnType> type;
  if (it != session_.Variables().end()) type = it->second.type;
  if (BoundTexts::Notes* notes = session_.Connection().Recorded())
    notes->variables.emplace_back(std::move(lower), type);
  return type;
}

bool SessionCatalog::AnsiNulls() {
  bool on = session_.Options().ansi_nulls;
  if (BoundTexts::Notes* notes = session_.Connection().Recorded()) notes->ansi_nulls = on;
  return on;
}

bool SessionCatalog::ConcatNullYieldsNull() {
  bool on = session_.Options().concat_null_yields_null;
  if (BoundTexts::Notes* notes = session_.Connection().Recorded())
    notes->concat_null_yields_null = on;
  return on;
}

void SessionCatalog::Unkeepable() {
  if (BoundTexts::Notes* notes = session_.Connection().Recorded()) notes->keepable = false;
}

bool SessionCatalog::ColumnsNullableByDefault(const std::string& database) {
  const SessionOptions& options = session_.Options();
  if (options.ansi_null_dflt_on) return true;
  if (options.ansi_null_dflt_off) return false;
  std::map<std::string, bool> values = DatabaseOptionValues(
      session_.Engine(), database.empty() ? session_.CurrentDatabase() : database);
  auto found = values.find("ANSI null default");
  return found != values.end() && found->second;
}

}  // namespace sqlengine::exec
