#pragma once
// ALTER TABLE t [WITH CHECK | NOCHECK] ADD [CONSTRAINT c] <constraint> [, ...] and
// ALTER TABLE t DROP CONSTRAINT c [, ...], mostly without rebuilding the table:
// - PRIMARY KEY and UNIQUE become a unique index named c;
// - CHECK, FOREIGN KEY and DEFAULT ... FOR column are written into the table's
//   stored definition, which changes no stored row, rowid or index.
// Existing rows are checked against an added CHECK or FOREIGN KEY unless the
// statement says WITH NOCHECK. A change applies whole or not at all.

#include <sqlite3.h>

#include <string>
#include <string_view>

#include "engine/tsql/bind/catalog.h"
#include "engine/tsql/name_resolver.h"
#include "engine/tsql/token.h"

namespace sqlengine::exec {

// Whether `alter` (an ALTER TABLE statement's tokens) adds or drops
// constraints, which ChangeConstraint runs.
bool IsConstraintChange(const tsql::Tokens& alter);

// Runs the change. `database` is the current database's name, for messages.
// Throws SqlError: 1505 when existing rows repeat a new key, 547 when they
// break a new CHECK or FOREIGN KEY, 2714 when the name is taken, 3728 when a
// dropped name is no constraint of the table, 4902 for an unknown table,
// 1752 / 1754 / 1781 for a DEFAULT on an unknown or identity column or on one
// that has a default, 1767 / 1769 / 1776 for a foreign key naming no table,
// an unknown column or a referenced key that is not unique. Dropping a PRIMARY
// KEY or UNIQUE constraint that CREATE TABLE declared rebuilds the table
// (table_rebuild.h), inside a transaction too: 3725 while a foreign key
// refers to the key.
// CHECK conditions and DEFAULT values are bound over the table's columns
// through `catalog` (stored_expressions.h).
void ChangeConstraint(sqlite3* db, const tsql::Tokens& alter, tsql::NameResolver& resolver,
                      tsql::bind::Catalog& catalog, std::string_view database);

}  // namespace sqlengine::exec
