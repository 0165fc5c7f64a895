#pragma once
// T-SQL's STDEV, STDEVP, VAR and VARP as SQLite aggregates over REAL values:
// sqlengine_stdev, sqlengine_stdevp, sqlengine_var, sqlengine_varp. NULLs
// are skipped; the sample forms give NULL for fewer than two values, the
// population forms 0 for one value, all of them NULL for none.

#include <sqlite3.h>

namespace sqlengine::exec {

// Throws std::runtime_error when SQLite refuses a registration.
void RegisterStatisticalAggregates(sqlite3* db);

}  // namespace sqlengine::exec
