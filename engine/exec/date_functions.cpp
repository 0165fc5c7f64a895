#include "engine/exec/date_functions.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include "engine/common/error.h"
#include "engine/exec/date_numbers.h"
#include "engine/exec/date_settings.h"
#include "engine/exec/sqlite_errors.h"
#include "engine/exec/value_conversion.h"
#include "engine/tsql/token.h"
#include "engine/values/calendar.h"
#include "engine/values/date_text.h"

namespace sqlengine::exec {
namespace {

enum class Part {
  kYear,
  kQuarter,
  kMonth,
  kDayOfYear,
  kDay,
  kWeek,
  kWeekday,
  kHour,
  kMinute,
  kSecond,
  kMillisecond
};

std::optional<Part> PartOf(std::string_view name) {
  struct Alias {
    std::string_view name;
    Part part;
  };
  static constexpr Alias kAliases[] = {{"year", Part::kYear},
                                       {"yy", Part::kYear},
                                       {"yyyy", Part::kYear},
                                       {"quarter", Part::kQuarter},
                                       {"qq", Part::kQuarter},
                                       {"q", Part::kQuarter},
                                       {"month", Part::kMonth},
                                       {"mm", Part::kMonth},
                                       {"m", Part::kMonth},
                                       {"dayofyear", Part::kDayOfYear},
                                       {"dy", Part::kDayOfYear},
                                       {"y", Part::kDayOfYear},
                                       {"day", Part::kDay},
                                       {"dd", Part::kDay},
                                       {"d", Part::kDay},
                                       {"week", Part::kWeek},
                                       {"wk", Part::kWeek},
                                       {"ww", Part::kWeek},
                                       {"weekday", Part::kWeekday},
                                       {"dw", Part::kWeekday},
                                       {"hour", Part::kHour},
                                       {"hh", Part::kHour},
                                       {"minute", Part::kMinute},
                                       {"mi", Part::kMinute},
                                       {"n", Part::kMinute},
                                       {"second", Part::kSecond},
                                       {"ss", Part::kSecond},
                                       {"s", Part::kSecond},
                                       {"millisecond", Part::kMillisecond},
                                       {"ms", Part::kMillisecond}};
  for (const Alias& alias : kAliases) {
    if (tsql::EqualsIgnoreCase(alias.name, name)) return alias.part;
  }
  return std::nullopt;
}

std::int64_t DaysFromCivil(const DateTime& t) {
  return values::DaysFromCivil(t.year, t.month, t.day);
}

std::int64_t Milliseconds(const DateTime& t) {
  return ((DaysFromCivil(t) * 24 + t.hour) * 60 + t.minute) * 60000 + t.second * 1000 +
         t.millisecond;
}

DateTime FromMilliseconds(std::int64_t ms) {
  std::int64_t days = ms >= 0 ? ms / 86400000 : (ms - 86399999) / 86400000;
  std::int64_t rest = ms - days * 86400000;
  DateTime t;
  values::CivilFromDays(days, &t.year, &t.month, &t.day);
  t.hour = static_cast<int>(rest / 3600000);
  t.minute = static_cast<int>(rest / 60000 % 60);
  t.second = static_cast<int>(rest / 1000 % 60);
  t.millisecond = static_cast<int>(rest % 1000);
  return t;
}

// 1 = Sunday ... 7 = Saturday, whatever DATEFIRST says (DATENAME's index).
int DayOfWeek(const DateTime& t) {
  return static_cast<int>(((DaysFromCivil(t) + 4) % 7 + 7) % 7) + 1;
}

// DATEPART(weekday): 1 for the session's DATEFIRST day (7 = Sunday).
int Weekday(const DateTime& t) {
  int first = CurrentDateSettings().first_day % 7;  // 0 = Sunday
  return (DayOfWeek(t) - 1 - first + 7) % 7 + 1;
}

int DayOfYear(const DateTime& t) {
  return static_cast<int>(DaysFromCivil(t) - values::DaysFromCivil(t.year, 1, 1)) + 1;
}

std::int64_t PartValue(Part part, const DateTime& t) {
  switch (part) {
    case Part::kYear:
      return t.year;
    case Part::kQuarter:
      return (t.month - 1) / 3 + 1;
    case Part::kMonth:
      return t.month;
    case Part::kDayOfYear:
      return DayOfYear(t);
    case Part::kDay:
      return t.day;
    case Part::kWeek:
      return (DayOfYear(t) + Weekday(DateTime{t.year, 1, 1}) - 2) / 7 + 1;
    case Part::kWeekday:
      return Weekday(t);
    case Part::kHour:
      return t.hour;
    case Part::kMinute:
      return t.minute;
    case Part::kSecond:
      return t.second;
    case Part::kMillisecond:
      return t.millisecond;
  }
  return 0;
}

// Reads argument `index` as a datetime; false (with the error set) when it is not one.
// `numbers_are_days`: a number stands for days since 1900-01-01, as T-SQL
// reads one where a datetime is expected (DATEDIFF(dd, 0, d)). Without it an
// integer is read as yyyymmdd: the form SQLite's NUMERIC affinity gives a
// written '19990101' before a datetime column's trigger stores it.
bool ArgDate(sqlite3_context* context, sqlite3_value* value, std::optional<DateTime>& out,
             bool numbers_are_days = true) {
  if (sqlite3_value_type(value) == SQLITE_NULL) {
    out.reset();
    return true;
  }
  if (int type = sqlite3_value_type(value);
      numbers_are_days && (type == SQLITE_INTEGER || type == SQLITE_FLOAT)) {
    try {
      out = DateTimeFromDays(sqlite3_value_double(value));
      return true;
    } catch (const SqlError& error) {
      ResultSqlError(context, error);
      return false;
    }
  }
  try {
    Value converted = ConvertForType(PlainValue(value), ColumnType{SqlType::kDateTime});
    out = std::get<DateTime>(converted);
    return true;
  } catch (const SqlError& error) {
    ResultSqlError(context, error);
    return false;
  }
}

bool ArgPart(sqlite3_context* context, sqlite3_value* value, Part& part) {
  const unsigned char* text = sqlite3_value_text(value);
  std::optional<Part> found = text ? PartOf(reinterpret_cast<const char*>(text)) : std::nullopt;
  if (!found) {
    std::string error = FunctionErrorText(
        MakeError(155, {text ? reinterpret_cast<const char*>(text) : "", "datepart"}));
    sqlite3_result_error(context, error.c_str(), -1);
    return false;
  }
  part = *found;
  return true;
}

void ResultDate(sqlite3_context* context, const DateTime& t) {
  std::string text = DateTimeText(t);
  sqlite3_result_text(context, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

void DatePart(sqlite3_context* context, int, sqlite3_value** args) {
  Part part;
  std::optional<DateTime> when;
  if (!ArgPart(context, args[0], part) || !ArgDate(context, args[1], when)) return;
  if (!when) return sqlite3_result_null(context);
  sqlite3_result_int64(context, PartValue(part, *when));
}

void DateName(sqlite3_context* context, int, sqlite3_value** args) {
  static constexpr const char* kMonths[] = {"January",   "February", "March",    "April",
                                            "May",       "June",     "July",     "August",
                                            "September", "October",  "November", "December"};
  static constexpr const char* kDays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                          "Thursday", "Friday", "Saturday"};
  Part part;
  std::optional<DateTime> when;
  if (!ArgPart(context, args[0], part) || !ArgDate(context, args[1], when)) return;
  if (!when) return sqlite3_result_null(context);
  std::string text = part == Part::kMonth     ? kMonths[when->month - 1]
                     : part == Part::kWeekday ? kDays[DayOfWeek(*when) - 1]
                                              : std::to_string(PartValue(part, *when));
  sqlite3_result_text(context, text.c_str(), -1, SQLITE_TRANSIENT);
}

// sqlengine_datetime(x): x as the engine's datetime text; 241 when it is none.
void ToDateTime(sqlite3_context* context, int, sqlite3_value** args) {
  std::optional<DateTime> when;
  if (!ArgDate(context, args[0], when, false)) return;
  if (!when) return sqlite3_result_null(context);
  ResultDate(context, *when);
}

// sqlengine_smalldatetime(x [, from_datetime]): x rounded to the minute; 241,
// or outside smalldatetime's range 296 for text and 298 for a datetime value
// (from_datetime 1).
void ToSmallDateTime(sqlite3_context* context, int count, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  try {
    Value converted = ConvertForType(PlainValue(args[0]), ColumnType{SqlType::kSmallDateTime});
    ResultDate(context, std::get<DateTime>(converted));
  } catch (const SqlError& error) {
    bool from_datetime = count > 1 && sqlite3_value_int(args[1]) != 0;
    if (from_datetime && error.message().number == 296)
      return ResultSqlError(context, MakeError(298));
    ResultSqlError(context, error);
  }
}

void Single(sqlite3_context* context, sqlite3_value* arg, Part part) {
  std::optional<DateTime> when;
  if (!ArgDate(context, arg, when)) return;
  if (!when) return sqlite3_result_null(context);
  sqlite3_result_int64(context, PartValue(part, *when));
}
void Year(sqlite3_context* context, int, sqlite3_value** args) {
  Single(context, args[0], Part::kYear);
}
void Month(sqlite3_context* context, int, sqlite3_value** args) {
  Single(context, args[0], Part::kMonth);
}
void Day(sqlite3_context* context, int, sqlite3_value** args) {
  Single(context, args[0], Part::kDay);
}

// dateadd(part, n, date [, small]): `small` (1) when the date is a
// smalldatetime, whose narrower range the sum must then stay in (517
// naming smalldatetime).
void DateAdd(sqlite3_context* context, int count, sqlite3_value** args) {
  Part part;
  std::optional<DateTime> when;
  if (!ArgPart(context, args[0], part) || !ArgDate(context, args[2], when)) return;
  if (!when || sqlite3_value_type(args[1]) == SQLITE_NULL) return sqlite3_result_null(context);
  std::int64_t amount = sqlite3_value_int64(args[1]);
  DateTime t = *when;
  bool small = count > 3 && sqlite3_value_int(args[3]) != 0;
  auto overflow = [&] {
    std::string error =
        FunctionErrorText(MakeError(517, {small ? "smalldatetime" : "datetime"}));
    sqlite3_result_error(context, error.c_str(), -1);
  };
  // Beyond int's range no sum stays inside datetime's years, and the
  // products below could overflow.
  if (amount < INT32_MIN || amount > INT32_MAX) return overflow();
  if (part == Part::kYear || part == Part::kQuarter || part == Part::kMonth) {
    std::int64_t months = amount * (part == Part::kYear ? 12 : part == Part::kQuarter ? 3 : 1);
    std::int64_t total = t.year * 12LL + (t.month - 1) + months;
    t.year = static_cast<int>(total / 12);
    t.month = static_cast<int>(total % 12) + 1;
    t.day = std::min(t.day, values::DaysInMonth(t.year, t.month));
  } else {
    static constexpr std::int64_t kDay = 86400000;
    std::int64_t unit = part == Part::kWeek          ? 7 * kDay
                        : part == Part::kHour        ? 3600000
                        : part == Part::kMinute      ? 60000
                        : part == Part::kSecond      ? 1000
                        : part == Part::kMillisecond ? 1
                                                     : kDay;
    t = FromMilliseconds(Milliseconds(t) + amount * unit);
  }
  if (t.year < 1753 || t.year > 9999) return overflow();
  // The sum is kept to its type's precision (1/300 second, or the minute),
  // as a stored value would be; rounding may still carry it past the end.
  try {
    t = values::RoundedToKind(t, small ? values::DateKind::kSmallDateTime
                                       : values::DateKind::kDateTime);
  } catch (const SqlError&) {
    return overflow();
  }
  ResultDate(context, t);
}

// a / b rounded toward minus infinity (b > 0): day and second counts
// before 1970 are negative, and a boundary is crossed where the floor
// changes, not where truncation toward zero does.
std::int64_t FloorDivide(std::int64_t a, std::int64_t b) {
  return a / b - ((a % b != 0 && a < 0) ? 1 : 0);
}

// Boundaries of `part` crossed between a and b; 535 when the count does not
// fit DATEDIFF's int.
void DateDiff(sqlite3_context* context, int, sqlite3_value** args) {
  Part part;
  std::optional<DateTime> from, to;
  if (!ArgPart(context, args[0], part) || !ArgDate(context, args[1], from) ||
      !ArgDate(context, args[2], to))
    return;
  if (!from || !to) return sqlite3_result_null(context);
  auto days = [](const DateTime& t) { return DaysFromCivil(t); };
  std::int64_t result = 0;
  switch (part) {
    case Part::kYear:
      result = to->year - from->year;
      break;
    case Part::kQuarter:
      result = (to->year * 4 + (to->month - 1) / 3) - (from->year * 4 + (from->month - 1) / 3);
      break;
    case Part::kMonth:
      result = (to->year * 12 + to->month) - (from->year * 12 + from->month);
      break;
    case Part::kWeek:
      // Weeks start on Sunday whatever SET DATEFIRST says; day 3 is a Sunday.
      result = FloorDivide(days(*to) - 3, 7) - FloorDivide(days(*from) - 3, 7);
      break;
    case Part::kHour:
      result = (days(*to) * 24 + to->hour) - (days(*from) * 24 + from->hour);
      break;
    case Part::kMinute:
      result = (days(*to) * 1440 + to->hour * 60 + to->minute) -
               (days(*from) * 1440 + from->hour * 60 + from->minute);
      break;
    case Part::kSecond:
      result = FloorDivide(Milliseconds(*to), 1000) - FloorDivide(Milliseconds(*from), 1000);
      break;
    case Part::kMillisecond:
      result = Milliseconds(*to) - Milliseconds(*from);
      break;
    default:
      result = days(*to) - days(*from);
  }
  if (result < INT32_MIN || result > INT32_MAX) {
    std::string error = FunctionErrorText(MakeError(535));
    return sqlite3_result_error(context, error.c_str(), -1);
  }
  sqlite3_result_int64(context, result);
}

}  // namespace

DateTime AddMilliseconds(const DateTime& t, std::int64_t milliseconds) {
  return FromMilliseconds(Milliseconds(t) + milliseconds);
}

void RegisterDateFunctions(sqlite3* db) {
  struct Definition {
    const char* name;
    int arguments;
    void (*function)(sqlite3_context*, int, sqlite3_value**);
  };
  static constexpr Definition kFunctions[] = {{"datepart", 2, DatePart},
                                              {"datename", 2, DateName},
                                              {"year", 1, Year},
                                              {"month", 1, Month},
                                              {"day", 1, Day},
                                              {"dateadd", 3, DateAdd},
                                              {"dateadd", 4, DateAdd},
                                              {"datediff", 3, DateDiff},
                                              {"sqlengine_datetime", 1, ToDateTime},
                                              {"sqlengine_smalldatetime", 1, ToSmallDateTime},
                                              {"sqlengine_smalldatetime", 2, ToSmallDateTime}};
  for (const Definition& definition : kFunctions) {
    if (sqlite3_create_function_v2(db, definition.name, definition.arguments,
                                   SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, definition.function,
                                   nullptr, nullptr, nullptr) != SQLITE_OK) {
      throw std::runtime_error(std::string("cannot register ") + definition.name);
    }
  }
}

}  // namespace sqlengine::exec
