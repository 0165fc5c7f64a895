#include "engine/exec/addition_function.h"

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

#include "engine/common/error.h"
#include "engine/exec/date_functions.h"
#include "engine/exec/sqlite_errors.h"
#include "engine/exec/sqlite_value_text.h"
#include "engine/exec/value_conversion.h"
#include "engine/tsql/arithmetic_functions.h"

namespace sqlengine::exec {
namespace {

bool IsNumber(int type) { return type == SQLITE_INTEGER || type == SQLITE_FLOAT; }

void ResultNumberSum(sqlite3_context* context, sqlite3_value* a, sqlite3_value* b) {
  if (sqlite3_value_type(a) == SQLITE_INTEGER && sqlite3_value_type(b) == SQLITE_INTEGER) {
    sqlite3_int64 sum = 0;
    if (!__builtin_add_overflow(sqlite3_value_int64(a), sqlite3_value_int64(b), &sum)) {
      return sqlite3_result_int64(context, sum);
    }
  }
  sqlite3_result_double(context, sqlite3_value_double(a) + sqlite3_value_double(b));
}

void ResultConcatenation(sqlite3_context* context, sqlite3_value* a, sqlite3_value* b) {
  bool binary = sqlite3_value_type(a) == SQLITE_BLOB && sqlite3_value_type(b) == SQLITE_BLOB;
  std::string joined;
  for (sqlite3_value* part : {a, b}) {
    const void* data = binary ? sqlite3_value_blob(part) : sqlite3_value_text(part);
    int size = sqlite3_value_bytes(part);
    if (data != nullptr) joined.append(static_cast<const char*>(data), static_cast<size_t>(size));
  }
  if (binary) {
    sqlite3_result_blob(context, joined.data(), static_cast<int>(joined.size()), SQLITE_TRANSIENT);
  } else {
    sqlite3_result_text(context, joined.data(), static_cast<int>(joined.size()), SQLITE_TRANSIENT);
  }
}

// Character data beside a number: the text takes the number's type, as in
// SQL Server where numbers outrank character types; a datetime text is moved
// by the number as days.
void ResultMixedSum(sqlite3_context* context, sqlite3_value* text, sqlite3_value* number) {
  std::string value = SqliteValueText(text);
  bool integer = sqlite3_value_type(number) == SQLITE_INTEGER;
  if (std::optional<DateTime> when = ParseDateTimeText(value);
      when && value.find_first_of("-/:") != std::string::npos) {
    double days = sqlite3_value_double(number);
    if (!std::isfinite(days) || std::fabs(days) > 4e6) {
      return ResultSqlError(context, MakeError(8115, {"expression", "datetime"}));
    }
    std::string moved = DateTimeText(
        AddMilliseconds(*when, static_cast<std::int64_t>(std::llround(days * 86400000.0))));
    return sqlite3_result_text(context, moved.data(), static_cast<int>(moved.size()),
                               SQLITE_TRANSIENT);
  }
  Value converted;
  try {
    converted =
        ConvertForType(Value(value), ColumnType{integer ? SqlType::kBigInt : SqlType::kFloat});
  } catch (const SqlError&) {
    std::string error = FunctionErrorText(MakeError(245, {value, integer ? "int" : "float"}));
    return sqlite3_result_error(context, error.c_str(), -1);
  }
  if (integer) {
    std::int64_t sum = 0;
    if (!__builtin_add_overflow(std::get<std::int64_t>(converted), sqlite3_value_int64(number),
                                &sum)) {
      return sqlite3_result_int64(context, sum);
    }
    return sqlite3_result_double(context, static_cast<double>(std::get<std::int64_t>(converted)) +
                                              sqlite3_value_double(number));
  }
  sqlite3_result_double(context, std::get<double>(converted) + sqlite3_value_double(number));
}

void Add(sqlite3_context* context, int, sqlite3_value** args) {
  int a = sqlite3_value_type(args[0]);
  int b = sqlite3_value_type(args[1]);
  if (a == SQLITE_NULL || b == SQLITE_NULL) return sqlite3_result_null(context);
  if (IsNumber(a) && IsNumber(b)) return ResultNumberSum(context, args[0], args[1]);
  if (!IsNumber(a) && !IsNumber(b)) return ResultConcatenation(context, args[0], args[1]);
  if (IsNumber(a)) return ResultMixedSum(context, args[1], args[0]);
  ResultMixedSum(context, args[0], args[1]);
}

}  // namespace

void RegisterAdditionFunction(sqlite3* db) {
  std::string name(tsql::kAdditionFunction);
  if (sqlite3_create_function_v2(db, name.c_str(), 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                                 Add, nullptr, nullptr, nullptr) != SQLITE_OK) {
    throw std::runtime_error("cannot register " + name);
  }
}

}  // namespace sqlengine::exec
