#pragma once
// Binary comparison as SQL Server does it: values that differ only by
// trailing 0x00 bytes are equal (the shorter is read as padded with zeros).
// The front end compares binary operands through sqlengine_binary_key(value):
// the value without its trailing zero bytes, still a BLOB, NULL for NULL.
// SQLite's own ordering of blobs (bytes, then length) sorts such values
// next to each other, but ORDER BY still sorts by the key, so that a later
// key decides between equal ones. sqlengine_binary_concat(a, b, limit) is
// `+` of binary data.

#include <sqlite3.h>

namespace sqlengine::exec {

// Throws std::runtime_error when SQLite refuses the registration.
void RegisterBinaryComparison(sqlite3* db);

}  // namespace sqlengine::exec
