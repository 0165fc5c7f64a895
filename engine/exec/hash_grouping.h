#pragma once
// GROUP BY by hashing, for the plain grouped queries the generator hands to
// it (tsql/generate/sqlite_generator.cpp): SQLite groups by sorting every
// row, which costs a grouped query over many rows several times the scan.
//
// sqlengine_grouped(query, plan) is a table-valued function. `query` is a
// SELECT of the grouping keys followed by the aggregates' arguments; it is
// compiled while the statement naming it is compiled (so the authorizer
// judges what it reads as part of that statement, and a query that is not
// a constant text is refused) and run, unsorted, when the function is read.
// Its rows are grouped in a hash table by their keys, compared as the GROUP
// BY compares them (NULLs one group; character data as the collations
// sqlengine_ci, sqlengine_ci_n and sqlengine_cs compare it; exact values by their stored
// form), and the function yields one row per group in the order SQLite's
// GROUP BY gives them: ascending by the keys. Of character keys written
// differently in one group (case, trailing spaces) the group shows its
// first row's, as SQLite's sorted GROUP BY mostly does; which one SQL
// Server shows is not defined either.
//
// sqlengine_grouped(query, plan, value, ...): a value after the plan is
// bound to a parameter of the query, in the order the plan names them.
//
// `plan`: items separated by ';'. The first is "keys:" and one letter per
// key (n: as SQLite compares values by default, i: sqlengine_ci, u:
// sqlengine_ci_n, s: sqlengine_cs); "?<name>" names the query's next parameter; each other is
// one result column c0, c1, ... of the function:
//   k<j>        key j's value
//   n           COUNT(*)
//   c<j>        COUNT of column j's values that are not NULL
//   z<j>        how many of column j's values are NULL (warning 8153)
//   m<j>:<t>    MIN of column j, compared by letter <t> as keys are
//   x<j>:<t>    MAX
//   s<j>:<argument type>:<result type>   SUM of exact values in their stored
//   a<j>:<argument type>:<result type>   form, and AVG (exec/exact_aggregates.h)
//   i<j>        SUM of integers as SQLite's sum() adds them ("integer
//               overflow" past 64 bits), for the range check around it
//
// Beyond kMaxHashedGroups groups (or about 64 MiB of groups) the table is
// dropped and the query runs again sorted by its keys, the groups then
// taken one at a time as SQLite's GROUP BY takes them: memory stays bounded
// however many groups there are.

#include <sqlite3.h>

#include <cstddef>

namespace sqlengine::exec {

inline constexpr std::size_t kMaxHashedGroups = 65536;
// The result columns sqlengine_grouped has: c0 to c63.
inline constexpr int kGroupedColumns = 64;
// The parameters its query may have.
inline constexpr int kMaxGroupedParameters = 8;

// Throws std::runtime_error when SQLite refuses the module.
void RegisterHashGrouping(sqlite3* db);

}  // namespace sqlengine::exec
