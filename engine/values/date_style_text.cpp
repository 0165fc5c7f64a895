#include "engine/values/date_style_text.h"

#include <cstdio>
#include <string>

#include "engine/common/error.h"
#include "engine/values/calendar.h"

namespace sqlengine::values {
namespace {

constexpr const char* kShortMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::string Format(const char* pattern, auto... values) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, pattern, values...);
  return buffer;
}

int TwelveHour(int hour) { return hour % 12 == 0 ? 12 : hour % 12; }
const char* Meridiem(int hour) { return hour < 12 ? "AM" : "PM"; }

// "10:00AM", or with seconds and thousandths "10:00:00:000AM", the hour
// padded with a blank as styles 0, 9 and 131 write it.
std::string TwelveHourClock(const DateTime& t, bool seconds) {
  if (!seconds) return Format("%2d:%02d%s", TwelveHour(t.hour), t.minute, Meridiem(t.hour));
  return Format("%2d:%02d:%02d:%03d%s", TwelveHour(t.hour), t.minute, t.second, t.millisecond,
                Meridiem(t.hour));
}

// The Hijri months' Arabic names style 130 writes (UTF-8).
constexpr const char* kHijriMonths[] = {
    "\u0645\u062d\u0631\u0645",
    "\u0635\u0641\u0631",
    "\u0631\u0628\u064a\u0639 \u0627\u0644\u0627\u0648\u0644",
    "\u0631\u0628\u064a\u0639 \u0627\u0644\u062b\u0627\u0646\u064a",
    "\u062c\u0645\u0627\u062f\u0649 \u0627\u0644\u0627\u0648\u0644\u0649",
    "\u062c\u0645\u0627\u062f\u0649 \u0627\u0644\u062b\u0627\u0646\u064a\u0629",
    "\u0631\u062c\u0628",
    "\u0634\u0639\u0628\u0627\u0646",
    "\u0631\u0645\u0636\u0627\u0646",
    "\u0634\u0648\u0627\u0644",
    "\u0630\u0648 \u0627\u0644\u0642\u0639\u062f\u0629",
    "\u0630\u0648 \u0627\u0644\u062d\u062c\u0629",
};

// Style 130 ('dd month yyyy hh:mi:ss:mmmAM', the month by its Arabic name)
// or 131 ('dd/mm/yyyy hh:mi:ss:mmmAM'), the day padded with a blank.
std::string HijriStyled(const DateTime& t, bool month_names) {
  int year, month, day;
  HijriFromDays(DaysFromCivil(t.year, t.month, t.day), &year, &month, &day);
  std::string date = month_names
                         ? Format("%2d %s %04d ", day, kHijriMonths[month - 1], year)
                         : Format("%2d/%02d/%04d ", day, month, year);
  return date + TwelveHourClock(t, true);
}

}  // namespace

std::string DateTimeStyled(const DateTime& t, int style) {
  bool century = style >= 100;
  std::string year = century ? Format("%04d", t.year) : Format("%02d", t.year % 100);
  const char* month_name = kShortMonths[t.month - 1];
  switch (style) {
    case 0:
    case 100:
      return Format("%s %2d %04d ", month_name, t.day, t.year) + TwelveHourClock(t, false);
    case 9:
    case 109:
      return Format("%s %2d %04d ", month_name, t.day, t.year) + TwelveHourClock(t, true);
    case 13:
    case 113:
      return Format("%02d %s %04d %02d:%02d:%02d:%03d", t.day, month_name, t.year, t.hour, t.minute,
                    t.second, t.millisecond);
    case 8:
    case 108:
      return Format("%02d:%02d:%02d", t.hour, t.minute, t.second);
    case 14:
    case 114:
      return Format("%02d:%02d:%02d:%03d", t.hour, t.minute, t.second, t.millisecond);
    case 20:
    case 120:
      return Format("%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                    t.second);
    case 21:
    case 121:
      return Format("%04d-%02d-%02d %02d:%02d:%02d.%03d", t.year, t.month, t.day, t.hour, t.minute,
                    t.second, t.millisecond);
    case 126:
      return Format("%04d-%02d-%02dT%02d:%02d:%02d.%03d", t.year, t.month, t.day, t.hour, t.minute,
                    t.second, t.millisecond);
    case 130:
    case 131:
      return HijriStyled(t, style == 130);
    default:
      break;
  }
  switch (century ? style - 100 : style) {
    case 1:
      return Format("%02d/%02d/", t.month, t.day) + year;
    case 2:
      return year + Format(".%02d.%02d", t.month, t.day);
    case 3:
      return Format("%02d/%02d/", t.day, t.month) + year;
    case 4:
      return Format("%02d.%02d.", t.day, t.month) + year;
    case 5:
      return Format("%02d-%02d-", t.day, t.month) + year;
    case 6:
      return Format("%02d %s ", t.day, month_name) + year;
    case 7:
      return Format("%s %02d, ", month_name, t.day) + year;
    case 10:
      return Format("%02d-%02d-", t.month, t.day) + year;
    case 11:
      return year + Format("/%02d/%02d", t.month, t.day);
    case 12:
      return year + Format("%02d%02d", t.month, t.day);
    default:
      throw MakeError(281, {std::to_string(style), "datetime"});
  }
}

namespace {

// The month named at the start of `text` (1-12) and the length of its
// name; 0 when no Hijri month's name is there.
int HijriMonthNamed(std::string_view text, size_t* length) {
  for (int month = 12; month >= 1; --month) {
    std::string_view name = kHijriMonths[month - 1];
    if (text.substr(0, name.size()) == name) {
      *length = name.size();
      return month;
    }
  }
  return 0;
}

// 'd month yyyy' (style 130) or 'd/mm/yyyy' (131): the Hijri date, and in
// `used` how much of `text` it takes. Throws 241 for anything else.
void ReadHijriDate(std::string_view text, bool month_names, int* day, int* month, int* year,
                   int* used) {
  std::string copy(text);
  if (!month_names) {
    if (std::sscanf(copy.c_str(), " %2d/%2d/%4d%n", day, month, year, used) != 3)
      throw MakeError(241);
    return;
  }
  int at = 0;
  if (std::sscanf(copy.c_str(), " %2d %n", day, &at) != 1) throw MakeError(241);
  size_t name_length = 0;
  *month = HijriMonthNamed(text.substr(static_cast<size_t>(at)), &name_length);
  if (*month == 0) throw MakeError(241);
  at += static_cast<int>(name_length);
  int rest = 0;
  if (std::sscanf(copy.c_str() + at, " %4d%n", year, &rest) != 1) throw MakeError(241);
  *used = at + rest;
}

// A Hijri date (and a time) as style 130 or 131 writes it, back to a
// Gregorian date.
DateTime FromHijriText(std::string_view text, bool month_names, DateKind kind) {
  int day = 0, month = 0, year = 0, used = 0;
  ReadHijriDate(text, month_names, &day, &month, &year, &used);
  std::optional<std::int64_t> days = DaysFromHijri(year, month, day);
  if (!days) throw MakeError(kind == DateKind::kDateTime ? 242 : 296);
  // What follows the date is a time alone, read on 1900-01-01.
  std::string_view rest = text.substr(static_cast<size_t>(used));
  if (!rest.empty() && rest.front() != ' ') throw MakeError(241);
  DateTime when = DateTimeFromText(rest, DateKind::kDateTime, DateOrder::kDmy);
  if (when.year != 1900 || when.month != 1 || when.day != 1) throw MakeError(241);
  CivilFromDays(*days, &when.year, &when.month, &when.day);
  return RoundedToKind(when, kind);
}

}  // namespace

DateTime DateTimeFromStyledText(std::string_view text, int style, DateKind kind, DateOrder order) {
  switch (style % 100) {
    case 1:
    case 10:
      order = DateOrder::kMdy;
      break;
    case 3:
    case 4:
    case 5:
    case 13:
      order = DateOrder::kDmy;
      break;
    case 2:
    case 11:
    case 12:
    case 20:
    case 21:
      order = DateOrder::kYmd;
      break;
    default:
      break;
  }
  if (style == 130 || style == 131) return FromHijriText(text, style == 130, kind);
  return DateTimeFromText(text, kind, order);
}

}  // namespace sqlengine::values
