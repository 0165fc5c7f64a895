#include "engine/exec/exact_column_guard.h"

#include <map>
#include <optional>
#include <string>

#include "engine/catalog/data_file.h"
#include "engine/common/error.h"
#include "engine/exec/exact_values.h"
#include "engine/tsql/token.h"

namespace sqlengine::exec {
namespace {

std::string Quoted(std::string_view name) {
  std::string quoted = "\"";
  for (char c : name) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

// The declared type of every column of `table`, in order.
std::vector<std::pair<std::string, std::string>> DeclaredColumns(sqlite3* db,
                                                                 std::string_view schema,
                                                                 std::string_view table) {
  std::vector<std::pair<std::string, std::string>> columns;
  std::string sql = "PRAGMA " + Quoted(schema) + ".table_xinfo(" + Quoted(table) + ")";
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
    sqlite3_finalize(statement);
    return columns;
  }
  while (sqlite3_step(statement) == SQLITE_ROW) {
    auto text = [&](int column) {
      const unsigned char* value = sqlite3_column_text(statement, column);
      return value ? std::string(reinterpret_cast<const char*>(value)) : std::string();
    };
    columns.emplace_back(text(1), text(2));
  }
  sqlite3_finalize(statement);
  return columns;
}

[[noreturn]] void Refuse(std::string_view table, std::string_view column) {
  SqlError error = MakeError(8180);
  error.message().text += " Column '" + std::string(column) + "' of table '" + std::string(table) +
                          "' holds exact numbers, which this form of statement cannot read or "
                          "write exactly.";
  throw error;
}

}  // namespace

tsql::generate::ExactForm EngineExactForm() {
  return catalog::kDataFileFormat >= kFirstExactStorageFormat ? tsql::generate::ExactForm::kStored
                                                              : tsql::generate::ExactForm::kNumbers;
}

bool StoresExactForm(sqlite3* db, std::string_view schema) {
  // Temporary tables live as long as their session: they take the form of
  // the files this engine writes.
  if (tsql::EqualsIgnoreCase(schema, "temp"))
    return catalog::kDataFileFormat >= kFirstExactStorageFormat;
  std::string sql = "PRAGMA " + Quoted(schema.empty() ? "main" : schema) + ".user_version";
  sqlite3_stmt* statement = nullptr;
  int format = 0;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
      sqlite3_step(statement) == SQLITE_ROW) {
    format = sqlite3_column_int(statement, 0);
  }
  sqlite3_finalize(statement);
  return format >= kFirstExactStorageFormat;
}

void RefuseStoredExactColumns(sqlite3* db,
                              const std::vector<StatementAuthorizer::TouchedColumn>& touched) {
  std::map<std::string, bool> stores_exact;  // by lower-case schema
  for (const StatementAuthorizer::TouchedColumn& use : touched) {
    std::string schema = use.schema.empty() ? "main" : use.schema;
    auto known = stores_exact.find(tsql::ToLower(schema));
    if (known == stores_exact.end())
      known = stores_exact.emplace(tsql::ToLower(schema), StoresExactForm(db, schema)).first;
    if (!known->second) continue;
    for (const auto& [name, declared] : DeclaredColumns(db, schema, use.table)) {
      if (!use.column.empty() && !tsql::EqualsIgnoreCase(name, use.column)) continue;
      if (ExactType(declared)) Refuse(use.table, name);
    }
  }
}

}  // namespace sqlengine::exec
