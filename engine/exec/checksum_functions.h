#pragma once
// CHECKSUM(expr [, ...]) and BINARY_CHECKSUM(expr [, ...]): an int hash of a
// list of values, for spotting changed rows. CHECKSUM compares as the
// server's case-insensitive collation does ('abc' and 'ABC ' hash alike);
// BINARY_CHECKSUM hashes the bytes as they are. NULL hashes to a value of
// its own. The engine's values, not SQL Server's, so a hash from one server
// is not comparable with the other's. sqlengine_checksum_agg(int) is
// CHECKSUM_AGG: the XOR of its values, NULLs left out, NULL for none.

#include <sqlite3.h>

namespace sqlengine::exec {

// Throws std::runtime_error when SQLite refuses a registration.
void RegisterChecksumFunctions(sqlite3* db);

}  // namespace sqlengine::exec
