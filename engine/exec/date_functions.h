#pragma once
// T-SQL's date functions on the engine's datetime text: DATEADD, DATEDIFF,
// DATEPART, DATENAME, YEAR, MONTH, DAY. The date part arrives as text
// ('day', 'mm' ...), which the generator makes of T-SQL's bare word.

#include <sqlite3.h>

#include <cstdint>

#include "engine/common/types.h"

namespace sqlengine::exec {

// t moved by a signed number of milliseconds.
DateTime AddMilliseconds(const DateTime& t, std::int64_t milliseconds);

// Throws std::runtime_error when SQLite refuses a registration.
void RegisterDateFunctions(sqlite3* db);

}  // namespace sqlengine::exec
