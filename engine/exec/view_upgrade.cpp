#include "engine/exec/view_upgrade.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/catalog/sqlite_handle.h"
#include "engine/common/error.h"
#include "engine/exec/front_end_view.h"
#include "engine/exec/text_comparison.h"
#include "engine/tsql/bind/binder.h"
#include "engine/tsql/collation_names.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/token.h"
#include "engine/tsql/type_name.h"

namespace sqlengine::exec {
namespace {

// What a view's query reads, described from the data file alone (SQLite's
// schema `schema` of `db`): its tables and the front end's views, by name.
class FileCatalog final : public tsql::bind::Catalog {
 public:
  explicit FileCatalog(sqlite3* db, std::string schema = "main")
      : db_(db), schema_(std::move(schema)) {}

  std::optional<tsql::bind::TableShape> FindTable(const std::vector<std::string>& name) override {
    if (name.size() == 3 && !name[0].empty()) return std::nullopt;  // another database
    std::string schema = tsql::QuoteSqliteName(schema_);
    catalog::PreparedStatement found = catalog::Prepare(
        db_, "SELECT name, type, sql FROM " + schema +
                 ".sqlite_schema WHERE type IN ('table', 'view') AND name = ?1 COLLATE NOCASE");
    sqlite3_bind_text(found.get(), 1, name.back().c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(found.get()) != SQLITE_ROW) return std::nullopt;
    tsql::bind::TableShape shape;
    shape.name = catalog::ColumnText(found.get(), 0);
    shape.schema = schema_;
    shape.sql = schema + "." + tsql::QuoteSqliteName(shape.name);
    bool view = catalog::ColumnText(found.get(), 1) == "view";
    if (view) {
      StoredView stored = StoredViewQuery(catalog::ColumnText(found.get(), 2));
      if (!stored.query || stored.bound_at_use) return std::nullopt;
      shape.view_query = std::move(stored.query);
      shape.view_with = std::move(stored.with);
      shape.check_option = stored.check_option;
    }
    catalog::PreparedStatement columns = catalog::Prepare(
        db_, "SELECT name, type, \"notnull\", pk, hidden FROM " + schema +
                 ".pragma_table_xinfo(?1)");
    sqlite3_bind_text(columns.get(), 1, shape.name.c_str(), -1, SQLITE_TRANSIENT);
    while (sqlite3_step(columns.get()) == SQLITE_ROW) {
      Column column;
      column.name = catalog::ColumnText(columns.get(), 0);
      if (!view) {
        std::optional<ColumnType> type =
            tsql::ParseDeclaredType(catalog::ColumnText(columns.get(), 1));
        if (!type) return std::nullopt;
        const char* collation = nullptr;
        int autoincrement = 0;
        sqlite3_table_column_metadata(db_, schema_.c_str(), shape.name.c_str(), column.name.c_str(),
                                      nullptr, &collation, nullptr, nullptr, &autoincrement);
        if (tsql::IsCharacterType(type->type)) tsql::ApplySqliteCollation(collation, *type);
        type->nullable =
            sqlite3_column_int(columns.get(), 2) == 0 && sqlite3_column_int(columns.get(), 3) == 0;
        type->identity = autoincrement != 0;
        column.type = *type;
        if (sqlite3_column_int(columns.get(), 4) >= 2) {
          shape.computed_columns.resize(shape.columns.size() + 1);
          shape.computed_columns.back() = true;
        }
      }
      shape.columns.push_back(std::move(column));
      shape.column_defaults.emplace_back();
    }
    if (!shape.computed_columns.empty()) shape.computed_columns.resize(shape.columns.size());
    if (shape.columns.empty()) return std::nullopt;
    return shape;
  }

  bool ObjectExists(const std::vector<std::string>& name) override {
    return FindTable(name).has_value();
  }
  std::optional<ColumnType> VariableType(std::string_view) override { return std::nullopt; }

 private:
  sqlite3* db_;
  std::string schema_;
};

}  // namespace

std::optional<std::vector<ColumnType>> BindViewColumnTypes(sqlite3* db, const std::string& schema,
                                                           std::string_view create_sql) {
  try {
    StoredView stored = StoredViewQuery(create_sql);
    if (!stored.query) stored = OlderViewQuery(create_sql);
    if (!stored.query || stored.bound_at_use) return std::nullopt;
    FileCatalog catalog(db, schema);
    static const std::vector<tsql::parse::CommonTable> kNoWith;
    tsql::bind::BoundQuery bound =
        tsql::bind::Bind(*stored.query, catalog, stored.with ? *stored.with : kNoWith);
    std::vector<ColumnType> types;
    for (const Column& column : bound.columns) {
      types.push_back(column.type);
      types.back().identity = false;
    }
    return types;
  } catch (const std::exception&) {
    return std::nullopt;  // it does not bind over the file now
  }
}

void RegenerateViews(sqlite3* db, tsql::generate::ExactForm form) {
  struct View {
    std::string name;
    std::string sql;
  };
  std::vector<View> views;
  {
    catalog::PreparedStatement list = catalog::Prepare(
        db, "SELECT name, sql FROM main.sqlite_schema WHERE type = 'view' ORDER BY rowid");
    while (sqlite3_step(list.get()) == SQLITE_ROW)
      views.push_back({catalog::ColumnText(list.get(), 0), catalog::ColumnText(list.get(), 1)});
  }
  FileCatalog catalog(db);
  for (const View& view : views) {
    StoredView stored = StoredViewQuery(view.sql);
    // One reading another database's tables keeps no generated query.
    if (stored.bound_at_use) continue;
    if (!stored.query) {
      // An older engine's, stored as its statement: the front end's from
      // now on, where it reads the text.
      std::optional<std::string> made = FrontEndViewOfOlderView(view.sql, catalog, form);
      if (!made) continue;
      catalog::Exec(db, "DROP VIEW main." + tsql::QuoteSqliteName(view.name));
      catalog::Exec(db, *made);
      continue;
    }
    std::optional<tsql::SqliteText> generated;
    try {
      static const std::vector<tsql::parse::CommonTable> kNoWith;
      tsql::bind::BoundQuery bound =
          tsql::bind::Bind(*stored.query, catalog, stored.with ? *stored.with : kNoWith);
      generated = tsql::generate::GenerateViewQuery(bound, 1, form);
    } catch (const SqlError& error) {
      throw std::runtime_error("view '" + view.name + "' no longer binds: " +
                               error.message().text);
    } catch (const std::exception& error) {
      throw std::runtime_error("view '" + view.name + "' no longer binds: " + error.what());
    }
    if (!generated) continue;
    std::string sql = view.sql.substr(0, stored.generated_at) + generated->sql;
    catalog::Exec(db, "DROP VIEW main." + tsql::QuoteSqliteName(view.name));
    catalog::Exec(db, sql);
  }
}

}  // namespace sqlengine::exec
