#pragma once
// Proleptic Gregorian day arithmetic, and the tabular (Kuwaiti) Hijri
// calendar SQL Server's styles 130 and 131 use.

#include <cstdint>
#include <optional>

namespace sqlengine::values {

// Days since 1970-01-01 (negative before).
std::int64_t DaysFromCivil(int year, int month, int day);
void CivilFromDays(std::int64_t days, int* year, int* month, int* day);

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);

// The Hijri date of a day counted as DaysFromCivil counts, by the Kuwaiti
// algorithm (a tabular calendar of 30-year cycles); and back, nullopt for a
// Hijri date that does not exist (a 30th in a 29-day month).
void HijriFromDays(std::int64_t days, int* year, int* month, int* day);
std::optional<std::int64_t> DaysFromHijri(int year, int month, int day);

// Days between 0001-01-01 and 1900-01-01, and 1970-01-01 and 1900-01-01.
inline constexpr std::int64_t kDays0001To1900 = 693595;
inline constexpr std::int64_t kDays1900To1970 = 25567;

}  // namespace sqlengine::values
