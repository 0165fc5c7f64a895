#include "engine/tds/calendar.h"

namespace sqlengine::tds {

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

}  // namespace sqlengine::tds
