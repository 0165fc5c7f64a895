#pragma once
// The syntax tree of a table definition: the column definitions and table
// constraints of CREATE TABLE and ALTER TABLE ADD, and CREATE / DROP INDEX.
// Placement and index-build clauses (ON [PRIMARY], WITH FILLFACTOR, NOT FOR
// REPLICATION ...) are taken out by DropStorageOptions before these read the
// statement. Expressions (CHECK conditions, DEFAULT values, a computed
// column's definition) are kept as token ranges of the statement; the
// front end binds them where the definition is made.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "engine/tsql/dotted_name.h"
#include "engine/tsql/token.h"

namespace sqlengine::tsql {

// [begin, end) of the statement's tokens.
struct TokenRange {
  std::size_t begin = 0;
  std::size_t end = 0;
  bool Empty() const { return begin >= end; }
};

// REFERENCES parent [(columns)] [ON DELETE action] [ON UPDATE action].
struct ReferencesSyntax {
  DottedName table;
  std::vector<std::string> columns;  // empty: the parent's primary key
  std::string on_delete;             // "" | "CASCADE" | "NO ACTION"
  std::string on_update;
};

enum class ConstraintKind { kPrimaryKey, kUnique, kForeignKey, kCheck, kDefault };

// One constraint, at a column or of the table. A column's own NULL / NOT
// NULL is kept on the column, not here.
struct ConstraintSyntax {
  std::size_t begin = 0;  // CONSTRAINT, or the kind's first word
  std::size_t end = 0;    // one past the constraint
  std::string name;       // "" when none is given
  ConstraintKind kind = ConstraintKind::kCheck;
  std::optional<bool> clustered;
  std::vector<std::string> columns;  // a table constraint's key or FOREIGN KEY columns
  std::vector<bool> descending;      // beside a key's columns: DESC
  std::optional<ReferencesSyntax> references;
  // CHECK: the parenthesised condition, parentheses included. DEFAULT: the value.
  TokenRange expression;
  bool with_values = false;  // DEFAULT ... WITH VALUES
};

struct IdentitySyntax {
  std::string seed = "1";  // as written
  std::string increment = "1";
};

struct ColumnSyntax {
  Token name;
  // The type as written; unset for a computed column.
  std::optional<Token> type_name;
  std::vector<std::string> type_arguments;  // "50", "max", "10" and "2"
  std::size_t clauses = 0;                  // the first token after the type
  TokenRange computed;                      // AS <expression>: the expression
  std::optional<bool> nullable;             // as written: NULL / NOT NULL
  std::string collation;
  std::optional<IdentitySyntax> identity;
  bool rowguidcol = false;
  std::vector<ConstraintSyntax> constraints;  // in the order written, DEFAULT included
};

struct TableElementSyntax {
  std::optional<ColumnSyntax> column;
  std::optional<ConstraintSyntax> constraint;  // a table constraint
  TokenRange range;                            // the whole element
};

// Where the element starting at `begin` ends: the first comma outside
// parentheses in [begin, end), else `end`.
std::size_t ElementEnd(const Tokens& tokens, std::size_t begin, std::size_t end);

// The elements of tokens [begin, end), separated by commas at the top level.
// Throws SyntaxError (170 / 156 with the line) for one that is not T-SQL.
std::vector<TableElementSyntax> ParseTableElements(const Tokens& tokens, std::size_t begin,
                                                   std::size_t end);

// CREATE TABLE name ( elements ).
struct CreateTableSyntax {
  DottedName name;
  std::vector<TableElementSyntax> elements;
  std::size_t open = 0;  // the parentheses around the elements
  std::size_t close = 0;
};
CreateTableSyntax ParseCreateTable(const Tokens& statement);

// ALTER TABLE name ADD elements | DROP COLUMN names.
struct AlterTableSyntax {
  DottedName name;
  std::size_t add = 0;  // the ADD word, 0 when the statement drops columns
  std::vector<TableElementSyntax> added;
  std::vector<std::string> dropped_columns;
};
// nullopt for another ALTER TABLE (constraint changes have their own reader).
std::optional<AlterTableSyntax> ParseAlterTable(const Tokens& statement);

// ALTER TABLE name ALTER COLUMN column type [(arguments)] [COLLATE collation]
// [NULL | NOT NULL]: the column's new definition, which names no constraint,
// IDENTITY, ROWGUIDCOL or computed expression.
struct AlterColumnSyntax {
  DottedName name;
  TableElementSyntax element;  // its column is set
};
// nullopt for another ALTER TABLE; throws SyntaxError for a malformed one.
std::optional<AlterColumnSyntax> ParseAlterColumn(const Tokens& statement);

// CREATE [UNIQUE] [CLUSTERED | NONCLUSTERED] INDEX name ON table (column [ASC | DESC], ...)
// [WITH IGNORE_DUP_KEY].
struct IndexColumnSyntax {
  std::string name;
  bool descending = false;
};
struct CreateIndexSyntax {
  bool unique = false;
  bool ignore_dup_key = false;  // WITH IGNORE_DUP_KEY after the columns
  bool clustered = false;
  Token name;
  DottedName table;
  std::vector<IndexColumnSyntax> columns;
};
// nullopt when the statement is no CREATE INDEX; throws SyntaxError for a
// malformed one.
std::optional<CreateIndexSyntax> ParseCreateIndex(const Tokens& statement);

// DROP INDEX table.index [, ...] (also owner.table.index).
struct DroppedIndexSyntax {
  DottedName table;
  std::string index;
};
std::optional<std::vector<DroppedIndexSyntax>> ParseDropIndex(const Tokens& statement);

}  // namespace sqlengine::tsql
