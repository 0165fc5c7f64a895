#include "engine/exec/ansi_trimmed_columns.h"

#include <stdexcept>

#include "engine/exec/table_definition.h"
#include "engine/tsql/token.h"

namespace sqlengine::exec {
namespace {

void AnsiTrimmed(sqlite3_context* context, int, sqlite3_value** arguments) {
  sqlite3_value* value = arguments[0];
  int type = sqlite3_value_type(value);
  if (type == SQLITE_TEXT) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
    int size = sqlite3_value_bytes(value);
    while (size > 0 && text[size - 1] == ' ') --size;
    return sqlite3_result_text(context, text, size, SQLITE_TRANSIENT);
  }
  if (type == SQLITE_BLOB) {
    const auto* bytes = static_cast<const unsigned char*>(sqlite3_value_blob(value));
    int size = sqlite3_value_bytes(value);
    while (size > 0 && bytes[size - 1] == 0) --size;
    return sqlite3_result_blob(context, bytes, size, SQLITE_TRANSIENT);
  }
  sqlite3_result_value(context, value);
}

}  // namespace

bool RecordsAnsiPadding(const ColumnType& type) {
  return (type.type == SqlType::kChar || type.type == SqlType::kVarChar ||
          type.type == SqlType::kBinary || type.type == SqlType::kVarBinary) &&
         type.length > 0 && type.length != kMaxLength;
}

bool TrimsWrittenValues(const ColumnType& type, bool nullable) {
  if (!RecordsAnsiPadding(type)) return false;
  return nullable || type.type == SqlType::kVarChar || type.type == SqlType::kVarBinary;
}

std::vector<std::string> AnsiTrimmedColumns(const std::string& table_sql) {
  std::vector<std::string> columns;
  if (table_sql.find(kAnsiTrimMarker) == std::string::npos) return columns;
  std::optional<TableDefinition> definition = ParseTableDefinition({}, table_sql);
  if (!definition) return columns;
  const std::vector<TableDefinition::Element>& elements = definition->elements;
  for (std::size_t k = 0; k < elements.size(); ++k) {
    if (elements[k].column.empty()) continue;
    // The marker follows the type, which may end the element's tokens.
    std::size_t end = k + 1 < elements.size() ? elements[k + 1].begin : definition->close;
    std::string_view text(table_sql);
    text = text.substr(elements[k].begin, end - elements[k].begin);
    if (text.find(kAnsiTrimMarker) != std::string_view::npos) columns.push_back(elements[k].column);
  }
  return columns;
}

bool ListsColumn(const std::vector<std::string>& columns, std::string_view column) {
  for (const std::string& listed : columns) {
    if (tsql::EqualsIgnoreCase(listed, column)) return true;
  }
  return false;
}

void RegisterAnsiTrimFunction(sqlite3* db) {
  if (sqlite3_create_function_v2(db, "sqlengine_ansi_trimmed", 1,
                                 SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, AnsiTrimmed, nullptr,
                                 nullptr, nullptr) != SQLITE_OK)
    throw std::runtime_error("cannot register sqlengine_ansi_trimmed");
}

}  // namespace sqlengine::exec
