#pragma once
// A table's CREATE TABLE text as SQLite keeps it, read as its elements, and
// replacing that text in place for changes that leave every stored row and
// index as it is (adding or removing CHECK, FOREIGN KEY and DEFAULT
// constraints): the table keeps its pages, rowids, indexes and triggers.

#include <sqlite3.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace sqlengine::exec {

struct TableDefinition {
  // One column definition or table constraint: [begin, end) of `sql`, without
  // the separating commas.
  struct Element {
    std::size_t begin = 0;
    std::size_t end = 0;
    std::string column;  // the column's name; empty for a table constraint
  };

  std::string table;  // the name as stored
  std::string sql;
  std::vector<Element> elements;
  std::size_t close = 0;  // offset of the closing parenthesis

  // The column's element, or nullptr; names compare ignoring case.
  const Element* Column(const std::string& name) const;
  // Whether the column's own definition has a DEFAULT clause.
  bool HasDefault(const Element& column) const;
  // Whether the column is the table's IDENTITY column.
  bool IsIdentity(const Element& column) const;
};

// The definition of `table` in SQLite schema `schema`, or nullopt when no
// such table exists. Throws std::runtime_error when SQLite fails.
std::optional<TableDefinition> ReadTableDefinition(sqlite3* db, const std::string& schema,
                                                   const std::string& table);

// A CREATE TABLE text of `table` read as its elements; nullopt when it has
// none.
std::optional<TableDefinition> ParseTableDefinition(const std::string& table,
                                                    const std::string& sql);

// The CREATE text SQLite keeps for `schema`.`table` (any case), unread; empty
// when there is none. Throws std::runtime_error when SQLite fails.
std::string StoredTableSql(sqlite3* db, const std::string& schema, const std::string& table);

// A CREATE TABLE text from its opening parenthesis on: what follows the
// table's name. Throws SqlError 50000 when `sql` has no element list.
std::string DefinitionBody(const std::string& sql);

// The user tables of the connection's main file (not SQLite's, not the
// engine's own sqlengine_ ones), oldest first. Throws std::runtime_error.
std::vector<std::string> UserTables(sqlite3* db);

// The names of the table's columns, in order. Throws std::runtime_error.
std::vector<std::string> ColumnNames(sqlite3* db, const std::string& schema,
                                     const std::string& table);

// Stores `sql` as the definition of `definition.table`. The caller holds a
// savepoint and rolls it back on a throw; `sql` must change no column's
// position, type, key or collation. The text is first compiled as a scratch
// temporary table, so a definition SQLite cannot read is refused (SqlError
// 50000 with SQLite's message) before anything is written.
void ReplaceTableDefinition(sqlite3* db, const std::string& schema,
                            const TableDefinition& definition, const std::string& sql);

// Appends column definitions (SQLite text, in order) to the definition of
// `table`, as SQLite's ADD COLUMN does but whatever their DEFAULT: the rows
// already stored read none of their own for them until written. The caller
// holds a savepoint, as for ReplaceTableDefinition; throws as it does, and
// SqlError 4902 when the table does not exist.
void AppendColumns(sqlite3* db, const std::string& schema, const std::string& table,
                   const std::vector<std::string>& elements);

}  // namespace sqlengine::exec
