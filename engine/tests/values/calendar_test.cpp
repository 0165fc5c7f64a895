// Day arithmetic: Gregorian days both ways over datetime's whole range, and
// the Kuwaiti Hijri calendar against dates SQL Server is known to give.
#include "engine/values/calendar.h"

#include <gtest/gtest.h>

#include <array>

namespace sqlengine::values {
namespace {

TEST(Calendar, GregorianDaysRoundTripFrom1753To9999) {
  std::int64_t first = DaysFromCivil(1753, 1, 1), last = DaysFromCivil(9999, 12, 31);
  EXPECT_EQ(DaysFromCivil(1970, 1, 1), 0);
  EXPECT_EQ(DaysFromCivil(1900, 1, 1), -kDays1900To1970);
  int year = 1753, month = 1, day = 1;
  for (std::int64_t days = first; days <= last; ++days) {
    int y, m, d;
    CivilFromDays(days, &y, &m, &d);
    ASSERT_TRUE(y == year && m == month && d == day) << days;
    if (++day > DaysInMonth(year, month)) {
      day = 1;
      if (++month > 12) month = 1, ++year;
    }
  }
}

TEST(Calendar, LeapYearsFollowTheGregorianRule) {
  EXPECT_EQ(DaysInMonth(1900, 2), 28);
  EXPECT_EQ(DaysInMonth(2000, 2), 29);
  EXPECT_EQ(DaysInMonth(2004, 2), 29);
  EXPECT_EQ(DaysInMonth(2003, 2), 28);
  EXPECT_EQ(DaysInMonth(2003, 13), 0);
}

TEST(Calendar, HijriDatesMatchTheKuwaitiAlgorithm) {
  int y, m, d;
  HijriFromDays(DaysFromCivil(2000, 8, 7), &y, &m, &d);
  EXPECT_EQ((std::array{y, m, d}), (std::array{1421, 5, 7}));
  HijriFromDays(DaysFromCivil(2002, 1, 1), &y, &m, &d);
  EXPECT_EQ((std::array{y, m, d}), (std::array{1422, 10, 17}));
  HijriFromDays(DaysFromCivil(1999, 4, 16), &y, &m, &d);
  EXPECT_EQ((std::array{y, m, d}), (std::array{1420, 1, 1}));
}

TEST(Calendar, HijriDaysRoundTripAndMonthsHave29Or30Days) {
  int days_in_month = 0;
  for (std::int64_t days = DaysFromCivil(1753, 1, 1); days <= DaysFromCivil(9999, 12, 31); ++days) {
    int y, m, d;
    HijriFromDays(days, &y, &m, &d);
    ASSERT_EQ(DaysFromHijri(y, m, d), days);
    if (d == 1 && days_in_month > 0) {
      ASSERT_TRUE(days_in_month == 29 || days_in_month == 30) << days;
    }
    days_in_month = d == 1 ? 1 : days_in_month > 0 ? days_in_month + 1 : 0;
  }
  EXPECT_EQ(DaysFromHijri(1422, 2, 30), std::nullopt);
  EXPECT_EQ(DaysFromHijri(1422, 13, 1), std::nullopt);
}

}  // namespace
}  // namespace sqlengine::values
