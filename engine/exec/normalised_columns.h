#pragma once
// Columns whose stored values the engine keeps in one form, through triggers
// that rewrite each inserted or updated value:
// - datetime columns hold the engine's one text form ("YYYY-MM-DD
//   HH:MM:SS.mmm") whatever form a value was written in, so that they compare
//   and sort as dates (a value that is no date is refused with 241);
// - decimal, money and smallmoney columns hold their values rounded to the
//   column's scale (a value beyond its precision is refused with 8115), so
//   that sums and comparisons see what a reader sees;
// - integer, bit and float columns hold numbers of their type: a text is
//   converted by T-SQL's rules or refused (245, 8114), where it would
//   otherwise fail every later read of the row, a fraction in an integer
//   column is cut, and an integer beyond the type's range is refused (8115);
// - char, varchar, nchar and nvarchar columns of a set length refuse a longer
//   text (8152), trailing spaces aside, as SQLite does not limit lengths, or
//   cut it to their length under SET ANSI_WARNINGS OFF;
// - a timestamp (rowversion) column takes the database's next row version on
//   every insert and update of its row, whatever the statement wrote.
//
// The row version counter of a database is the one row of its
// sqlengine_row_version table (made with the first timestamp column): the
// last value handed out, which starts at kFirstRowVersion. Writers of a
// database take its SQLite write lock, so no two take the same value.

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/common/types.h"

namespace sqlengine::exec {

inline constexpr const char* kRowVersionTable = "sqlengine_row_version";
inline constexpr std::int64_t kFirstRowVersion = 2000;

// The last row version `schema` handed out (@@DBTS), 8 bytes high byte first;
// kFirstRowVersion for a database that has had no timestamp column.
Bytes LastRowVersion(sqlite3* db, const std::string& schema);

// The row version counters of the databases attached to `db` that have one,
// as their SQLite schema and last value.
std::vector<std::pair<std::string, std::int64_t>> RowVersionCounters(sqlite3* db);

// After a rollback: each of `counters` (RowVersionCounters before it) set
// back to at least the value it had, as a row version once handed out is
// never handed out again. Throws std::runtime_error when SQLite refuses.
void KeepRowVersionCounters(sqlite3* db,
                            const std::vector<std::pair<std::string, std::int64_t>>& counters);

// Gives the table's columns in `schema` the triggers they lack (for a table
// just created or given new columns). Throws std::runtime_error.
void NormaliseColumns(sqlite3* db, const std::string& schema, const std::string& table);

// The columns of `table` in `schema` that have triggers keeping their values
// in the stored form (datetime, decimal, number and length-limited text
// columns), when the table's only triggers in `schema` are those, each with
// exactly the text NormaliseColumns gives it; nullopt when the table has any
// other trigger (a timestamp column's, identity's, a rule's, one made by an
// older engine or rewritten by a rename). A writer that stores only values
// already in their column's stored form, leaves no such column to its
// default, and checks an identity value SQLite assigns as the column's
// number trigger would, may then write with the connection's triggers
// switched off (SQLITE_DBCONFIG_ENABLE_TRIGGER; TEMP triggers still fire)
// and store exactly what the triggers would have.
struct StoredFormColumn {
  std::string name;
  ColumnType type;  // as the column's triggers read its declared type
};
std::optional<std::vector<StoredFormColumn>> StoredFormTriggerColumns(sqlite3* db,
                                                                      const std::string& schema,
                                                                      const std::string& table);

// The names of the triggers NormaliseColumns gives the table's columns that
// `schema` lacks: a value written to such a column would be stored unchecked.
std::vector<std::string> MissingNormalisingTriggers(sqlite3* db, const std::string& schema,
                                                    const std::string& table);

// Drops the triggers NormaliseColumns gave `column`, before the column goes.
void ForgetColumn(sqlite3* db, const std::string& schema, const std::string& table,
                  const std::string& column);

// Registers sqlengine_decimal(value, 'declared type'), which the decimal
// triggers call: the value fitted to the type, NULL for NULL; and
// sqlengine_number(value, 'declared type'), which the number triggers and
// CAST to a number type call: the value converted to the type (245, 8114 or
// 8115 when it is no such number), NULL and binary data as they are.
void RegisterDecimalFunction(sqlite3* db);

}  // namespace sqlengine::exec
