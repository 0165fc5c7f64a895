#pragma once
// Names for the constraint a failed INSERT / UPDATE / DELETE ran into, which
// SQLite reports without them: the statement's table, and for a foreign key
// the other table and column of the reference.

#include <sqlite3.h>

#include <string>
#include <string_view>

namespace sqlengine::exec {

// The table an INSERT INTO / UPDATE / DELETE FROM in SQLite SQL writes to
// (its last name part, unquoted; empty when the text is none of them), and
// the schema its name gives ("main", an attached database's alias,
// unquoted; empty when it gives none).
struct WrittenName {
  std::string schema;
  std::string table;
};
WrittenName NameWritten(std::string_view sql);
std::string WrittenTable(std::string_view sql);
std::string WrittenSchema(std::string_view sql);

// The first key the rows of `table` (quoted for SQLite) repeat in
// `column_list` (quoted, comma-separated), as SQL Server shows it ("a, 1");
// empty when every key is unique.
std::string RepeatedKey(sqlite3* db, const std::string& table, const std::string& column_list);

// For a CREATE UNIQUE INDEX in SQLite SQL that SQLite refused with "UNIQUE
// constraint failed: `columns`": the first key the rows repeat. Empty for
// any other statement.
std::string RepeatedIndexKey(sqlite3* db, std::string_view sql, std::string_view columns);

// ALTER TABLE ADD PRIMARY KEY / UNIQUE keeps its key as a unique index whose
// stored text ends in one of these, which tells it from a CREATE UNIQUE INDEX.
inline constexpr std::string_view kPrimaryKeyMarker = "/* PRIMARY KEY */";
inline constexpr std::string_view kUniqueKeyMarker = "/* UNIQUE */";

struct UniqueKey {
  std::string index;       // empty when no unique index has the columns
  std::string constraint;  // "PRIMARY KEY" / "UNIQUE KEY" for a key; empty for an index
};

// For "UNIQUE constraint failed: t.a, t.b": the unique index (made by CREATE
// UNIQUE INDEX or ALTER TABLE ADD) on exactly those columns of t. A key of
// CREATE TABLE's own is no index of this kind, and gives an empty result.
// `schema_first`, when given: the schema written, looked in before the
// others (so also below).
UniqueKey UniqueKeyOf(sqlite3* db, std::string_view columns, const std::string& schema_first = {});

struct ForeignKeyConflict {
  std::string kind;        // "FOREIGN KEY" for a row that refers, "REFERENCE" for one referred
                           // to, "SAME TABLE REFERENCE" for a table that refers to itself
  std::string constraint;  // its name, declared or generated
  std::string table;       // where the conflict is: the referred table, or the referring one
  std::string column;
};

// The PRIMARY KEY or UNIQUE constraint a table's own definition declares on
// exactly the columns of "UNIQUE constraint failed: t.a, t.b"; empty fields
// when none does.
UniqueKey DeclaredKeyOf(sqlite3* db, std::string_view columns,
                        const std::string& schema_first = {});

struct CheckConflict {
  std::string level;   // "COLUMN" or "TABLE"
  std::string name;    // as declared or generated; `reported` when no constraint matches
  std::string column;  // a column-level constraint's column
};

// The CHECK constraint of `table` that SQLite reported as `reported` (its
// name, or its condition when it has none).
CheckConflict FindCheckConflict(sqlite3* db, const std::string& table, std::string_view reported,
                                const std::string& schema = {});

// The foreign key `table` (written by `verb`) most likely broke: for DELETE a
// key that refers to it, otherwise one of its own. Empty fields when none is found.
// `schema`: the one the statement wrote ("" for main).
ForeignKeyConflict FindForeignKeyConflict(sqlite3* db, const std::string& table,
                                          std::string_view verb, const std::string& schema = {});

}  // namespace sqlengine::exec
