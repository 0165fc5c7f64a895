#include "engine/exec/identity_type.h"

#include "engine/exec/sqlite_value_text.h"
#include "engine/tsql/type_name.h"

namespace sqlengine::exec {
namespace {

constexpr std::string_view kCommentStart = "/*sqlengine_type ";

bool IsRowidIdentity(std::string_view declared, int primary_key) {
  return primary_key == 1 && declared.size() == 7 &&
         sqlite3_strnicmp(declared.data(), "INTEGER", 7) == 0;
}

}  // namespace

std::string IdentityTypeComment(const ColumnType& type) {
  return std::string(kCommentStart) + tsql::TypeDeclaration(type) + "*/";
}

bool MayBeIdentity(const ColumnType& type) {
  switch (type.type) {
    case SqlType::kTinyInt:
    case SqlType::kSmallInt:
    case SqlType::kInt:
    case SqlType::kBigInt:
      return true;
    case SqlType::kDecimal:
      return type.scale == 0;
    default:
      return false;
  }
}

std::optional<std::pair<std::int64_t, std::int64_t>> IdentityRange(const ColumnType& type) {
  using Range = std::pair<std::int64_t, std::int64_t>;
  switch (type.type) {
    case SqlType::kTinyInt:
      return Range{0, 255};
    case SqlType::kSmallInt:
      return Range{-32768, 32767};
    case SqlType::kInt:
      return Range{INT32_MIN, INT32_MAX};
    case SqlType::kDecimal: {
      if (type.precision > 18) return std::nullopt;
      std::int64_t largest = 1;
      for (int i = 0; i < type.precision; ++i) largest *= 10;
      return Range{1 - largest, largest - 1};
    }
    default:
      return std::nullopt;
  }
}

std::optional<ColumnType> IdentityTypeIn(std::string_view table_sql) {
  std::size_t start = table_sql.find(kCommentStart);
  if (start == std::string_view::npos) return std::nullopt;
  start += kCommentStart.size();
  std::size_t end = table_sql.find("*/", start);
  if (end == std::string_view::npos) return std::nullopt;
  std::optional<ColumnType> type = tsql::ParseDeclaredType(table_sql.substr(start, end - start));
  if (!type || !MayBeIdentity(*type)) return std::nullopt;
  return type;
}

std::optional<ColumnType> StoredColumnType(std::string_view declared, int primary_key,
                                           std::string_view table_sql) {
  if (IsRowidIdentity(declared, primary_key)) {
    if (std::optional<ColumnType> type = IdentityTypeIn(table_sql)) return type;
  }
  return tsql::ParseDeclaredType(declared);
}

void StoredColumnTypeFunction(sqlite3_context* context, int, sqlite3_value** arguments) {
  std::string declared = SqliteValueText(arguments[0]);
  if (IsRowidIdentity(declared, sqlite3_value_int(arguments[1]))) {
    if (std::optional<ColumnType> type = IdentityTypeIn(SqliteValueText(arguments[2])))
      return SqliteResultText(context, tsql::TypeDeclaration(*type));
  }
  sqlite3_result_value(context, arguments[0]);
}

}  // namespace sqlengine::exec
