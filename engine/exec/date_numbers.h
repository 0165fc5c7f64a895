#pragma once
// A datetime read from a number and written as one, as SQL Server does it:
// days since 1900-01-01, the fraction being the time of day. This is what
// CAST(n AS datetime), CAST(d AS float), `d + n`, `d - n`, `d1 - d2` and a
// number where a date function expects a datetime (DATEDIFF(dd, 0, d)) mean.

#include <sqlite3.h>

#include "engine/common/types.h"

namespace sqlengine::exec {

// The `type` (datetime or smalldatetime) `days` after 1900-01-01 (before it
// when negative), rounded to the type's precision. Throws 8115 outside the
// type's range.
DateTime DateTimeFromDays(long double days, SqlType type = SqlType::kDateTime);

// Days from 1900-01-01 to `t`, the time of day as the fraction.
double DaysOfDateTime(const DateTime& t);

// Registers sqlengine_days_datetime(n), sqlengine_datetime_days(d) and
// sqlengine_datetime_add_days(d, n). Throws std::runtime_error when SQLite
// refuses one.
void RegisterDateNumbers(sqlite3* db);

}  // namespace sqlengine::exec
