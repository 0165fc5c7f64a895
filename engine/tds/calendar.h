#pragma once
// Proleptic Gregorian day arithmetic for the wire's date encodings.

#include <cstdint>

namespace sqlengine::tds {

// Days since 1970-01-01 (negative before).
std::int64_t DaysFromCivil(int year, int month, int day);
void CivilFromDays(std::int64_t days, int* year, int* month, int* day);

// Days between 0001-01-01 and 1900-01-01, and 1970-01-01 and 1900-01-01.
inline constexpr std::int64_t kDays0001To1900 = 693595;
inline constexpr std::int64_t kDays1900To1970 = 25567;

}  // namespace sqlengine::tds
