#pragma once
// Proleptic Gregorian day arithmetic, and the tabular (Kuwaiti) Hijri
// calendar SQL Server's styles 130 and 131 use.

#include <cstdint>

namespace sqlengine::values {

// Days since 1970-01-01 (negative before).
std::int64_t DaysFromCivil(int year, int month, int day);
void CivilFromDays(std::int64_t days, int* year, int* month, int* day);

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);

// The Hijri date of a day counted as DaysFromCivil counts, and back. The
// month has 30 days in odd months and 29 in even ones, the twelfth 30 in the
// 11 leap years of each 30-year cycle.
void HijriFromDays(std::int64_t days, int* year, int* month, int* day);
std::int64_t DaysFromHijri(int year, int month, int day);
int DaysInHijriMonth(int year, int month);

// Days between 0001-01-01 and 1900-01-01, and 1970-01-01 and 1900-01-01.
inline constexpr std::int64_t kDays0001To1900 = 693595;
inline constexpr std::int64_t kDays1900To1970 = 25567;

}  // namespace sqlengine::values
