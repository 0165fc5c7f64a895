#pragma once
// IDENTITY(seed, increment) on top of SQLite's AUTOINCREMENT. With an
// increment of 1 and a seed of at least 1 the table's sqlite_sequence entry
// starts at seed - 1. Otherwise the database's sqlengine_identity table keeps
// the seed, increment and last value, and two triggers on the table move each
// row inserted without a value to the next one, inside the inserting statement.

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/tsql/token.h"

namespace sqlengine::exec {

// For a table just created in `schema` by the CREATE TABLE `definition`.
// Does nothing when the definition has no IDENTITY(seed, increment) or has
// IDENTITY(1, 1). Throws std::runtime_error when SQLite refuses a step.
void ApplyIdentitySeed(sqlite3* db, const std::string& schema, const std::string& table,
                       const tsql::Tokens& definition);

// The seed and increment `schema`.`table` keeps in the database's identity
// table (any IDENTITY but (n, 1) with n >= 1); nullopt for one it does not keep.
struct KeptIdentity {
  long long seed = 1;
  long long increment = 1;
};
std::optional<KeptIdentity> KeptIdentityOf(sqlite3* db, const std::string& schema,
                                           const std::string& table);

// After rows were copied with their identity values into `table` (SELECT
// INTO), whose identity is kept: its next value follows the highest of them
// (the lowest for a negative increment). Throws std::runtime_error when
// SQLite refuses the step.
void ContinueKeptIdentity(sqlite3* db, const std::string& schema, const std::string& table);

// TRUNCATE TABLE: the identity of the emptied `table` starts over, the next
// row taking the seed. Throws std::runtime_error when SQLite refuses a step.
void RestartIdentity(sqlite3* db, const std::string& schema, const std::string& table);

// The declared seed and increment of `schema`.`table`'s identity column,
// whichever way the engine keeps it; nullopt for a table without one.
std::optional<KeptIdentity> DeclaredIdentityOf(sqlite3* db, const std::string& schema,
                                               const std::string& table);

// For a table just dropped from `schema`: forgets its kept identity, if any.
// Throws std::runtime_error when SQLite refuses the step.
void ForgetIdentity(sqlite3* db, const std::string& schema, const std::string& table);

// The names of the triggers that give a new row of `table` its kept
// identity. They must be the table's oldest triggers: SQLite fires a table's
// triggers newest first, and the others look for the row where it was
// inserted, before these move it.
std::vector<std::string> AssigningTriggerNames(const std::string& table);

// Gives each table of the file whose identity the engine assigns the trigger
// that moves its counter past explicit values (files made before it had none).
void AddFollowingTriggers(sqlite3* db);

// After an INSERT (its SQLite text) that inserted rows: the identity value
// it assigned, or nullopt when the table it wrote has no identity column.
std::optional<std::int64_t> AssignedIdentity(sqlite3* db, std::string_view insert_sql);
// The same for the name NameWritten read from that text.
struct WrittenName;
std::optional<std::int64_t> AssignedIdentity(sqlite3* db, const WrittenName& written);

}  // namespace sqlengine::exec
