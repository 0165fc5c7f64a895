#pragma once
// IDENTITY(seed, increment) on top of SQLite's AUTOINCREMENT: the table's
// sqlite_sequence entry starts at seed - 1, so the first value is the seed.
// AUTOINCREMENT always steps by 1 and cannot start below 1: an increment
// other than 1 and a seed below 1 are not kept (values go 1, 2, 3 ...).

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/tsql/token.h"

namespace sqlengine::exec {

// For a table just created in `schema` by the CREATE TABLE `definition`.
// Does nothing when the definition has no IDENTITY(seed, increment) with a
// seed above 1. Throws std::runtime_error when SQLite refuses the step.
void ApplyIdentitySeed(sqlite3* db, const std::string& schema, const std::string& table,
                       const tsql::Tokens& definition);

// After an INSERT (its SQLite text) that inserted rows: the identity value
// it assigned, or nullopt when the table it wrote has no identity column.
std::optional<std::int64_t> AssignedIdentity(sqlite3* db, std::string_view insert_sql);

}  // namespace sqlengine::exec
