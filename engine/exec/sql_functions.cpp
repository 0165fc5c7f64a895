#include "engine/exec/sql_functions.h"

#include <openssl/rand.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/catalog/master_catalog.h"
#include "engine/common/error.h"
#include "engine/exec/addition_function.h"
#include "engine/exec/ansi_trimmed_columns.h"
#include "engine/exec/binary_comparison.h"
#include "engine/exec/checksum_functions.h"
#include "engine/exec/column_collation.h"
#include "engine/exec/conversion_functions.h"
#include "engine/exec/date_functions.h"
#include "engine/exec/date_numbers.h"
#include "engine/exec/date_styles.h"
#include "engine/exec/error_functions.h"
#include "engine/exec/message_placeholders.h"
#include "engine/exec/exact_aggregates.h"
#include "engine/exec/exact_functions.h"
#include "engine/exec/function_registration.h"
#include "engine/exec/front_end_view.h"
#include "engine/exec/guid_order.h"
#include "engine/exec/hash_grouping.h"
#include "engine/exec/identity_functions.h"
#include "engine/exec/identity_type.h"
#include "engine/exec/ignored_duplicates.h"
#include "engine/exec/integer_arithmetic.h"
#include "engine/exec/null_warnings.h"
#include "engine/exec/math_functions.h"
#include "engine/exec/normalised_columns.h"
#include "engine/exec/number_styles.h"
#include "engine/exec/object_properties.h"
#include "engine/exec/procedures.h"
#include "engine/exec/rules_defaults.h"
#include "engine/exec/metadata_functions.h"
#include "engine/exec/server_functions.h"
#include "engine/exec/single_value.h"
#include "engine/exec/sqlite_errors.h"
#include "engine/exec/sqlite_value_text.h"
#include "engine/exec/statistical_aggregates.h"
#include "engine/exec/string_functions.h"
#include "engine/exec/table_function_rows.h"
#include "engine/exec/text_comparison.h"
#include "engine/exec/text_pointers.h"
#include "engine/exec/per_row_variables.h"
#include "engine/exec/user_functions.h"
#include "engine/exec/variant_functions.h"
#include "engine/tsql/definition_text.h"
#include "engine/tsql/dotted_name.h"
#include "engine/tsql/token.h"
#include "engine/tsql/type_name.h"
#include "engine/values/float_rounding.h"

namespace sqlengine::exec {
namespace {

FunctionHost& Host(sqlite3_context* context) {
  return *static_cast<FunctionHost*>(sqlite3_user_data(context));
}

void GetDate(sqlite3_context* context, int, sqlite3_value**) {
  SqliteResultText(context, catalog::CurrentTimestamp());
}

// LEN ignores trailing spaces.
void Len(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  std::string text = SqliteValueText(args[0]);
  while (!text.empty() && text.back() == ' ') text.pop_back();
  sqlite3_result_int64(context, static_cast<sqlite3_int64>(Utf8CharacterCount(text)));
}

// LEFT / RIGHT(text, n): the first or last n characters; 536 for a negative n,
// as SUBSTRING gives it.
void LeftOrRight(sqlite3_context* context, sqlite3_value** args, bool left) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL || sqlite3_value_type(args[1]) == SQLITE_NULL) {
    return sqlite3_result_null(context);
  }
  std::string text = SqliteValueText(args[0]);
  sqlite3_int64 count = sqlite3_value_int64(args[1]);
  if (count < 0) {
    std::string error = FunctionErrorText(MakeError(536));
    return sqlite3_result_error(context, error.c_str(), -1);
  }
  size_t length = Utf8CharacterCount(text);
  size_t keep = std::min<size_t>(static_cast<size_t>(count), length);
  size_t from = left ? 0 : Utf8ByteOffset(text, length - keep);
  size_t to = left ? Utf8ByteOffset(text, keep) : text.size();
  SqliteResultText(context, text.substr(from, to - from));
}

void Left(sqlite3_context* context, int, sqlite3_value** args) { LeftOrRight(context, args, true); }
void Right(sqlite3_context* context, int, sqlite3_value** args) {
  LeftOrRight(context, args, false);
}

// SUBSTRING(value, start, length): the characters (bytes of binary data) at
// positions start .. start + length - 1 that exist, positions before 1
// included in the count; 536 for a negative length.
void Substring(sqlite3_context* context, int, sqlite3_value** args) {
  for (int k = 0; k < 3; ++k) {
    if (sqlite3_value_type(args[k]) == SQLITE_NULL) return sqlite3_result_null(context);
  }
  sqlite3_int64 start = sqlite3_value_int64(args[1]);
  sqlite3_int64 length = sqlite3_value_int64(args[2]);
  if (length < 0) {
    std::string error = FunctionErrorText(MakeError(536));
    return sqlite3_result_error(context, error.c_str(), -1);
  }
  sqlite3_int64 first = std::max<sqlite3_int64>(start, 1);
  sqlite3_int64 end = start > 0 && length > INT64_MAX - start ? INT64_MAX : start + length;
  auto skip = static_cast<size_t>(first - 1);
  auto count = static_cast<size_t>(std::max<sqlite3_int64>(end - first, 0));
  if (sqlite3_value_type(args[0]) == SQLITE_BLOB) {
    const auto* data = static_cast<const char*>(sqlite3_value_blob(args[0]));
    auto size = static_cast<size_t>(sqlite3_value_bytes(args[0]));
    size_t from = std::min(skip, size);
    size_t taken = std::min(count, size - from);
    return sqlite3_result_blob(context, data + from, static_cast<int>(taken), SQLITE_TRANSIENT);
  }
  std::string text = SqliteValueText(args[0]);
  size_t from = Utf8ByteOffset(text, skip);
  size_t to = from + Utf8ByteOffset(std::string_view(text).substr(from), count);
  SqliteResultText(context, text.substr(from, to - from));
}

// CHARINDEX(find, in [, start]): 1-based character position, 0 when absent;
// case-insensitive like the default collation.
// CHARINDEX(find, in [, start]); sqlengine_charindex_cs matches case, as a
// case-sensitive collation of either text does.
template <bool kCaseSensitive>
void CharIndex(sqlite3_context* context, int count, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL || sqlite3_value_type(args[1]) == SQLITE_NULL) {
    return sqlite3_result_null(context);
  }
  std::string find = SqliteValueText(args[0]);
  std::string in = SqliteValueText(args[1]);
  if (!kCaseSensitive) find = FoldedText(find), in = FoldedText(in);
  sqlite3_int64 start = count > 2 ? std::max<sqlite3_int64>(1, sqlite3_value_int64(args[2])) : 1;
  size_t from = Utf8ByteOffset(in, static_cast<size_t>(start - 1));
  size_t at = find.empty() ? std::string::npos : in.find(find, from);
  sqlite3_result_int64(context,
                       at == std::string::npos
                           ? 0
                           : static_cast<sqlite3_int64>(Utf8CharacterCount(in.substr(0, at)) + 1));
}

void NewId(sqlite3_context* context, int, sqlite3_value**) {
  unsigned char bytes[16];
  if (RAND_bytes(bytes, sizeof bytes) != 1)
    return sqlite3_result_error(context, "no random bytes", -1);
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);
  char text[40];
  std::snprintf(text, sizeof text,
                "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", bytes[0],
                bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8],
                bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
  SqliteResultText(context, text);
}

void DbName(sqlite3_context* context, int, sqlite3_value**) {
  SqliteResultText(context, Host(context).DatabaseName());
}
void LoginName(sqlite3_context* context, int, sqlite3_value**) {
  SqliteResultText(context, Host(context).LoginName());
}
void UserName(sqlite3_context* context, int count, sqlite3_value** args) {
  std::optional<int> uid;
  if (count == 1) {
    if (sqlite3_value_type(args[0]) == SQLITE_NULL) return sqlite3_result_null(context);
    uid = sqlite3_value_int(args[0]);
  }
  std::optional<std::string> name = Host(context).DatabaseUserName(uid);
  if (!name) return sqlite3_result_null(context);
  SqliteResultText(context, *name);
}

void IsServerRoleMember(sqlite3_context* context, int count, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  std::string role = SqliteValueText(args[0]);
  std::optional<std::string> login;
  if (count > 1) {
    if (sqlite3_value_type(args[1]) == SQLITE_NULL) return sqlite3_result_null(context);
    login = SqliteValueText(args[1]);
  }
  std::optional<int> member = Host(context).ServerRoleMember(role, login);
  if (!member) return sqlite3_result_null(context);
  sqlite3_result_int(context, *member);
}

// IS_MEMBER(role) and HAS_DBACCESS(database): NULL for NULL.
template <std::optional<int> (FunctionHost::*answer)(std::string_view)>
void NameQuestion(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  std::string name = SqliteValueText(args[0]);
  try {
    std::optional<int> answered = (Host(context).*answer)(name);
    if (!answered) return sqlite3_result_null(context);
    sqlite3_result_int(context, *answered);
  } catch (const SqlError& error) {
    ResultSqlError(context, error);
  }
}

// sqlengine_permissions(): PERMISSIONS()'s statement bits.
// sqlengine_permissions(name, xtype, columns [, column]): an object's bits,
// `columns` its column names separated by char(1); NULL when the object
// (name NULL) or the column is unknown, or the column is NULL.
// sqlengine_permissions_in(schema, name, xtype, columns [, column]): the
// same for the database reachable as SQLite schema `schema`.
void ObjectPermissionsIn(sqlite3_context* context, const std::string& schema, int count,
                         sqlite3_value** args) {
  try {
    for (int k = 0; k < count; ++k) {
      if (k != 2 && sqlite3_value_type(args[k]) == SQLITE_NULL) return sqlite3_result_null(context);
    }
    std::vector<std::string> columns;
    if (sqlite3_value_type(args[2]) != SQLITE_NULL) {
      std::string list = SqliteValueText(args[2]);
      for (size_t at = 0; at <= list.size();) {
        size_t end = list.find('\x01', at);
        if (end == std::string::npos) end = list.size();
        if (end > at) columns.push_back(list.substr(at, end - at));
        at = end + 1;
      }
    }
    std::optional<std::string> column;
    if (count > 3) column = SqliteValueText(args[3]);
    std::optional<int> bits = Host(context).ObjectPermissions(
        schema, SqliteValueText(args[0]), SqliteValueText(args[1]), columns,
        column ? std::optional<std::string_view>(*column) : std::nullopt);
    if (!bits) return sqlite3_result_null(context);
    sqlite3_result_int(context, *bits);
  } catch (const SqlError& error) {
    ResultSqlError(context, error);
  }
}

void Permissions(sqlite3_context* context, int count, sqlite3_value** args) {
  if (count == 0) {
    try {
      return sqlite3_result_int(context, Host(context).StatementPermissions());
    } catch (const SqlError& error) {
      std::string text = FunctionErrorText(error);
      return sqlite3_result_error(context, text.c_str(), -1);
    }
  }
  ObjectPermissionsIn(context, "main", count, args);
}

void PermissionsIn(sqlite3_context* context, int count, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  ObjectPermissionsIn(context, SqliteValueText(args[0]), count - 1, args + 1);
}

void Processes(sqlite3_context* context, int, sqlite3_value**) {
  SqliteResultText(context, Host(context).ProcessRows());
}

// sqlengine_temp_tables_elsewhere(): other sessions' #temp tables.
void TempTablesElsewhere(sqlite3_context* context, int, sqlite3_value**) {
  SqliteResultText(context, Host(context).TempTablesElsewhere());
}

// sqlengine_configuration_in_use(option): syscurconfigs' value.
void ConfigurationInUse(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  std::optional<int> value = Host(context).ConfigurationInUse(SqliteValueText(args[0]));
  if (!value) return sqlite3_result_null(context);
  sqlite3_result_int(context, *value);
}

// sqlengine_extended_properties(name, level0type, level0name, level1type,
// level1name, level2type, level2name): ::fn_listextendedproperty's rows.
void ExtendedProperties(sqlite3_context* context, int count, sqlite3_value** args) {
  std::vector<Value> arguments;
  for (int k = 0; k < count; ++k) {
    if (sqlite3_value_type(args[k]) == SQLITE_NULL) {
      arguments.emplace_back();
    } else {
      arguments.emplace_back(SqliteValueText(args[k]));
    }
  }
  try {
    SqliteResultText(context, Host(context).ExtendedPropertyRows(arguments));
  } catch (const std::exception& error) {
    sqlite3_result_error(context, error.what(), -1);
  }
}

// sqlengine_type_property(declared type, property): what syscolumns and
// INFORMATION_SCHEMA.COLUMNS report for a declared column type.
void TypeProperty(sqlite3_context* context, int, sqlite3_value** args) {
  std::optional<ColumnType> type = tsql::ParseDeclaredType(SqliteValueText(args[0]));
  if (!type) type = ColumnType{SqlType::kSqlVariant};
  std::string property = SqliteValueText(args[1]);
  bool unicode = type->type == SqlType::kNChar || type->type == SqlType::kNVarChar ||
                 type->type == SqlType::kNText;
  if (property == "name") {
    return SqliteResultText(context, std::string(tsql::DeclaredTypeName(*type)));
  }
  if (property == "xtype" && type->row_version) return sqlite3_result_int(context, 189);
  if (property == "xtype" && type->numeric) return sqlite3_result_int(context, 108);
  if (property == "chars") {
    if (!tsql::IsCharacterType(type->type) && type->type != SqlType::kBinary &&
        type->type != SqlType::kVarBinary) {
      return sqlite3_result_null(context);
    }
    int length = type->length == kMaxLength || type->length == 0 ? 2147483647 / (unicode ? 2 : 1)
                                                                 : type->length;
    return sqlite3_result_int(context, length);
  }
  if (property == "precision") {
    static constexpr std::pair<SqlType, int> kPrecision[] = {
        {SqlType::kTinyInt, 3}, {SqlType::kSmallInt, 5}, {SqlType::kInt, 10},
        {SqlType::kBigInt, 19}, {SqlType::kReal, 24},    {SqlType::kFloat, 53},
        {SqlType::kBit, 1}};
    for (auto [sql_type, digits] : kPrecision) {
      if (type->type == sql_type) return sqlite3_result_int(context, digits);
    }
    if (type->precision > 0) return sqlite3_result_int(context, type->precision);
    return sqlite3_result_null(context);
  }
  if (property == "scale") return sqlite3_result_int(context, type->scale);
  if (property == "length") {
    static constexpr std::pair<SqlType, int> kBytes[] = {
        {SqlType::kTinyInt, 1},  {SqlType::kSmallInt, 2},      {SqlType::kInt, 4},
        {SqlType::kBigInt, 8},   {SqlType::kBit, 1},           {SqlType::kReal, 4},
        {SqlType::kFloat, 8},    {SqlType::kMoney, 8},         {SqlType::kSmallMoney, 4},
        {SqlType::kDateTime, 8}, {SqlType::kSmallDateTime, 4}, {SqlType::kUniqueIdentifier, 16},
        {SqlType::kText, 16},    {SqlType::kNText, 16},        {SqlType::kImage, 16}};
    for (auto [sql_type, bytes] : kBytes) {
      if (type->type == sql_type) return sqlite3_result_int(context, bytes);
    }
    if (type->type == SqlType::kDecimal) {
      int precision = type->precision;
      return sqlite3_result_int(context, precision <= 9    ? 5
                                         : precision <= 19 ? 9
                                         : precision <= 28 ? 13
                                                           : 17);
    }
    int length = type->length == kMaxLength ? -1 : type->length * (unicode ? 2 : 1);
    return sqlite3_result_int(context, length);
  }
  if (property == "xtype") {
    static constexpr std::pair<SqlType, int> kXtype[] = {
        {SqlType::kImage, 34},         {SqlType::kText, 35},     {SqlType::kUniqueIdentifier, 36},
        {SqlType::kTinyInt, 48},       {SqlType::kSmallInt, 52}, {SqlType::kInt, 56},
        {SqlType::kSmallDateTime, 58}, {SqlType::kReal, 59},     {SqlType::kMoney, 60},
        {SqlType::kDateTime, 61},      {SqlType::kFloat, 62},    {SqlType::kSqlVariant, 98},
        {SqlType::kNText, 99},         {SqlType::kBit, 104},     {SqlType::kDecimal, 106},
        {SqlType::kSmallMoney, 122},   {SqlType::kBigInt, 127},  {SqlType::kVarBinary, 165},
        {SqlType::kVarChar, 167},      {SqlType::kBinary, 173},  {SqlType::kChar, 175},
        {SqlType::kNVarChar, 231},     {SqlType::kNChar, 239}};
    for (auto [sql_type, code] : kXtype) {
      if (type->type == sql_type) return sqlite3_result_int(context, code);
    }
  }
  sqlite3_result_null(context);
}

// sqlengine_owner_reached(written name, owner uid, owner name, first uid):
// 1 when the name's owner part reaches an object of that owner (the written
// owner is its name; none written: dbo or the user `first uid`), else 0.
void OwnerReached(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  tsql::DottedName name = tsql::ReadWrittenName(SqliteValueText(args[0]));
  int uid = sqlite3_value_int(args[1]);
  if (name.parts.size() < 2 || name.parts[name.parts.size() - 2].empty()) {
    return sqlite3_result_int(context, uid == 1 || uid == sqlite3_value_int(args[3]));
  }
  std::string owner = sqlite3_value_type(args[2]) == SQLITE_NULL ? std::string()
                                                                   : SqliteValueText(args[2]);
  sqlite3_result_int(context,
                     tsql::EqualsIgnoreCase(owner, name.parts[name.parts.size() - 2]) ? 1 : 0);
}

// sqlengine_object_name('[db].[owner].[name]'): the last part, unquoted.
void ObjectName(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  std::string text = SqliteValueText(args[0]);
  size_t dot = std::string::npos;
  bool bracket = false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '[') bracket = true;
    if (text[i] == ']') bracket = false;
    if (text[i] == '.' && !bracket) dot = i;
  }
  std::string name = dot == std::string::npos ? text : text.substr(dot + 1);
  if (name.size() >= 2 && ((name.front() == '[' && name.back() == ']') ||
                           (name.front() == '"' && name.back() == '"'))) {
    name = name.substr(1, name.size() - 2);
  }
  SqliteResultText(context, name);
}

// sqlengine_file_pages(path): size of a file in 8 KB pages (0 when absent).
void FilePages(sqlite3_context* context, int, sqlite3_value** args) {
  std::error_code error;
  auto bytes = std::filesystem::file_size(SqliteValueText(args[0]), error);
  sqlite3_result_int64(context, error ? 0 : static_cast<sqlite3_int64>((bytes + 8191) / 8192));
}

// sqlengine_recursion(level, limit): the level below `level` in a recursive
// common table expression; 530 when it would pass `limit`.
void RecursionLevel(sqlite3_context* context, int, sqlite3_value** args) {
  sqlite3_int64 level = sqlite3_value_int64(args[0]) + 1;
  sqlite3_int64 limit = sqlite3_value_int64(args[1]);
  if (level > limit) {
    std::string error = FunctionErrorText(MakeError(530, {std::to_string(limit)}));
    return sqlite3_result_error(context, error.c_str(), -1);
  }
  sqlite3_result_int64(context, level);
}

// sqlengine_top_count(n): n as the row count of TOP (@n); 1014 when negative.
void TopCount(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) != SQLITE_NULL && sqlite3_value_double(args[0]) < 0) {
    std::string error = FunctionErrorText(MakeError(1014));
    return sqlite3_result_error(context, error.c_str(), -1);
  }
  sqlite3_result_value(context, args[0]);
}

// sqlengine_divisor(x): x, or 8134 when it is a numeric zero.
void Divisor(sqlite3_context* context, int, sqlite3_value** args) {
  int type = sqlite3_value_numeric_type(args[0]);
  if ((type == SQLITE_INTEGER || type == SQLITE_FLOAT) && sqlite3_value_double(args[0]) == 0) {
    return ResultSqlError(context, MakeError(8134));
  }
  sqlite3_result_value(context, args[0]);
}

// sqlengine_encrypted(text): 1 when a kept definition was made WITH
// ENCRYPTION, which the catalog then shows no reader; 0 otherwise and for NULL.
void Encrypted(sqlite3_context* context, int, sqlite3_value** args) {
  sqlite3_result_int(context, sqlite3_value_type(args[0]) != SQLITE_NULL &&
                                  tsql::WrittenWithEncryption(SqliteValueText(args[0])));
}

// round(x, digits [, truncate]) as T-SQL's ROUND of an integer or float: a
// negative `digits` rounds left of the point, an integer stays an integer,
// halves round away from zero, and a non-zero `truncate` cuts instead.
void Round(sqlite3_context* context, int count, sqlite3_value** args) {
  int type = sqlite3_value_numeric_type(args[0]);
  if (type == SQLITE_NULL || sqlite3_value_type(args[1]) == SQLITE_NULL)
    return sqlite3_result_null(context);
  int digits = static_cast<int>(std::clamp<sqlite3_int64>(sqlite3_value_int64(args[1]), -38, 30));
  bool truncate = count == 3 && sqlite3_value_int64(args[2]) != 0;
  if (type == SQLITE_INTEGER) {
    sqlite3_int64 value = sqlite3_value_int64(args[0]);
    if (digits >= 0) return sqlite3_result_int64(context, value);
    if (digits < -18) return sqlite3_result_int64(context, 0);
    sqlite3_int64 unit = 1;
    for (int k = 0; k < -digits; ++k) unit *= 10;
    sqlite3_int64 units = value / unit, rest = value % unit;
    if (!truncate && (rest >= 0 ? rest : -rest) * 2 >= unit) units += value < 0 ? -1 : 1;
    sqlite3_int64 rounded = 0;
    if (__builtin_mul_overflow(units, unit, &rounded)) {
      return ResultSqlError(context, MakeError(8115, {"expression", "bigint"}));
    }
    return sqlite3_result_int64(context, rounded);
  }
  // A float rounds on the digits of its binary value: 94.55 is
  // 94.549999999999997 and gives 94.5, as in SQL Server.
  double value = sqlite3_value_double(args[0]);
  if (!std::isfinite(value)) return sqlite3_result_double(context, value);
  double rounded = std::strtod(values::RoundedFloatText(value, digits, truncate).c_str(), nullptr);
  sqlite3_result_double(context, value < 0 ? -rounded : rounded);
}

// sqlengine_column_bitmap('2,3'): sysprotects' column bitmap, bit n for the
// column with colid n; NULL for NULL.
void ColumnBitmap(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  std::string list = reinterpret_cast<const char*>(sqlite3_value_text(args[0]));
  std::vector<unsigned char> bitmap;
  size_t at = 0;
  while (at < list.size()) {
    size_t end = list.find(',', at);
    if (end == std::string::npos) end = list.size();
    int colid = std::atoi(list.substr(at, end - at).c_str());
    at = end + 1;
    if (colid < 0 || colid > 4095 * 8) continue;
    size_t byte = static_cast<size_t>(colid) / 8;
    if (bitmap.size() <= byte) bitmap.resize(byte + 1, 0);
    bitmap[byte] = static_cast<unsigned char>(bitmap[byte] | (1u << (colid % 8)));
  }
  sqlite3_result_blob(context, bitmap.data(), static_cast<int>(bitmap.size()), SQLITE_TRANSIENT);
}

constexpr FunctionDefinition kFunctions[] = {
    {"getdate", 0, GetDate, false},
    {"getutcdate", 0, GetDate, false},
    {"len", 1, Len, true},
    {"left", 2, Left, true},
    {"right", 2, Right, true},
    {"substring", 3, Substring, true},
    {"charindex", 2, CharIndex<false>, true},
    {"charindex", 3, CharIndex<false>, true},
    {"sqlengine_charindex_cs", 2, CharIndex<true>, true},
    {"sqlengine_charindex_cs", 3, CharIndex<true>, true},
    {"newid", 0, NewId, false},
    // A computed column's GETDATE() and NEWID(): SQLite takes only functions
    // it may call as deterministic in a generated column; the argument, a
    // column of the row, keeps each row's call its own.
    {"sqlengine_row_getdate", 1, GetDate, true},
    {"sqlengine_row_getutcdate", 1, GetDate, true},
    {"sqlengine_row_newid", 1, NewId, true},
    {"db_name", 0, DbName, false},
    {"suser_sname", 0, LoginName, false},
    {"system_user", 0, LoginName, false},
    {"user_name", 0, UserName, false},
    {"user_name", 1, UserName, false},
    {"is_srvrolemember", 1, IsServerRoleMember, false},
    {"is_srvrolemember", 2, IsServerRoleMember, false},
    {"is_member", 1, NameQuestion<&FunctionHost::DatabaseRoleMember>, false},
    {"has_dbaccess", 1, NameQuestion<&FunctionHost::DatabaseAccess>, false},
    {"sqlengine_permissions", 0, Permissions, false},
    {"sqlengine_processes", 0, Processes, false},
    {"sqlengine_temp_tables_elsewhere", 0, TempTablesElsewhere, false},
    {"sqlengine_configuration_in_use", 1, ConfigurationInUse, false},
    {"sqlengine_extended_properties", 7, ExtendedProperties, false},
    {"sqlengine_permissions", 3, Permissions, false},
    {"sqlengine_permissions", 4, Permissions, false},
    {"sqlengine_permissions_in", 4, PermissionsIn, false},
    {"sqlengine_permissions_in", 5, PermissionsIn, false},
    {"sqlengine_type_property", 2, TypeProperty, true},
    {"sqlengine_column_type", 3, StoredColumnTypeFunction, true},
    {"sqlengine_column_type", 5, ViewColumnTypeFunction, false},
    {"sqlengine_view_column_null", 3, ViewColumnNullFunction, false},
    {"sqlengine_unstored_view", 1, UnstoredViewFunction, false},
    {"sqlengine_column_collation", 5, ColumnCollationFunction, false},
    {"sqlengine_view_text", 1, ViewTextFunction, true},
    {"sqlengine_encrypted", 1, Encrypted, true},
    {"sqlengine_file_pages", 1, FilePages, false},
    {"sqlengine_object_name", 1, ObjectName, true},
    {"sqlengine_owner_reached", 4, OwnerReached, true},
    {"sqlengine_recursion", 2, RecursionLevel, true},
    {"sqlengine_top_count", 1, TopCount, true},
    {"sqlengine_divisor", 1, Divisor, true},
    {"sqlengine_column_bitmap", 1, ColumnBitmap, true},
    {"round", 2, Round, true},
    {"round", 3, Round, true},
};

// GETDATE(), GETUTCDATE() and CURRENT_TIMESTAMP are worked out once per
// query in SQL Server. Registered again as deterministic (the table above
// keeps their sqlengine_row_ forms, which stored computed columns call per
// row), SQLite evaluates each call once per execution of a statement, the
// first time it is reached, so every row of a query and every row an
// INSERT ... SELECT fills with a DEFAULT (GETDATE()) sees one value, and a
// prepared statement run again gets a new one.
void RegisterStatementClock(sqlite3* db) {
  for (const char* name : {"getdate", "getutcdate"}) {
    if (sqlite3_create_function_v2(db, name, 0, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                                   GetDate, nullptr, nullptr, nullptr) != SQLITE_OK) {
      throw std::runtime_error(std::string("cannot register ") + name);
    }
  }
}

// Stands in for a session on a connection that has none.
class NoSession final : public FunctionHost {
 public:
  std::optional<int> ServerRoleMember(std::string_view,
                                      std::optional<std::string_view>) override {
    return std::nullopt;
  }
  std::string DatabaseName() override { return {}; }
  std::string LoginName() override { return {}; }
  std::optional<std::string> DatabaseUserName(std::optional<int>) override {
    return std::nullopt;
  }
};

}  // namespace

void RegisterFunctions(sqlite3* db, FunctionHost& host) {
  RegisterDateFunctions(db);
  RegisterDateNumbers(db);
  RegisterAdditionFunction(db);
  RegisterDecimalFunction(db);
  RegisterAnsiTrimFunction(db);
  RegisterExactAggregates(db);
  RegisterHashGrouping(db);
  RegisterStatisticalAggregates(db);
  RegisterExactFunctions(db);
  RegisterDateStyleFunctions(db);
  RegisterTextComparison(db);
  RegisterBinaryComparison(db);
  RegisterSingleValue(db);
  RegisterStringFunctions(db);
  RegisterMathFunctions(db, &host);
  RegisterObjectProperties(db, host);
  RegisterNumberStyles(db);
  RegisterFunctionTable(db, kFunctions, &host);
  RegisterStatementClock(db);
  RegisterNullWarnings(db, &host);
  RegisterServerFunctions(db, host);
  RegisterMetadataFunctions(db, host);
  RegisterIdentityFunctions(db, host);
  RegisterChecksumFunctions(db);
  RegisterTextPointerFunctions(db);
  RegisterRuleFunctions(db, host);
  RegisterConversionFunctions(db);
  RegisterIgnoredDuplicateFunction(db);
  RegisterIntegerArithmetic(db);
  RegisterVariantFunctions(db);
  RegisterUserFunctionCalls(db, host);
  RegisterTableFunctionCalls(db, host);
  RegisterGuidOrder(db);
  RegisterErrorFunctions(db, host);
  RegisterMessageFormatting(db);
  RegisterPerRowVariableFunctions(db);
}

void RegisterSessionFreeFunctions(sqlite3* db) {
  static NoSession no_session;
  RegisterFunctions(db, no_session);
}

}  // namespace sqlengine::exec
