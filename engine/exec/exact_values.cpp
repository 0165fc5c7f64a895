#include "engine/exec/exact_values.h"

#include <cstring>
#include <stdexcept>
#include <string>

#include "engine/exec/sqlite_errors.h"
#include "engine/exec/value_conversion.h"
#include "engine/tsql/type_name.h"
#include "engine/values/exact_arithmetic.h"
#include "engine/values/exact_storage.h"

namespace sqlengine::exec {
namespace {

void DeleteType(void* type) { delete static_cast<ColumnType*>(type); }

std::string_view ExactTypeName(const ColumnType& type) {
  // SQL Server names decimal and numeric targets alike "numeric".
  return type.type == SqlType::kDecimal ? "numeric" : tsql::TypeName(type.type);
}

}  // namespace

std::optional<ColumnType> ExactType(std::string_view declaration) {
  std::optional<ColumnType> type = tsql::ParseDeclaredType(declaration);
  if (!type || !values::IsExactType(type->type)) return std::nullopt;
  if (type->type == SqlType::kMoney) {
    type->precision = 19;
    type->scale = 4;
  } else if (type->type == SqlType::kSmallMoney) {
    type->precision = 10;
    type->scale = 4;
  }
  return type;
}

std::optional<ColumnType> ExactTypeArgument(sqlite3_context* context, sqlite3_value** args,
                                            int index) {
  if (const auto* cached = static_cast<const ColumnType*>(sqlite3_get_auxdata(context, index)))
    return *cached;
  const unsigned char* text = sqlite3_value_text(args[index]);
  std::optional<ColumnType> type =
      text ? ExactType(reinterpret_cast<const char*>(text)) : std::nullopt;
  if (!type) {
    sqlite3_result_error(context, "an exact function's type argument is no exact type", -1);
    return std::nullopt;
  }
  // SQLite may free the copy at once (for an argument that is no constant).
  sqlite3_set_auxdata(context, index, new ColumnType(*type), DeleteType);
  return type;
}

std::optional<Decimal> RawValue(sqlite3_value* value, const ColumnType& type) {
  switch (sqlite3_value_type(value)) {
    case SQLITE_INTEGER:
      return values::FromRaw(
          values::RawExact{static_cast<std::int64_t>(sqlite3_value_int64(value))}, type);
    case SQLITE_BLOB: {
      values::ExactKey key;
      if (sqlite3_value_bytes(value) != static_cast<int>(key.size())) return std::nullopt;
      std::memcpy(key.data(), sqlite3_value_blob(value), key.size());
      return values::FromRaw(values::RawExact{key}, type);
    }
    default:
      return std::nullopt;
  }
}

Value GeneratedColumnValue(sqlite3_stmt* statement, int column, const ColumnType& type) {
  if (!values::IsExactType(type.type)) return ColumnValue(statement, column, type);
  sqlite3_value* value = sqlite3_column_value(statement, column);
  if (sqlite3_value_type(value) == SQLITE_NULL) return std::monostate{};
  std::optional<Decimal> decoded = RawValue(value, type);
  if (!decoded) throw std::runtime_error("a generated exact value is not in the stored form");
  return *decoded;
}

std::optional<Decimal> RawArgument(sqlite3_context* context, sqlite3_value* value,
                                   const ColumnType& type) {
  std::optional<Decimal> decoded = RawValue(value, type);
  if (!decoded) {
    sqlite3_result_error(context, "an exact function's argument is not in the stored form", -1);
  }
  return decoded;
}

void ResultRaw(sqlite3_context* context, const Decimal& value, const ColumnType& type) {
  values::RawResult raw = values::ToRaw(value, type);
  if (raw.fault != values::ExactFault::kNone) return ResultSqlError(context, OverflowError(type));
  if (const auto* integer = std::get_if<std::int64_t>(&raw.raw))
    return sqlite3_result_int64(context, *integer);
  const values::ExactKey& key = std::get<values::ExactKey>(raw.raw);
  sqlite3_result_blob(context, key.data(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
}

void BindRaw(sqlite3_stmt* statement, int index, const Decimal& value, const ColumnType& type) {
  values::RawResult raw = values::ToRaw(value, type);
  if (raw.fault != values::ExactFault::kNone) throw OverflowError(type);
  if (const auto* integer = std::get_if<std::int64_t>(&raw.raw)) {
    sqlite3_bind_int64(statement, index, *integer);
    return;
  }
  const values::ExactKey& key = std::get<values::ExactKey>(raw.raw);
  sqlite3_bind_blob(statement, index, key.data(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
}

SqlError OverflowError(const ColumnType& type) {
  return MakeError(8115, {"expression", ExactTypeName(type)});
}

std::optional<SqlError> StoredFormError(sqlite3_value* value, const ColumnType& type) {
  int kind = sqlite3_value_type(value);
  if (kind == SQLITE_NULL) return std::nullopt;
  bool integer_form = values::StoredAsInteger(type);
  std::optional<Decimal> decoded;
  if ((kind == SQLITE_INTEGER && integer_form) || (kind == SQLITE_BLOB && !integer_form))
    decoded = RawValue(value, type);
  if (!decoded) {
    std::string_view from = kind == SQLITE_FLOAT  ? "float"
                            : kind == SQLITE_TEXT ? "varchar"
                            : kind == SQLITE_BLOB ? "varbinary"
                                                  : "bigint";
    return MakeError(8114, {from, ExactTypeName(type)});
  }
  if (!values::InTypeRange(*decoded, type))
    return MakeError(8115, {"numeric", ExactTypeName(type)});
  return std::nullopt;
}

}  // namespace sqlengine::exec
