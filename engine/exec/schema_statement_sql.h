#pragma once
// The SQLite statements of the schema statements that run as SQLite SQL:
// CREATE TABLE, ALTER TABLE adding or dropping columns, CREATE / DROP INDEX,
// DROP TABLE, DROP VIEW and TRUNCATE TABLE, each made from its syntax tree.

#include <sqlite3.h>

#include <string>
#include <vector>

#include "engine/exec/table_definition_sql.h"
#include "engine/tsql/bind/catalog.h"
#include "engine/tsql/sqlite_text.h"
#include "engine/tsql/name_resolver.h"
#include "engine/tsql/statement.h"
#include "engine/tsql/table_element_syntax.h"

namespace sqlengine::exec {

// Whether `statement` is one SchemaStatementSql takes (by its kind and
// leading words; CREATE VIEW is the view front end's).
bool IsSchemaStatement(const tsql::Statement& statement);

// Reads the statement's syntax only; throws SyntaxError (170 / 156) for a
// malformed one. Nothing is looked up.
void CheckSchemaStatementSyntax(const tsql::Statement& statement);

// The SQLite statements that carry out `statement`, to run in order in one
// savepoint. Throws SyntaxError for a malformed statement and SqlError as
// SQL Server refuses it: 1913 for an index name the table has, 3701 for
// DROP INDEX of one it has not, 1763 for a cross-database FOREIGN KEY, and
// what TypedCreateTable throws.
// `appended` and `ansi_padding`: as TypedAlterTable's (exec/table_definition_sql.h).
std::vector<tsql::SqliteText> SchemaStatementSql(const tsql::Statement& statement, sqlite3* db,
                                                 tsql::NameResolver& resolver,
                                                 tsql::bind::Catalog& catalog,
                                                 AppendedColumns* appended = nullptr,
                                                 bool ansi_padding = true);

// Throws 1902 when `index` is declared CLUSTERED and its table already has a
// clustered index of another name.
void RefuseSecondClusteredIndex(sqlite3* db, const std::string& schema,
                                const tsql::CreateIndexSyntax& index);

// The SQLite CREATE INDEX statement of `index`, stored as `stored_name` in
// SQLite schema `schema` (a clustered one marked at its end).
std::string CreateIndexSql(const tsql::CreateIndexSyntax& index, const std::string& schema,
                           const std::string& stored_name);

// The SQLite schema of the table `name` (a temporary one's: "temp").
std::string SchemaOfTable(const tsql::DottedName& name, tsql::NameResolver& resolver);

}  // namespace sqlengine::exec
