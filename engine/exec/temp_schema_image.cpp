#include "engine/exec/temp_schema_image.h"

#include <algorithm>
#include <stdexcept>

#include "engine/catalog/sqlite_handle.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/token.h"

namespace sqlengine::exec {
namespace {

std::string Temp(const std::string& name) { return "temp." + tsql::QuoteSqliteName(name); }

std::string Text(sqlite3_stmt* statement, int column) {
  const unsigned char* text = sqlite3_column_text(statement, column);
  return text == nullptr ? std::string() : reinterpret_cast<const char*>(text);
}

bool IsInternal(const std::string& name) {
  return tsql::EqualsIgnoreCase(std::string_view(name).substr(0, 7), "sqlite_");
}

// The definition as it makes the object in the temporary schema: SQLite
// keeps a temporary object's CREATE without its TEMP; an index follows its
// table there by itself.
std::string TemporaryDefinition(const std::string& type, const std::string& sql) {
  constexpr std::string_view kCreate = "CREATE ";
  if (type == "index" || !tsql::EqualsIgnoreCase(std::string_view(sql).substr(0, 7), kCreate))
    return sql;
  return "CREATE TEMP " + sql.substr(kCreate.size());
}

}  // namespace

TempSchemaImage TempSchemaImage::Take(sqlite3* db) {
  TempSchemaImage image;
  {
    auto objects =
        catalog::Prepare(db, "SELECT type, name, sql FROM temp.sqlite_master ORDER BY rowid");
    while (sqlite3_step(objects.get()) == SQLITE_ROW) {
      Object object{Text(objects.get(), 0), Text(objects.get(), 1), Text(objects.get(), 2)};
      if (object.type == "table" &&
          tsql::EqualsIgnoreCase(std::string_view(object.sql).substr(0, 14), "CREATE VIRTUAL"))
        throw std::runtime_error("a virtual table among the temporary tables");
      image.objects_.push_back(std::move(object));
    }
  }
  auto columns = catalog::Prepare(db, "SELECT name, hidden FROM pragma_table_xinfo(?1, 'temp')");
  for (const Object& object : image.objects_) {
    if (object.type != "table" || (IsInternal(object.name) && object.name != "sqlite_sequence"))
      continue;
    Rows table{object.name, {}, 0, {}};
    std::vector<std::string> names;
    sqlite3_bind_text(columns.get(), 1, object.name.c_str(), -1, SQLITE_TRANSIENT);
    while (sqlite3_step(columns.get()) == SQLITE_ROW) {
      std::string name = Text(columns.get(), 0);
      // Generated columns are computed again from the rest.
      if (sqlite3_column_int(columns.get(), 1) == 0) names.push_back(std::move(name));
    }
    sqlite3_reset(columns.get());
    std::string list;
    for (const std::string& name : names) list += (list.empty() ? "" : ", ") + tsql::QuoteSqliteName(name);
    // The rowid goes along under a name no column takes, when the table has one.
    for (const char* rowid : {"rowid", "_rowid_", "oid"}) {
      if (std::any_of(names.begin(), names.end(),
                      [&](const std::string& name) { return tsql::EqualsIgnoreCase(name, rowid); }))
        continue;
      sqlite3_stmt* probe = nullptr;
      std::string sql = std::string("SELECT ") + rowid + " FROM " + Temp(object.name);
      bool has_rowid = sqlite3_prepare_v2(db, sql.c_str(), -1, &probe, nullptr) == SQLITE_OK;
      sqlite3_finalize(probe);
      if (has_rowid) list = rowid + (list.empty() ? "" : ", " + list);
      break;
    }
    if (list.empty()) continue;
    table.columns = list;
    auto select = catalog::Prepare(db, "SELECT " + list + " FROM " + Temp(object.name));
    table.width = sqlite3_column_count(select.get());
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(select.get())) == SQLITE_ROW) {
      std::vector<Value> row;
      for (int c = 0; c < table.width; ++c) {
        row.emplace_back(sqlite3_value_dup(sqlite3_column_value(select.get(), c)));
        if (row.back() == nullptr) throw std::runtime_error("out of memory");
      }
      table.rows.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
    image.tables_.push_back(std::move(table));
  }
  return image;
}

void TempSchemaImage::Restore(sqlite3* db) const {
  auto present = [db] {
    std::vector<Object> found;
    auto objects = catalog::Prepare(db, "SELECT type, name, sql FROM temp.sqlite_master");
    while (sqlite3_step(objects.get()) == SQLITE_ROW)
      found.push_back({Text(objects.get(), 0), Text(objects.get(), 1), Text(objects.get(), 2)});
    return found;
  };
  auto same = [](const Object& a, const Object& b) {
    return a.type == b.type && a.name == b.name && a.sql == b.sql;
  };
  auto holds = [&](const std::vector<Object>& objects, const Object& object) {
    return std::any_of(objects.begin(), objects.end(),
                       [&](const Object& other) { return same(other, object); });
  };
  // Triggers go first and come back last: none may fire on the rows written back.
  std::vector<Object> now = present();
  for (const char* type : {"trigger", "view", "index", "table"}) {
    for (const Object& object : now) {
      if (object.type != type || object.sql.empty() || IsInternal(object.name)) continue;
      if (object.type == "trigger" || !holds(objects_, object))
        catalog::Exec(db, "DROP " + object.type + " IF EXISTS " + Temp(object.name));
    }
  }
  now = present();
  for (const char* type : {"table", "index", "view"}) {
    for (const Object& object : objects_) {
      if (object.type == type && !object.sql.empty() && !holds(now, object))
        catalog::Exec(db, TemporaryDefinition(object.type, object.sql));
    }
  }
  auto deferred = catalog::Prepare(db, "PRAGMA defer_foreign_keys");
  bool was_deferred = sqlite3_step(deferred.get()) == SQLITE_ROW && sqlite3_column_int(deferred.get(), 0);
  deferred.reset();
  catalog::Exec(db, "PRAGMA defer_foreign_keys=ON");
  for (const Rows& table : tables_) {
    catalog::Exec(db, "DELETE FROM " + Temp(table.table));
    std::string sql = "INSERT INTO " + Temp(table.table) + " (" + table.columns + ") VALUES (";
    for (int c = 0; c < table.width; ++c) sql += c == 0 ? "?" : ", ?";
    auto insert = catalog::Prepare(db, sql + ")");
    for (const std::vector<Value>& row : table.rows) {
      for (int c = 0; c < table.width; ++c) sqlite3_bind_value(insert.get(), c + 1, row[c].get());
      if (sqlite3_step(insert.get()) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
      sqlite3_reset(insert.get());
    }
  }
  catalog::Exec(db, was_deferred ? "PRAGMA defer_foreign_keys=ON" : "PRAGMA defer_foreign_keys=OFF");
  for (const Object& object : objects_) {
    if (object.type == "trigger") catalog::Exec(db, TemporaryDefinition(object.type, object.sql));
  }
}

}  // namespace sqlengine::exec
