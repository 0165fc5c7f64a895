#include "engine/exec/date_numbers.h"

#include <cmath>
#include <string>

#include "engine/common/error.h"
#include "engine/exec/function_registration.h"
#include "engine/exec/sqlite_errors.h"
#include "engine/exec/value_conversion.h"
#include "engine/tsql/type_name.h"
#include "engine/values/calendar.h"
#include "engine/values/date_text.h"

namespace sqlengine::exec {
namespace {

// SQL Server keeps a datetime's time of day in ticks of 1/300 second, and
// a day's fraction in a float is ticks over a day's ticks.
constexpr std::int64_t kTicksPerSecond = 300;
constexpr std::int64_t kTicksPerDay = 86400 * kTicksPerSecond;

std::int64_t DaysFrom1900(int year, int month, int day) {
  return values::DaysFromCivil(year, month, day) + values::kDays1900To1970;
}

// The datetime `days` after 1900-01-01 as the function's result, or 8115.
void ResultDays(sqlite3_context* context, long double days) {
  try {
    std::string text = DateTimeText(DateTimeFromDays(days));
    sqlite3_result_text(context, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  } catch (const SqlError& error) {
    ResultSqlError(context, error);
  }
}

// A datetime argument in the engine's text form; false after reporting 241.
bool ArgDateTime(sqlite3_context* context, sqlite3_value* value, DateTime& out) {
  std::string text(reinterpret_cast<const char*>(sqlite3_value_text(value)),
                   static_cast<size_t>(sqlite3_value_bytes(value)));
  std::optional<DateTime> parsed = ParseDateTimeText(text);
  if (parsed) {
    out = *parsed;
    return true;
  }
  std::string error = FunctionErrorText(MakeError(241));
  sqlite3_result_error(context, error.c_str(), -1);
  return false;
}

// sqlengine_days_datetime(n): NULL stays NULL.
void DaysToDateTime(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  ResultDays(context, sqlite3_value_double(args[0]));
}

// sqlengine_datetime_days(d): a REAL.
void DateTimeToDays(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  DateTime t;
  if (!ArgDateTime(context, args[0], t)) return;
  sqlite3_result_double(context, DaysOfDateTime(t));
}

// sqlengine_datetime_add_days(d, n): d moved by n days (n may have a
// fraction); 8115 when that leaves datetime's range.
void AddDays(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL || sqlite3_value_type(args[1]) == SQLITE_NULL)
    return sqlite3_result_null(context);
  DateTime t;
  if (!ArgDateTime(context, args[0], t)) return;
  ResultDays(context, static_cast<long double>(DaysOfDateTime(t)) + sqlite3_value_double(args[1]));
}

constexpr FunctionDefinition kFunctions[] = {
    {"sqlengine_days_datetime", 1, DaysToDateTime, true},
    {"sqlengine_datetime_days", 1, DateTimeToDays, true},
    {"sqlengine_datetime_add_days", 2, AddDays, true},
};

}  // namespace

DateTime DateTimeFromDays(long double days, SqlType type) {
  const bool small = type == SqlType::kSmallDateTime;
  // The first day of the type's range, and the day after its last.
  const long double first = small ? 0 : DaysFrom1900(1753, 1, 1);
  const long double end = small ? DaysFrom1900(2079, 6, 7) : DaysFrom1900(10000, 1, 1);
  if (!std::isfinite(days) || days < first || days >= end)
    throw MakeError(8115, {"expression", std::string(tsql::TypeName(type))});
  auto ticks = static_cast<std::int64_t>(std::llroundl(days * kTicksPerDay));
  std::int64_t whole_days =
      ticks >= 0 ? ticks / kTicksPerDay : (ticks - kTicksPerDay + 1) / kTicksPerDay;
  std::int64_t rest = ticks - whole_days * kTicksPerDay;
  std::int64_t seconds = rest / kTicksPerSecond;
  DateTime when;
  values::CivilFromDays(whole_days - values::kDays1900To1970, &when.year, &when.month, &when.day);
  when.hour = static_cast<int>(seconds / 3600);
  when.minute = static_cast<int>(seconds / 60 % 60);
  when.second = static_cast<int>(seconds % 60);
  when.millisecond = static_cast<int>(std::lround((rest % kTicksPerSecond) * 10 / 3.0));
  return values::RoundedToKind(
      when, small ? values::DateKind::kSmallDateTime : values::DateKind::kDateTime);
}

double DaysOfDateTime(const DateTime& t) {
  std::int64_t days = values::DaysFromCivil(t.year, t.month, t.day) + values::kDays1900To1970;
  // The milliseconds shown (.000, .003, .007, ...) stand for whole ticks.
  std::int64_t ticks = ((t.hour * 60 + t.minute) * 60 + t.second) * kTicksPerSecond +
                       std::lround(t.millisecond * 3 / 10.0);
  return static_cast<double>(days) + static_cast<double>(ticks) / kTicksPerDay;
}

void RegisterDateNumbers(sqlite3* db) { RegisterFunctionTable(db, kFunctions); }

}  // namespace sqlengine::exec
