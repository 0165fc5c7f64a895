#include "engine/exec/date_styles.h"

#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>

#include "engine/common/error.h"
#include "engine/exec/sqlite_errors.h"
#include "engine/exec/sqlite_value_text.h"
#include "engine/exec/value_conversion.h"

namespace sqlengine::exec {
namespace {

void ResultText(sqlite3_context* context, const std::string& text) {
  sqlite3_result_text(context, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

// "YYYY-MM-DD HH:MM:SS.mmm", the form every datetime column and function yields.
bool IsDateTimeText(std::string_view text) {
  static constexpr std::string_view kShape = "dddd-dd-dd dd:dd:dd.ddd";
  if (text.size() != kShape.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    bool digit = text[i] >= '0' && text[i] <= '9';
    if (kShape[i] == 'd' ? !digit : text[i] != kShape[i]) return false;
  }
  return true;
}

std::string Format(const char* pattern, auto... values) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, pattern, values...);
  return buffer;
}

// The text of `t` in `style`; nullopt for a style this engine does not write.
std::optional<std::string> Styled(const DateTime& t, int style) {
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  bool century = style >= 100;
  int year = century ? t.year : t.year % 100;
  const char* y = century ? "%04d" : "%02d";
  switch (style % 100) {
    case 0: {
      if (style != 0 && style != 100) break;
      int hour = t.hour % 12 == 0 ? 12 : t.hour % 12;
      return Format("%s %2d %04d %2d:%02d%s", kMonths[t.month - 1], t.day, t.year, hour, t.minute,
                    t.hour < 12 ? "AM" : "PM");
    }
    case 1:
      return Format("%02d/%02d/", t.month, t.day) + Format(y, year);
    case 2:
      return Format(y, year) + Format(".%02d.%02d", t.month, t.day);
    case 3:
      return Format("%02d/%02d/", t.day, t.month) + Format(y, year);
    case 4:
      return Format("%02d.%02d.", t.day, t.month) + Format(y, year);
    case 5:
      return Format("%02d-%02d-", t.day, t.month) + Format(y, year);
    case 8:
      return Format("%02d:%02d:%02d", t.hour, t.minute, t.second);
    case 10:
      return Format("%02d-%02d-", t.month, t.day) + Format(y, year);
    case 11:
      return Format(y, year) + Format("/%02d/%02d", t.month, t.day);
    case 12:
      return Format(y, year) + Format("%02d%02d", t.month, t.day);
    default:
      break;
  }
  switch (style) {
    case 20:
    case 120:
      return Format("%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                    t.second);
    case 21:
    case 121:
      return DateTimeText(t);
    case 126:
      return Format("%04d-%02d-%02dT%02d:%02d:%02d.%03d", t.year, t.month, t.day, t.hour, t.minute,
                    t.second, t.millisecond);
    default:
      return std::nullopt;
  }
}

void DateStyle(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  std::string text = SqliteValueText(args[0]);
  if (IsDateTimeText(text)) {
    std::optional<DateTime> when = ParseDateTimeText(text);
    std::optional<std::string> styled =
        when ? Styled(*when, sqlite3_value_int(args[1])) : std::nullopt;
    if (styled) return ResultText(context, *styled);
  }
  sqlite3_result_value(context, args[0]);
}

// Styles 3, 4, 5 and 103, 104, 105 put the day first: dd/mm/yyyy, dd.mm.yyyy, dd-mm-yyyy.
void DateTimeStyled(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  std::string text = SqliteValueText(args[0]);
  int style = sqlite3_value_int(args[1]) % 100;
  if (sqlite3_value_type(args[0]) == SQLITE_TEXT && style >= 3 && style <= 5) {
    int day = 0, month = 0, year = 0, used = 0;
    if (std::sscanf(text.c_str(), "%2d%*[/.-]%2d%*[/.-]%4d%n", &day, &month, &year, &used) == 3) {
      if (year < 100) year += year < 50 ? 2000 : 1900;
      text = Format("%04d-%02d-%02d", year, month, day) + text.substr(static_cast<size_t>(used));
    }
  }
  try {
    Value converted = ConvertForType(Value(text), ColumnType{SqlType::kDateTime});
    ResultText(context, DateTimeText(std::get<DateTime>(converted)));
  } catch (const SqlError& error) {
    std::string message = FunctionErrorText(error);
    sqlite3_result_error(context, message.c_str(), -1);
  }
}

}  // namespace

void RegisterDateStyleFunctions(sqlite3* db) {
  struct Definition {
    const char* name;
    void (*function)(sqlite3_context*, int, sqlite3_value**);
  };
  for (const Definition& definition : {Definition{"sqlengine_date_style", DateStyle},
                                       Definition{"sqlengine_datetime_styled", DateTimeStyled}}) {
    if (sqlite3_create_function_v2(db, definition.name, 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                   nullptr, definition.function, nullptr, nullptr,
                                   nullptr) != SQLITE_OK) {
      throw std::runtime_error(std::string("cannot register ") + definition.name);
    }
  }
}

}  // namespace sqlengine::exec
