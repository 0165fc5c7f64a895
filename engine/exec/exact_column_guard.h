#pragma once
// Keeps statements the token rewriter compiled away from exact numbers in
// their stored form. The rewriter knows no types: it would add, compare and
// return the raw integers and keys of decimal, numeric, money and smallmoney
// columns as if they were the numbers. Such a statement is refused instead.

#include <sqlite3.h>

#include <string_view>
#include <vector>

#include "engine/exec/statement_authorizer.h"
#include "engine/tsql/generate/sqlite_generator.h"

namespace sqlengine::exec {

// The first data-file format whose exact columns hold the stored form of
// values/exact_storage.h; earlier files hold them as SQLite numbers.
inline constexpr int kFirstExactStorageFormat = 2;

// The form the front end generates exact values in: the stored form once
// the files this engine writes hold it (every older file is upgraded before
// a session reads it).
tsql::generate::ExactForm EngineExactForm();

// Whether the database under SQLite schema `schema` of `db` stores exact
// numbers in their stored form (by its recorded format; the temporary
// tables, "temp", by the format this engine writes).
bool StoresExactForm(sqlite3* db, std::string_view schema);

// Throws SqlError 8180, naming the column, when a column in `touched` (as
// the authorizer noted them while the statement compiled) is a decimal,
// numeric, money or smallmoney column of a database that stores the
// stored form. Runs SQL on `db`: call it after compiling, never inside the
// authorizer.
void RefuseStoredExactColumns(sqlite3* db,
                              const std::vector<StatementAuthorizer::TouchedColumn>& touched);

}  // namespace sqlengine::exec
