#pragma once
// Which form a database keeps its exact numbers (decimal, numeric, money,
// smallmoney) in, and the form the front end generates them in.

#include <sqlite3.h>

#include <string_view>

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

}  // namespace sqlengine::exec
