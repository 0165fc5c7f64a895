#pragma once
// SUM and AVG of decimal, numeric, money and smallmoney values, added
// exactly at the argument's scale. SQLite's own sum() and avg() add doubles,
// whose rounding errors add up over many rows until they show in the
// result's last decimals.
//
// sqlengine_decimal_sum(value, scale, 'result type') and
// sqlengine_decimal_avg(value, scale, 'result type'): `scale` is the
// argument's (money: 4), the result type is the aggregate's (decimal(38,s),
// or money). NULLs are skipped; no rows give NULL. A total beyond 38 digits,
// or beyond money's range for a money result, fails the statement with 8115.
// The result is an SQLite integer when its scale is 0, else the double
// nearest to it, which the reader rounds to the result's scale again: exact
// up to 15 significant digits, as the columns' own REAL storage is.
//
// sqlengine_exact_sum(raw, 'argument type', 'result type') and
// sqlengine_exact_avg(...) take and give values in their stored form
// (values/exact_storage.h), so nothing passes through a double.
//
// SQLite takes DISTINCT with one argument alone: for the distinct values,
// sqlengine_exact_collect(raw) totals them in any one stored form ("total:
// count" text in units of the column's scale, "overflow" past 38 digits) and
// sqlengine_exact_collected(that, 'argument type', 'result type', 0 for SUM
// or 1 for AVG) gives the result as the others do.

#include <sqlite3.h>

#include "engine/common/types.h"
#include "engine/values/exact_arithmetic.h"

namespace sqlengine::exec {

// One group's SUM or AVG of a column's values in their stored form, added
// and finished exactly as sqlengine_exact_sum and sqlengine_exact_avg do:
// for grouping done by the engine itself (exec/hash_grouping.h).
class ExactTotal {
 public:
  ExactTotal(const ColumnType& argument, const ColumnType& result, bool average);
  // Adds one value (NULLs are skipped); false when it is not in the
  // argument's stored form.
  bool Add(sqlite3_value* value);
  // The aggregate's result into `context`: NULL when nothing was added,
  // 8115 past the result's range.
  void Result(sqlite3_context* context) const;

 private:
  values::DecimalSum sum_;
  bool overflowed_ = false;
  bool keys_;
  bool average_;
  ColumnType result_;
};

// Registers the aggregates and sqlengine_exact_collected. Throws std::runtime_error when SQLite refuses.
void RegisterExactAggregates(sqlite3* db);

}  // namespace sqlengine::exec
