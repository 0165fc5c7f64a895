#pragma once
// The SQLite text of table definitions, made from their syntax trees
// (tsql/table_element_syntax.h) with the CHECK conditions, DEFAULT values
// and computed columns the front end binds (exec/stored_expressions.h).
//
// The stored text keeps the shape the engine has always given a definition,
// which the catalog reads back (exec/table_constraints.h names an unnamed
// constraint after its text): keywords and names as written, one space
// between tokens; an IDENTITY column is SQLite's INTEGER PRIMARY KEY
// AUTOINCREMENT, and in its table a PRIMARY KEY of its own is kept as
// UNIQUE ... ON CONFLICT ABORT (SQLite's default conflict clause, which marks
// it); REFERENCES names the parent alone (it lives in the child's database);
// a character column compares as the server's collation does (COLLATE
// sqlengine_ci, or sqlengine_cs for a _CS or _BIN collation), so its keys and
// unique indexes hold what SQL Server takes for distinct values.

#include <string>
#include <vector>

#include "engine/exec/stored_expressions.h"
#include "engine/tsql/bind/catalog.h"
#include "engine/tsql/name_resolver.h"
#include "engine/tsql/sqlite_text.h"
#include "engine/tsql/statement.h"
#include "engine/tsql/table_element_syntax.h"

namespace sqlengine::exec {

// The SQLite text of one column definition or table constraint of `tokens`.
// `identity_table`: whether the table has an IDENTITY column;
// `column_number`: the column's position among the definition's columns (for
// 2715); `nullable_by_default`: whether a column that does not say NULL or
// NOT NULL (and whose type does not) allows NULLs; `ansi_padding`: SET
// ANSI_PADDING, which a char, varchar, binary or varbinary column made under
// OFF records (exec/ansi_trimmed_columns.h). Throws SqlError: 2715 for
// an unknown type, 1046 / 128 / 170 for an expression the front end cannot
// store.
std::string TableElementSql(const tsql::Tokens& tokens, const tsql::TableElementSyntax& element,
                            bool identity_table, int column_number,
                            const StoredExpressions& expressions, bool nullable_by_default = true,
                            bool ansi_padding = true);

// Whether any column of `elements` is an IDENTITY column.
bool HasIdentityColumn(const std::vector<tsql::TableElementSyntax>& elements);

// The SQLite name of the table `tokens[begin...]` names, schema-qualified
// when it names a database ("db..t", "db.dbo.t"). Throws SqlError 911 for
// an unknown database, SyntaxError for a malformed name.
std::string SqliteTableName(const tsql::Tokens& tokens, std::size_t begin,
                            tsql::NameResolver& resolver);

// The SQLite text of a CREATE TABLE statement. Throws SyntaxError for a
// malformed one and what TableElementSql and StoredExpressions throw.
// `ansi_padding`: the session's SET ANSI_PADDING, which the new columns keep.
tsql::SqliteText TypedCreateTable(const tsql::Statement& statement, tsql::NameResolver& resolver,
                                  tsql::bind::Catalog& catalog, bool ansi_padding = true);

// Columns an ALTER TABLE ADD writes into the table's definition itself,
// which SQLite's ADD COLUMN cannot add (it takes only a default it reads as a
// constant): their SQLite text, to append in order (AppendColumns) before the
// statement's SQL steps, which then give every row its value.
struct AppendedColumns {
  std::string schema;
  std::string table;
  std::vector<std::string> elements;
};

// The SQLite statements of an ALTER TABLE that adds or drops columns, one
// for each column, in order (SQLite adds and drops one at a time); empty
// for another ALTER TABLE. With `appended`, added columns whose DEFAULT is
// no constant (GETDATE(), NEWID() ...) go there, and the statements fill
// them: the default for a NOT NULL column or WITH VALUES, else NULL. Throws
// as TypedCreateTable, 4901 for a NOT NULL column without a DEFAULT, and
// 4902 when the table does not exist.
std::vector<tsql::SqliteText> TypedAlterTable(const tsql::Statement& statement,
                                              tsql::NameResolver& resolver,
                                              tsql::bind::Catalog& catalog,
                                              AppendedColumns* appended = nullptr,
                                              bool ansi_padding = true);

}  // namespace sqlengine::exec
