#include "engine/exec/view_change_capture.h"

#include <stdexcept>

#include "engine/catalog/sqlite_handle.h"
#include "engine/exec/known_tables.h"
#include "engine/exec/session_connection.h"
#include "engine/tsql/sqlite_quoting.h"

namespace sqlengine::exec {
namespace {

constexpr const char* kOldRows = "sqlengine_view_old_rows";
constexpr const char* kNewRows = "sqlengine_view_new_rows";
constexpr const char* kTriggerPrefix = "sqlengine_view_capture_";

RowImages ReadAll(sqlite3* db, const char* table) {
  auto query = catalog::Prepare(db, std::string("SELECT * FROM temp.") + table + " ORDER BY rowid");
  RowImages rows;
  while (sqlite3_step(query.get()) == SQLITE_ROW) {
    RowValues row;
    for (int i = 0; i < sqlite3_column_count(query.get()); ++i)
      row.Add(sqlite3_column_value(query.get(), i));
    rows.push_back(std::move(row));
  }
  return rows;
}

// "OLD.\"a\", OLD.\"b\"" for `columns`.
std::string Values(const std::vector<std::string>& columns, const char* image) {
  std::string values;
  for (const std::string& column : columns)
    values +=
        (values.empty() ? "" : ", ") + std::string(image) + "." + tsql::QuoteSqliteName(column);
  return values;
}

}  // namespace

bool IsView(sqlite3* db, const std::string& schema, const std::string& name) {
  // Tables and views share their names: a table known is no view.
  if (KnownTable(db, schema, name.c_str()) == true) return false;
  SessionConnection::KeptRead query(db, "SELECT 1 FROM " + tsql::QuoteSqliteName(schema) +
                                            ".sqlite_master WHERE type = 'view' AND name = ? "
                                            "COLLATE NOCASE");
  if (query.get() == nullptr) throw std::runtime_error(sqlite3_errmsg(db));
  sqlite3_bind_text(query.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
  return sqlite3_step(query.get()) == SQLITE_ROW;
}

ViewChangeCapture::ViewChangeCapture(sqlite3* db, const std::string& schema,
                                     const std::string& view)
    : db_(db) {
  std::vector<std::string> columns = TableColumns(db, schema, view);
  if (columns.empty()) throw std::runtime_error("no columns for the view " + view);
  const std::string target = tsql::QuoteSqliteName(schema) + "." + tsql::QuoteSqliteName(view);
  try {
    for (const char* table : {kOldRows, kNewRows}) {
      catalog::Exec(db, std::string("CREATE TEMP TABLE ") + table + " AS SELECT * FROM " + target +
                            " WHERE 0");
    }
    const std::string into_old =
        std::string("INSERT INTO ") + kOldRows + " VALUES (" + Values(columns, "OLD") + "); ";
    const std::string into_new =
        std::string("INSERT INTO ") + kNewRows + " VALUES (" + Values(columns, "NEW") + "); ";
    catalog::Exec(db, std::string("CREATE TEMP TRIGGER ") + kTriggerPrefix +
                          "insert INSTEAD OF INSERT ON " + target + " BEGIN " + into_new + "END");
    catalog::Exec(db, std::string("CREATE TEMP TRIGGER ") + kTriggerPrefix +
                          "update INSTEAD OF UPDATE ON " + target + " BEGIN " + into_old +
                          into_new + "END");
    catalog::Exec(db, std::string("CREATE TEMP TRIGGER ") + kTriggerPrefix +
                          "delete INSTEAD OF DELETE ON " + target + " BEGIN " + into_old + "END");
  } catch (...) {
    Remove();
    throw;
  }
}

ViewChangeCapture::~ViewChangeCapture() { Remove(); }

void ViewChangeCapture::Remove() {
  for (const char* kind : {"insert", "update", "delete"}) {
    sqlite3_exec(db_, (std::string("DROP TRIGGER IF EXISTS temp.") + kTriggerPrefix + kind).c_str(),
                 nullptr, nullptr, nullptr);
  }
  for (const char* table : {kOldRows, kNewRows}) {
    sqlite3_exec(db_, (std::string("DROP TABLE IF EXISTS temp.") + table).c_str(), nullptr, nullptr,
                 nullptr);
  }
}

RowImages ViewChangeCapture::OldRows() const { return ReadAll(db_, kOldRows); }

RowImages ViewChangeCapture::NewRows() const { return ReadAll(db_, kNewRows); }

}  // namespace sqlengine::exec
