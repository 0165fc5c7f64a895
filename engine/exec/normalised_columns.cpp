#include "engine/exec/normalised_columns.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <stdexcept>
#include <vector>

#include "engine/catalog/sqlite_handle.h"
#include "engine/common/error.h"
#include "engine/exec/ansi_trimmed_columns.h"
#include "engine/exec/arithmetic_errors.h"
#include "engine/exec/exact_storage_form.h"
#include "engine/exec/exact_values.h"
#include "engine/exec/identity_type.h"
#include "engine/exec/sqlite_errors.h"
#include "engine/exec/table_definition.h"
#include "engine/exec/value_conversion.h"
#include "engine/tsql/generate/exact_expressions.h"
#include "engine/tsql/sqlite_quoting.h"
#include "engine/tsql/token.h"
#include "engine/tsql/type_name.h"
#include "engine/values/exact_storage.h"
#include "engine/values/number_text.h"

namespace sqlengine::exec {
namespace {

bool IsDecimalType(SqlType type) {
  return type == SqlType::kDecimal || type == SqlType::kMoney || type == SqlType::kSmallMoney;
}

bool IsLimitedTextType(const ColumnType& type) {
  return (type.type == SqlType::kChar || type.type == SqlType::kVarChar ||
          type.type == SqlType::kNChar || type.type == SqlType::kNVarChar) &&
         type.length > 0;
}

bool IsNumberType(SqlType type) {
  return type == SqlType::kTinyInt || type == SqlType::kSmallInt || type == SqlType::kInt ||
         type == SqlType::kBigInt || type == SqlType::kBit || type == SqlType::kReal ||
         type == SqlType::kFloat;
}

struct Column {
  std::string name;
  std::string declared;
  ColumnType type;
  bool trims = false;  // made under ANSI_PADDING OFF, and trims what it stores
};

std::vector<Column> ColumnsOf(sqlite3* db, const std::string& schema, const std::string& table) {
  std::vector<Column> columns;
  std::string table_sql = StoredTableSql(db, schema, table);
  std::vector<std::string> trimmed = AnsiTrimmedColumns(table_sql);
  auto info =
      catalog::Prepare(db, "SELECT name, type, pk, \"notnull\" FROM pragma_table_info(?, ?)");
  sqlite3_bind_text(info.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(info.get(), 2, schema.c_str(), -1, SQLITE_TRANSIENT);
  while (sqlite3_step(info.get()) == SQLITE_ROW) {
    std::string declared = catalog::ColumnText(info.get(), 1);
    int primary_key = sqlite3_column_int(info.get(), 2);
    std::optional<ColumnType> type = StoredColumnType(declared, primary_key, table_sql);
    if (!type) continue;
    // The identity of a table that names its type is checked against that
    // type; an older table's keeps the int check it was made with.
    type->identity = primary_key == 1 && IdentityTypeIn(table_sql).has_value() &&
                     tsql::EqualsIgnoreCase(declared, "INTEGER");
    std::string name = catalog::ColumnText(info.get(), 0);
    bool trims = TrimsWrittenValues(*type, sqlite3_column_int(info.get(), 3) == 0 && primary_key == 0) &&
                 ListsColumn(trimmed, name);
    columns.push_back({std::move(name), declared, *type, trims});
  }
  return columns;
}

constexpr const char* kEvents[] = {"INSERT", "UPDATE"};
constexpr const char* kRoles[] = {"datetime", "decimal", "number", "length", "rowversion", "trim"};

std::string UnquotedTriggerName(std::string_view role, std::string_view event,
                                const std::string& table, const std::string& column) {
  return "sqlengine_" + std::string(role) + "_" + std::string(event) + "_" + table + "_" + column;
}

std::string TriggerName(std::string_view role, std::string_view event, const std::string& table,
                        const std::string& column) {
  return tsql::QuoteSqliteName(UnquotedTriggerName(role, event, table, column));
}

// The kind of triggers a column of `type` gets (one of kRoles); empty for none.
std::string_view RoleOf(const ColumnType& type) {
  if (type.row_version) return "rowversion";
  if (type.type == SqlType::kDateTime || type.type == SqlType::kSmallDateTime) return "datetime";
  if (IsDecimalType(type.type)) return "decimal";
  if (IsNumberType(type.type)) return "number";
  if (IsLimitedTextType(type)) return "length";
  return {};
}

// One trigger NormaliseColumns makes: its name and what follows the (quoted)
// name in its CREATE TRIGGER statement, as SQLite keeps it in sqlite_master.
struct TriggerText {
  std::string name;
  std::string rest;
};

// An AFTER INSERT and an AFTER UPDATE OF trigger that run `body` (a
// statement of NEW.column) when `when` holds; with `every_update`, the UPDATE
// trigger runs after any update (an update of the rowid names no column).
void AddTriggers(std::vector<TriggerText>& out, const std::string& table, const std::string& column,
                 std::string_view role, const std::string& when, const std::string& body,
                 bool every_update = false) {
  for (const char* event : kEvents) {
    std::string on = std::string(event) == "UPDATE" && !every_update
                         ? "UPDATE OF " + tsql::QuoteSqliteName(column)
                         : std::string(event);
    out.push_back({UnquotedTriggerName(role, event, table, column),
                   " AFTER " + on + " ON " + tsql::QuoteSqliteName(table) + " FOR EACH ROW WHEN " +
                       when + " BEGIN " + body + "; END"});
  }
}

// Triggers that store `fitted` (an expression of NEW.column) in place of the
// written value when `when` holds.
void AddFittingTriggers(std::vector<TriggerText>& out, const std::string& table,
                        const std::string& column, std::string_view role, const std::string& when,
                        const std::string& fitted) {
  AddTriggers(out, table, column, role, when,
              "UPDATE " + tsql::QuoteSqliteName(table) + " SET " + tsql::QuoteSqliteName(column) +
                  " = " + fitted + " WHERE rowid = NEW.rowid");
}

// The triggers that give a timestamp column the database's next row version
// (RowVersionTable) when a row is inserted, and when it is updated without
// the column changing: the triggers' own update changes it, and SQLite fires
// no trigger of its own again. The value is the counter's 8 bytes, high byte
// first.
void CreateRowVersionTriggers(sqlite3* db, const std::string& schema, const std::string& table,
                              const std::string& column) {
  std::string quoted_schema = tsql::QuoteSqliteName(schema);
  catalog::Exec(db, "CREATE TABLE IF NOT EXISTS " + quoted_schema + "." + kRowVersionTable +
                        " (last INTEGER NOT NULL)");
  catalog::Exec(db, "INSERT INTO " + quoted_schema + "." + kRowVersionTable + " (last) SELECT " +
                        std::to_string(kFirstRowVersion) + " WHERE NOT EXISTS (SELECT 1 FROM " +
                        quoted_schema + "." + kRowVersionTable + ")");
  std::string quoted_table = tsql::QuoteSqliteName(table);
  std::string quoted_column = tsql::QuoteSqliteName(column);
  std::string body = " FOR EACH ROW BEGIN UPDATE " + std::string(kRowVersionTable) +
                     " SET last = last + 1; UPDATE " + quoted_table + " SET " + quoted_column +
                     " = (SELECT sqlengine_integer_bytes(last, 8, 8, 1) FROM " +
                     kRowVersionTable + ") WHERE rowid = NEW.rowid; END";
  catalog::Exec(db, "CREATE TRIGGER IF NOT EXISTS " + quoted_schema + "." +
                        TriggerName("rowversion", "INSERT", table, column) + " AFTER INSERT ON " +
                        quoted_table + body);
  catalog::Exec(db, "CREATE TRIGGER IF NOT EXISTS " + quoted_schema + "." +
                        TriggerName("rowversion", "UPDATE", table, column) + " AFTER UPDATE ON " +
                        quoted_table + " FOR EACH ROW WHEN NEW." + quoted_column + " IS OLD." +
                        quoted_column + body.substr(std::string_view(" FOR EACH ROW").size()));
  // Rows stored before the column came (ALTER TABLE ADD) take their values now.
  catalog::Exec(db, "UPDATE " + quoted_schema + "." + quoted_table + " SET " + quoted_column +
                        " = NULL WHERE " + quoted_column + " IS NULL");
}

// A cheap test, in SQL, of whether `value` may not be in the stored form of
// exact `type`: no integer (or 16-byte key), or outside the type's range.
std::string NotInStoredForm(const std::string& value, const ColumnType& declared) {
  ColumnType type = ExactType(tsql::TypeDeclaration(declared)).value_or(declared);
  if (type.type == SqlType::kMoney)
    return value + " IS NOT NULL AND typeof(" + value + ") <> 'integer'";
  __int128 largest = 1;
  for (int i = 0; i < (type.type == SqlType::kDecimal ? type.precision : 0); ++i) largest *= 10;
  Decimal high{type.type == SqlType::kSmallMoney ? __int128{INT32_MAX} : largest - 1,
               values::RawScale(type)};
  Decimal low{type.type == SqlType::kSmallMoney ? __int128{INT32_MIN} : 1 - largest,
              values::RawScale(type)};
  std::string range = " NOT BETWEEN " +
                      *tsql::generate::ExactLiteral(values::DecimalText(low), type) + " AND " +
                      *tsql::generate::ExactLiteral(values::DecimalText(high), type);
  if (values::StoredAsInteger(type))
    return value + " IS NOT NULL AND (typeof(" + value + ") <> 'integer' OR " + value + range + ")";
  return value + " IS NOT NULL AND (typeof(" + value + ") <> 'blob' OR length(" + value +
         ") <> 16 OR " + value + range + ")";
}

// The type named by the function's constant second argument, parsed once per
// statement (SQLite keeps it with the argument while it can).
std::optional<ColumnType> DeclaredType(sqlite3_context* context, sqlite3_value** arguments) {
  if (auto* cached = static_cast<ColumnType*>(sqlite3_get_auxdata(context, 1))) return *cached;
  const unsigned char* declared = sqlite3_value_text(arguments[1]);
  std::optional<ColumnType> type =
      declared ? tsql::ParseDeclaredType(reinterpret_cast<const char*>(declared)) : std::nullopt;
  if (type) {
    sqlite3_set_auxdata(context, 1, new ColumnType(*type),
                        [](void* kept) { delete static_cast<ColumnType*>(kept); });
  }
  return type;
}

// A cheap test, in SQL, of whether `value` may not fit a number column of
// `type` already; only then is sqlengine_number called.
std::string MayNotFitNumber(const std::string& value, const ColumnType& type) {
  std::string range;
  switch (type.type) {
    case SqlType::kTinyInt:
      range = " OR " + value + " NOT BETWEEN 0 AND 255";
      break;
    case SqlType::kSmallInt:
      range = " OR " + value + " NOT BETWEEN -32768 AND 32767";
      break;
    case SqlType::kInt:
      range = " OR " + value + " NOT BETWEEN -2147483648 AND 2147483647";
      break;
    case SqlType::kBit:
      range = " OR " + value + " NOT IN (0, 1)";
      break;
    case SqlType::kReal:
    case SqlType::kFloat:
      // SQLite's arithmetic may have run past the type's range to infinity.
      return value + " IS NOT NULL AND (typeof(" + value + ") NOT IN ('real', 'integer') OR abs(" +
             value + ") > " + (type.type == SqlType::kReal ? "3.402823466e38" : "1.7976931348623157e308") +
             ")";
    default:
      break;
  }
  return value + " IS NOT NULL AND (typeof(" + value + ") <> 'integer'" + range + ")";
}

void FitDecimalValue(sqlite3_context* context, int, sqlite3_value** arguments) {
  if (sqlite3_value_type(arguments[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  std::optional<ColumnType> type = DeclaredType(context, arguments);
  if (!type || !IsDecimalType(type->type)) {
    return sqlite3_result_error(context, "sqlengine_decimal: not a decimal type", -1);
  }
  try {
    Decimal fitted = FitDecimal(PlainValue(arguments[0]), *type);
    if (fitted.scale == 0 && fitted.unscaled >= INT64_MIN && fitted.unscaled <= INT64_MAX) {
      return sqlite3_result_int64(context, static_cast<sqlite3_int64>(fitted.unscaled));
    }
    sqlite3_result_double(context, std::strtod(DecimalText(fitted).c_str(), nullptr));
  } catch (const SqlError& error) {
    ResultSqlError(context, error);
  }
}

void FitNumberValue(sqlite3_context* context, int, sqlite3_value** arguments) {
  if (sqlite3_value_type(arguments[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  std::optional<ColumnType> type = DeclaredType(context, arguments);
  if (!type) return sqlite3_result_error(context, "sqlengine_number: not a type", -1);
  // Binary data converts to an integer by its bytes; other numbers refuse it
  // later, where the value is read.
  bool integer = type->type == SqlType::kTinyInt || type->type == SqlType::kSmallInt ||
                 type->type == SqlType::kInt || type->type == SqlType::kBigInt ||
                 type->type == SqlType::kBit;
  if (sqlite3_value_type(arguments[0]) == SQLITE_BLOB && !integer)
    return sqlite3_result_value(context, arguments[0]);
  try {
    Value converted = ConvertForType(PlainValue(arguments[0]), *type);
    if (const auto* number = std::get_if<std::int64_t>(&converted)) {
      sqlite3_result_int64(context, *number);
    } else if (const auto* number = std::get_if<double>(&converted)) {
      sqlite3_result_double(context, *number);
    } else if (const auto* number = std::get_if<Decimal>(&converted)) {
      sqlite3_result_double(context, std::strtod(DecimalText(*number).c_str(), nullptr));
    } else {
      sqlite3_result_value(context, arguments[0]);
    }
  } catch (const SqlError& error) {
    ResultSqlError(context, error);
  }
}

// The triggers that keep a column's written values in their stored form
// (none for a timestamp column, whose triggers are CreateRowVersionTriggers').
std::vector<TriggerText> ValueTriggers(sqlite3* db, const std::string& schema,
                                       const std::string& table, const Column& column) {
  std::vector<TriggerText> triggers;
  std::string value = "NEW." + tsql::QuoteSqliteName(column.name);
  std::string_view role = RoleOf(column.type);
  if (column.type.identity) {
    // The identity is SQLite's rowid, a 64-bit integer: only a narrower
    // declared type needs a check of the values it is given. The triggers
    // that assign a kept identity's next value update the rowid.
    std::optional<std::pair<std::int64_t, std::int64_t>> range = IdentityRange(column.type);
    if (!range) return triggers;
    std::string refused = FunctionErrorText(
        MakeError(8115, {"IDENTITY", std::string(tsql::DeclaredTypeName(column.type))}));
    AddTriggers(triggers, table, column.name, "number",
                value + " NOT BETWEEN " + std::to_string(range->first) + " AND " +
                    std::to_string(range->second),
                "SELECT RAISE(ABORT, " + tsql::QuoteSqliteString(refused) + ")", true);
  } else if (role == "datetime") {
    // Only a value not in the one form already is written again.
    std::string fitted = (column.type.type == SqlType::kSmallDateTime ? "sqlengine_smalldatetime("
                                                                      : "sqlengine_datetime(") +
                         value + ")";
    AddFittingTriggers(triggers, table, column.name, "datetime", value + " IS NOT " + fitted,
                       fitted);
  } else if (role == "decimal" && !StoresExactForm(db, schema)) {
    // Only a value that does not fit already is written again.
    std::string fitted =
        "sqlengine_decimal(" + value + ", " + tsql::QuoteSqliteString(column.declared) + ")";
    AddFittingTriggers(triggers, table, column.name, "decimal", value + " IS NOT " + fitted,
                       fitted);
  } else if (role == "decimal") {
    // Writers convert values to the stored form themselves; the triggers
    // refuse anything else (a float, a text, a value past the range), so
    // nothing inexact is stored. The plain SQL test spares the call.
    AddTriggers(triggers, table, column.name, "decimal", NotInStoredForm(value, column.type),
                "SELECT sqlengine_exact_check(" + value + ", " +
                    tsql::QuoteSqliteString(column.declared) + ")");
  } else if (role == "number") {
    // Only a value that does not fit already is written again.
    std::string fitted =
        "sqlengine_number(" + value + ", " + tsql::QuoteSqliteString(column.declared) + ")";
    AddFittingTriggers(triggers, table, column.name, "number",
                       MayNotFitNumber(value, column.type) + " AND " + value + " IS NOT " + fitted,
                       fitted);
  } else if (role == "length") {
    std::string limit = std::to_string(column.type.length);
    AddFittingTriggers(
        triggers, table, column.name, "length",
        "length(" + value + ") > " + limit + " AND length(rtrim(" + value + ", ' ')) > " + limit,
        "sqlengine_fitted_length(" + value + ", " + limit + ")");
  }
  if (column.trims) {
    std::string trimmed = "sqlengine_ansi_trimmed(" + value + ")";
    // By lengths: the column's collation takes 'a ' and 'a' for one value.
    AddFittingTriggers(triggers, table, column.name, "trim",
                       "length(" + value + ") > length(" + trimmed + ")", trimmed);
  }
  return triggers;
}

}  // namespace

void NormaliseColumns(sqlite3* db, const std::string& schema, const std::string& table) {
  for (const Column& column : ColumnsOf(db, schema, table)) {
    if (column.type.row_version) {
      CreateRowVersionTriggers(db, schema, table, column.name);
      continue;
    }
    for (const TriggerText& trigger : ValueTriggers(db, schema, table, column)) {
      catalog::Exec(db, "CREATE TRIGGER IF NOT EXISTS " + tsql::QuoteSqliteName(schema) + "." +
                            tsql::QuoteSqliteName(trigger.name) + trigger.rest);
    }
  }
}

std::optional<std::vector<StoredFormColumn>> StoredFormTriggerColumns(sqlite3* db,
                                                                      const std::string& schema,
                                                                      const std::string& table) {
  std::map<std::string, std::string> expected;  // name as SQLite keeps it -> its text
  std::map<std::string, StoredFormColumn> column_of;
  for (const Column& column : ColumnsOf(db, schema, table)) {
    // A bulk load leaves the trimming of a column made under ANSI_PADDING
    // OFF to its triggers.
    if (column.type.row_version || column.trims) return std::nullopt;
    // Older files' decimal triggers round written values; only the stored
    // form's check is known to pass what the writer stores.
    if (RoleOf(column.type) == "decimal" && !StoresExactForm(db, schema)) return std::nullopt;
    for (const TriggerText& trigger : ValueTriggers(db, schema, table, column)) {
      expected[trigger.name] = "CREATE TRIGGER " + tsql::QuoteSqliteName(trigger.name) + trigger.rest;
      column_of[trigger.name] = {column.name, column.type};
    }
  }
  auto triggers = catalog::Prepare(db, "SELECT name, sql FROM " + tsql::QuoteSqliteName(schema) +
                                           ".sqlite_master WHERE type = 'trigger' AND "
                                           "tbl_name = ? COLLATE NOCASE");
  sqlite3_bind_text(triggers.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  std::vector<StoredFormColumn> columns;
  while (sqlite3_step(triggers.get()) == SQLITE_ROW) {
    auto found = expected.find(catalog::ColumnText(triggers.get(), 0));
    if (found == expected.end() || found->second != catalog::ColumnText(triggers.get(), 1))
      return std::nullopt;
    const StoredFormColumn& column = column_of[found->first];
    if (std::none_of(columns.begin(), columns.end(),
                     [&](const StoredFormColumn& seen) { return seen.name == column.name; })) {
      columns.push_back(column);
    }
  }
  return columns;
}

std::vector<std::string> MissingNormalisingTriggers(sqlite3* db, const std::string& schema,
                                                    const std::string& table) {
  std::vector<std::string> missing;
  auto exists = catalog::Prepare(db, "SELECT 1 FROM " + tsql::QuoteSqliteName(schema) +
                                         ".sqlite_master WHERE type = 'trigger' AND name = ?");
  for (const Column& column : ColumnsOf(db, schema, table)) {
    for (std::string_view role : {RoleOf(column.type), std::string_view(column.trims ? "trim" : "")}) {
      if (role.empty()) continue;
      for (const char* event : kEvents) {
        std::string name = UnquotedTriggerName(role, event, table, column.name);
        sqlite3_reset(exists.get());
        sqlite3_bind_text(exists.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(exists.get()) != SQLITE_ROW) missing.push_back(name);
      }
    }
  }
  return missing;
}

void ForgetColumn(sqlite3* db, const std::string& schema, const std::string& table,
                  const std::string& column) {
  for (const char* role : kRoles) {
    for (const char* event : kEvents) {
      catalog::Exec(db, "DROP TRIGGER IF EXISTS " + tsql::QuoteSqliteName(schema) + "." +
                            TriggerName(role, event, table, column));
    }
  }
}

// sqlengine_fitted_length(value, length): a value longer than its column
// allows, cut to `length` characters (bytes for a blob) under ANSI_WARNINGS
// OFF; else error 8152.
void FittedLengthValue(sqlite3_context* context, int, sqlite3_value** arguments) {
  if (!CutsLongValues()) return ResultSqlError(context, MakeError(8152));
  const sqlite3_int64 length = std::max<sqlite3_int64>(0, sqlite3_value_int64(arguments[1]));
  if (sqlite3_value_type(arguments[0]) == SQLITE_BLOB) {
    const int size = sqlite3_value_bytes(arguments[0]);
    return sqlite3_result_blob(context, sqlite3_value_blob(arguments[0]),
                               static_cast<int>(std::min<sqlite3_int64>(size, length)),
                               SQLITE_TRANSIENT);
  }
  const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(arguments[0]));
  const int size = sqlite3_value_bytes(arguments[0]);
  // The byte where character `length` ends: continuation bytes start no character.
  int end = 0;
  for (sqlite3_int64 characters = 0; end < size; ++end) {
    if ((static_cast<unsigned char>(text[end]) & 0xC0) != 0x80 && characters++ == length) break;
  }
  sqlite3_result_text(context, text, end, SQLITE_TRANSIENT);
}

// sqlengine_binary(value, 'declared type'): CAST to binary or varbinary.
void FitBinaryValue(sqlite3_context* context, int, sqlite3_value** arguments) {
  if (sqlite3_value_type(arguments[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  std::optional<ColumnType> type = DeclaredType(context, arguments);
  if (!type) return sqlite3_result_error(context, "sqlengine_binary: not a type", -1);
  Value value = PlainValue(arguments[0]);
  if (const auto* text = std::get_if<std::string>(&value))
    value = Bytes(text->begin(), text->end());
  if (std::holds_alternative<double>(value)) return sqlite3_result_value(context, arguments[0]);
  try {
    Value converted = ConvertForType(value, *type);
    const auto* bytes = std::get_if<Bytes>(&converted);
    if (bytes == nullptr) return sqlite3_result_value(context, arguments[0]);
    sqlite3_result_blob(context, bytes->data(), static_cast<int>(bytes->size()), SQLITE_TRANSIENT);
  } catch (const SqlError& error) {
    ResultSqlError(context, error);
  }
}

Bytes LastRowVersion(sqlite3* db, const std::string& schema) {
  auto exists = catalog::Prepare(db, "SELECT 1 FROM " + tsql::QuoteSqliteName(schema) +
                                         ".sqlite_master WHERE type = 'table' AND name = ?");
  sqlite3_bind_text(exists.get(), 1, kRowVersionTable, -1, SQLITE_STATIC);
  std::int64_t last = kFirstRowVersion;
  if (sqlite3_step(exists.get()) == SQLITE_ROW) {
    auto counter = catalog::Prepare(db, "SELECT last FROM " + tsql::QuoteSqliteName(schema) +
                                            "." + kRowVersionTable);
    if (sqlite3_step(counter.get()) == SQLITE_ROW) last = sqlite3_column_int64(counter.get(), 0);
  }
  Bytes bytes(8);
  for (int k = 7; k >= 0; --k) {
    bytes[static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(last & 0xFF);
    last >>= 8;
  }
  return bytes;
}

std::vector<std::pair<std::string, std::int64_t>> RowVersionCounters(sqlite3* db) {
  std::vector<std::string> schemas;
  auto databases = catalog::Prepare(db, "SELECT name FROM pragma_database_list");
  while (sqlite3_step(databases.get()) == SQLITE_ROW)
    schemas.push_back(catalog::ColumnText(databases.get(), 0));
  databases.reset();
  std::vector<std::pair<std::string, std::int64_t>> counters;
  for (const std::string& schema : schemas) {
    auto exists = catalog::Prepare(db, "SELECT 1 FROM " + tsql::QuoteSqliteName(schema) +
                                           ".sqlite_master WHERE type = 'table' AND name = ?");
    sqlite3_bind_text(exists.get(), 1, kRowVersionTable, -1, SQLITE_STATIC);
    if (sqlite3_step(exists.get()) != SQLITE_ROW) continue;
    auto last = catalog::Prepare(db, "SELECT last FROM " + tsql::QuoteSqliteName(schema) + "." +
                                         kRowVersionTable);
    if (sqlite3_step(last.get()) == SQLITE_ROW)
      counters.emplace_back(schema, sqlite3_column_int64(last.get(), 0));
  }
  return counters;
}

void KeepRowVersionCounters(sqlite3* db,
                            const std::vector<std::pair<std::string, std::int64_t>>& counters) {
  std::vector<std::pair<std::string, std::int64_t>> now = RowVersionCounters(db);
  for (const auto& [schema, last] : counters) {
    // Only a counter the rollback took back is written (a write takes the
    // database's write lock).
    bool lower = false;
    for (const auto& [other, value] : now) lower = lower || (other == schema && value < last);
    if (!lower) continue;
    auto kept = catalog::Prepare(db, "UPDATE " + tsql::QuoteSqliteName(schema) + "." +
                                         kRowVersionTable + " SET last = ?1 WHERE last < ?1");
    sqlite3_bind_int64(kept.get(), 1, last);
    if (sqlite3_step(kept.get()) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
  }
}

void RegisterDecimalFunction(sqlite3* db) {
  if (sqlite3_create_function_v2(db, "sqlengine_binary", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                 nullptr, FitBinaryValue, nullptr, nullptr, nullptr) != SQLITE_OK) {
    throw std::runtime_error("cannot register sqlengine_binary");
  }
  if (sqlite3_create_function_v2(db, "sqlengine_decimal", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                 nullptr, FitDecimalValue, nullptr, nullptr,
                                 nullptr) != SQLITE_OK) {
    throw std::runtime_error("cannot register sqlengine_decimal");
  }
  if (sqlite3_create_function_v2(db, "sqlengine_fitted_length", 2, SQLITE_UTF8, nullptr,
                                 FittedLengthValue, nullptr, nullptr, nullptr) != SQLITE_OK) {
    throw std::runtime_error("cannot register sqlengine_fitted_length");
  }
  if (sqlite3_create_function_v2(db, "sqlengine_number", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                 nullptr, FitNumberValue, nullptr, nullptr, nullptr) != SQLITE_OK) {
    throw std::runtime_error("cannot register sqlengine_number");
  }
}

}  // namespace sqlengine::exec
