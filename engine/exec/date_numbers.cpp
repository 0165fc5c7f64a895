#include "engine/exec/date_numbers.h"

#include <cmath>
#include <string>

#include "engine/common/error.h"
#include "engine/exec/function_registration.h"
#include "engine/exec/sqlite_errors.h"
#include "engine/exec/value_conversion.h"
#include "engine/values/calendar.h"
#include "engine/values/date_text.h"

namespace sqlengine::exec {
namespace {

constexpr double kMillisecondsPerDay = 86400000.0;

void Overflow(sqlite3_context* context) {
  std::string text = FunctionErrorText(MakeError(8115, {"expression", "datetime"}));
  sqlite3_result_error(context, text.c_str(), -1);
}

void ResultDateTime(sqlite3_context* context, const std::optional<DateTime>& t) {
  if (!t) return Overflow(context);
  std::string text = DateTimeText(*t);
  sqlite3_result_text(context, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
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
  ResultDateTime(context, DateTimeFromDays(sqlite3_value_double(args[0])));
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
  ResultDateTime(context, DateTimeFromDays(DaysOfDateTime(t) + sqlite3_value_double(args[1])));
}

constexpr FunctionDefinition kFunctions[] = {
    {"sqlengine_days_datetime", 1, DaysToDateTime, true},
    {"sqlengine_datetime_days", 1, DateTimeToDays, true},
    {"sqlengine_datetime_add_days", 2, AddDays, true},
};

}  // namespace

std::optional<DateTime> DateTimeFromDays(double days) {
  // 1753-01-01 is day -53690 and 9999-12-31 day 2958463.
  if (!std::isfinite(days) || days < -53690.0 || days >= 2958464.0) return std::nullopt;
  auto milliseconds = static_cast<std::int64_t>(std::llround(days * kMillisecondsPerDay));
  std::int64_t whole_days =
      milliseconds >= 0 ? milliseconds / 86400000 : (milliseconds - 86399999) / 86400000;
  std::int64_t rest = milliseconds - whole_days * 86400000;
  DateTime t;
  values::CivilFromDays(whole_days - values::kDays1900To1970, &t.year, &t.month, &t.day);
  t.hour = static_cast<int>(rest / 3600000);
  t.minute = static_cast<int>(rest / 60000 % 60);
  t.second = static_cast<int>(rest / 1000 % 60);
  t.millisecond = static_cast<int>(rest % 1000);
  try {
    return values::RoundedToKind(t, values::DateKind::kDateTime);
  } catch (const SqlError&) {
    return std::nullopt;
  }
}

double DaysOfDateTime(const DateTime& t) {
  std::int64_t days = values::DaysFromCivil(t.year, t.month, t.day) + values::kDays1900To1970;
  double milliseconds = ((t.hour * 60.0 + t.minute) * 60.0 + t.second) * 1000.0 + t.millisecond;
  return static_cast<double>(days) + milliseconds / kMillisecondsPerDay;
}

void RegisterDateNumbers(sqlite3* db) { RegisterFunctionTable(db, kFunctions); }

}  // namespace sqlengine::exec
