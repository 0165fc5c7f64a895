#pragma once
// The constraints of a database's tables as SQL Server lists them: PRIMARY
// KEY, UNIQUE, FOREIGN KEY, CHECK and DEFAULT, with their names, read from
// each table's stored definition (and the keys ALTER TABLE added as unique
// indexes). A constraint the definition leaves unnamed gets SQL Server's
// generated form, PK__<table>__<id in hex> or FK__<table>__<column>__<id>
// (table cut to 9 characters, column to 5), from an id that depends only on
// the table and the constraint's text, so it stays the same across sessions,
// detach/attach and backup/restore.
//
// A FOREIGN KEY or CHECK constraint switched off with NOCHECK CONSTRAINT is
// kept in the definition inside a comment SQLite skips:
//   /*sqlengine_disabled "column" CONSTRAINT "name" <body>*/
// ("" for a table-level one), at the end of its column or before the closing
// parenthesis. SQLite does not enforce it; the catalog still lists it.
//
// A FOREIGN KEY or CHECK constraint that is enforced but not trusted (added
// WITH NOCHECK, or switched on again without checking the rows) has the
// marker below right before it (before its CONSTRAINT word or its body). A
// switched-off one is never trusted and carries no marker.
//
// A key's index is clustered as SQL Server makes it: a PRIMARY KEY's unless
// it was declared NONCLUSTERED or another index of the table is clustered, a
// UNIQUE constraint's or a CREATE INDEX's only when declared CLUSTERED. A
// declaration that differs from the default leaves a comment SQLite skips
// right after the key's words (or at the end of an index's text): the
// markers below. A definition without them reads as it always did.

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace sqlengine::exec {

inline constexpr std::string_view kClusteredMarker = "/*sqlengine_clustered*/";
inline constexpr std::string_view kNonclusteredMarker = "/*sqlengine_nonclustered*/";
inline constexpr std::string_view kNotTrustedMarker = "/*sqlengine_not_trusted*/";

struct TableConstraint {
  std::string table;
  std::string name;
  std::int64_t id = 0;
  std::string xtype;                 // "PK", "UQ", "F", "C" or "D"
  std::string column;                // a column-level constraint's column; empty at table level
  std::vector<std::string> columns;  // key, foreign key and default columns
  std::string referenced_table;      // a foreign key's
  std::vector<std::string> referenced_columns;  // empty when the reference names none
  std::string on_delete = "NO ACTION";
  std::string on_update = "NO ACTION";
  std::string text;  // a CHECK's condition or a DEFAULT's expression, in parentheses
  bool disabled = false;
  bool not_trusted = false;  // the rows may break it: disabled, or enabled without a check
  bool system_named = false;
  bool from_index = false;  // a key ALTER TABLE added as a unique index
  bool clustered = false;   // a PRIMARY KEY or UNIQUE constraint's index is the clustered one
  // Where the constraint stands in the stored definition: [begin, end) of
  // CONSTRAINT name <body> (or of the body when unnamed; of the whole comment
  // when disabled). Zero for a key kept as an index.
  std::size_t begin = 0;
  std::size_t end = 0;
  // Where its not-trusted marker begins; `begin` when it has none.
  std::size_t marked_begin = 0;
};

// Every constraint of the user tables of SQLite schema `schema`, or of the
// one table `table` (a name compared ignoring case) when it is not empty; in
// table order, then as the definition lists them. Throws std::runtime_error
// when SQLite fails.
std::vector<TableConstraint> ReadTableConstraints(sqlite3* db, const std::string& schema,
                                                  const std::string& table = "");

// The name SQL Server shows of the clustered index of `table` (a key's or a
// CREATE CLUSTERED INDEX's) in SQLite schema `schema`; empty when it has none.
std::string ClusteredIndexName(sqlite3* db, const std::string& schema, const std::string& table);


// The text a disabled constraint is kept as, and the constraint clause
// ("CONSTRAINT "n" <body>") and column it holds.
std::string DisabledConstraintComment(const std::string& column, const std::string& clause);
struct DisabledClause {
  std::string column;
  std::string clause;
};
DisabledClause ReadDisabledConstraintComment(std::string_view comment);

// `sql`, a table's definition, with the clause of every disabled constraint
// it keeps replaced by what `rewrite` makes of it: given the column the
// constraint belongs to ("" at table level) and the clause as it reads once
// switched on, the clause to keep instead. What `rewrite` throws passes on.
std::string RewriteDisabledClauses(
    const std::string& sql,
    const std::function<std::string(const std::string& column, const std::string& clause)>& rewrite);

// The id of an unnamed constraint that `key` (its table, kind and text)
// describes; the same key always gives the same id.
std::int64_t UnnamedConstraintId(std::string_view key);

// SQL Server's generated name for an unnamed constraint.
std::string GeneratedConstraintName(std::string_view xtype, const std::string& table,
                                    const std::string& column, std::int64_t id);

}  // namespace sqlengine::exec
