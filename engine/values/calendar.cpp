#include "engine/values/calendar.h"

namespace sqlengine::values {
namespace {

// 1 Muharram 1 AH (Friday 16 July 622, Julian) in DaysFromCivil's count.
constexpr std::int64_t kHijriEpoch = -492148;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

// Days from the epoch to 1 Muharram of `year`: 354 a year plus one for each
// leap year before it.
std::int64_t HijriYearStart(std::int64_t year) {
  return (year - 1) * 354 + FloorDiv(3 + 11 * year, 30);
}

}  // namespace

// Era-based conversion (400-year cycles of 146097 days), exact for all years.
std::int64_t DaysFromCivil(int year, int month, int day) {
  std::int64_t y = year - (month <= 2 ? 1 : 0);
  std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  std::int64_t year_of_era = y - era * 400;
  std::int64_t shifted_month = month + (month > 2 ? -3 : 9);
  std::int64_t day_of_year = (153 * shifted_month + 2) / 5 + day - 1;
  std::int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

void CivilFromDays(std::int64_t days, int* year, int* month, int* day) {
  days += 719468;
  std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  std::int64_t day_of_era = days - era * 146097;
  std::int64_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  std::int64_t y = year_of_era + era * 400;
  std::int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  std::int64_t mp = (5 * day_of_year + 2) / 153;
  *day = static_cast<int>(day_of_year - (153 * mp + 2) / 5 + 1);
  *month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *year = static_cast<int>(y + (*month <= 2 ? 1 : 0));
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

int DaysInHijriMonth(int year, int month) {
  if (month < 1 || month > 12) return 0;
  if (month < 12) return month % 2 == 1 ? 30 : 29;
  return HijriYearStart(year + 1) - HijriYearStart(year) == 355 ? 30 : 29;
}

std::int64_t DaysFromHijri(int year, int month, int day) {
  std::int64_t months_before = 0;
  for (int m = 1; m < month; ++m) months_before += m % 2 == 1 ? 30 : 29;
  return kHijriEpoch + HijriYearStart(year) + months_before + day - 1;
}

void HijriFromDays(std::int64_t days, int* year, int* month, int* day) {
  std::int64_t since_epoch = days - kHijriEpoch;
  std::int64_t y = FloorDiv(30 * since_epoch + 10646, 10631);
  while (HijriYearStart(y + 1) <= since_epoch) ++y;
  while (HijriYearStart(y) > since_epoch) --y;
  std::int64_t day_of_year = since_epoch - HijriYearStart(y);
  int m = 1;
  while (m < 12 && day_of_year >= (m % 2 == 1 ? 30 : 29)) {
    day_of_year -= m % 2 == 1 ? 30 : 29;
    ++m;
  }
  *year = static_cast<int>(y);
  *month = m;
  *day = static_cast<int>(day_of_year) + 1;
}

}  // namespace sqlengine::values
