#pragma once
// ALTER TABLE t [WITH CHECK | NOCHECK] {CHECK | NOCHECK} CONSTRAINT {ALL | c, ...}:
// switching a table's FOREIGN KEY and CHECK constraints off and on again. A
// switched-off constraint moves into a comment of the table's stored
// definition (table_constraints.h), so SQLite stops enforcing it while the
// catalog keeps listing it, and the state travels with the data file.

#include <sqlite3.h>

#include <string>
#include <vector>

namespace sqlengine::exec {

struct ConstraintSwitch {
  std::string schema;    // SQLite's name of the table's database
  std::string database;  // its T-SQL name, for messages
  std::string table;
  bool enable = false;
  bool all = false;                // every FOREIGN KEY and CHECK constraint
  std::vector<std::string> names;  // otherwise these
  bool check_existing = false;     // WITH CHECK: the rows must satisfy what is switched on
};

// Applies the switch; the caller holds a savepoint and the table's write lock
// and rolls back on a throw. Throws SqlError 4902 for an unknown table, 4917
// for a name that is no FOREIGN KEY or CHECK constraint of the table, 547 when
// WITH CHECK finds a row that breaks a constraint switched on.
void SwitchConstraints(sqlite3* db, const ConstraintSwitch& change);

// Takes a constraint that is switched off out of the table's definition;
// false when `name` is no such constraint of `table`.
bool DropDisabledConstraint(sqlite3* db, const std::string& schema, const std::string& table,
                            const std::string& name);

}  // namespace sqlengine::exec
