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

std::string HijriStyled(const DateTime& t) {
  int year, month, day;
  HijriFromDays(DaysFromCivil(t.year, t.month, t.day), &year, &month, &day);
  return Format("%2d/%02d/%04d ", day, month, year) + TwelveHourClock(t, true);
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
    case 131:
      return HijriStyled(t);
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

// 'd/mm/yyyy [time]' in the Hijri calendar, back to a Gregorian date.
DateTime FromHijriText(std::string_view text, DateKind kind) {
  int day = 0, month = 0, year = 0, used = 0;
  std::string copy(text);
  if (std::sscanf(copy.c_str(), " %2d/%2d/%4d%n", &day, &month, &year, &used) != 3) {
    throw MakeError(241);
  }
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
  if (style == 131) return FromHijriText(text, kind);
  return DateTimeFromText(text, kind, order);
}

}  // namespace sqlengine::values
