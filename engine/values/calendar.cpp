#include "engine/values/calendar.h"

namespace sqlengine::values {
namespace {

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  return a >= 0 ? a / b : -((-a + b - 1) / b);
}

// The Kuwaiti algorithm counts from Julian day 1948084; a year has 10631/30
// days on average, shifted by 8.01/60 of a day, a month 29.5001. The ratios
// are kept as integers so every platform rounds them alike.
constexpr std::int64_t kDaysTo1970FromKuwaitiEpoch = 492504;

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

void HijriFromDays(std::int64_t days, int* year, int* month, int* day) {
  std::int64_t z = days + kDaysTo1970FromKuwaitiEpoch;
  std::int64_t cycle = FloorDiv(z, 10631);
  z -= 10631 * cycle;
  std::int64_t year_in_cycle = FloorDiv(z * 6000 - 801, 2126200);
  z -= FloorDiv(year_in_cycle * 2126200 + 801, 6000);
  std::int64_t m = FloorDiv(z * 10000 + 285001, 295000);
  if (m == 13) m = 12;
  *year = static_cast<int>(30 * cycle + year_in_cycle);
  *month = static_cast<int>(m);
  *day = static_cast<int>(z - FloorDiv(295001 * m - 290000, 10000));
}

std::optional<std::int64_t> DaysFromHijri(int year, int month, int day) {
  // The estimate is within a few days; the exact day is the one that reads back.
  std::int64_t estimate = FloorDiv(std::int64_t{year} * 10631, 30) + FloorDiv((month - 1) * 59, 2) +
                          day - kDaysTo1970FromKuwaitiEpoch;
  for (std::int64_t days = estimate - 6; days <= estimate + 6; ++days) {
    int y, m, d;
    HijriFromDays(days, &y, &m, &d);
    if (y == year && m == month && d == day) return days;
  }
  return std::nullopt;
}

}  // namespace sqlengine::values
