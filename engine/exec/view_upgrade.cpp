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

// What a view's query reads, described from the data file alone: its tables
// and the front end's views, by name.
class FileCatalog final : public tsql::bind::Catalog {
 public:
  explicit FileCatalog(sqlite3* db) : db_(db) {}

  std::optional<tsql::bind::TableShape> FindTable(const std::vector<std::string>& name) override {
    if (name.size() == 3 && !name[0].empty()) return std::nullopt;  // another database
    catalog::PreparedStatement found = catalog::Prepare(
        db_,
        "SELECT name, type, sql FROM main.sqlite_schema WHERE type IN ('table', 'view') AND "
        "name = ?1 COLLATE NOCASE");
    sqlite3_bind_text(found.get(), 1, name.back().c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(found.get()) != SQLITE_ROW) return std::nullopt;
    tsql::bind::TableShape shape;
    shape.name = catalog::ColumnText(found.get(), 0);
    shape.schema = "main";
    shape.sql = tsql::QuoteSqliteName("main") + "." + tsql::QuoteSqliteName(shape.name);
    bool view = catalog::ColumnText(found.get(), 1) == "view";
    if (view) {
      StoredView stored = StoredViewQuery(catalog::ColumnText(found.get(), 2));
      if (!stored.query) return std::nullopt;
      shape.view_query = std::move(stored.query);
      shape.view_with = std::move(stored.with);
      shape.check_option = stored.check_option;
    }
    catalog::PreparedStatement columns = catalog::Prepare(
        db_, "SELECT name, type, \"notnull\", pk, hidden FROM main.pragma_table_xinfo(?1)");
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
        sqlite3_table_column_metadata(db_, "main", shape.name.c_str(), column.name.c_str(),
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
};

}  // namespace

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
