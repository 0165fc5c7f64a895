#pragma once
// SQL Server's order of uniqueidentifiers, as the SQLite collation
// sqlengine_guid over their text (XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX).
// SQL Server compares the 16 bytes by the dash-separated groups from the
// last to the first. The last two groups count in the order they are
// written; the first three were stored low byte first, so their bytes
// count from the right: FFEEDDCC-BBAA-9988-6677-001122334455 sorts as the
// number 00112233445566778899AABBCCDDEEFF. Case does not matter; a text
// that is no GUID sorts as text, case-insensitively, after every GUID.

#include <sqlite3.h>

#include <array>
#include <optional>
#include <string_view>

namespace sqlengine::exec {

// The 16 bytes of `text` in the order SQL Server weighs them, most
// significant first; nullopt when `text` is no GUID.
std::optional<std::array<unsigned char, 16>> GuidSortKey(std::string_view text);

// <0, 0 or >0 as SQL Server orders the two uniqueidentifiers.
int CompareGuids(std::string_view left, std::string_view right);

// Throws std::runtime_error when SQLite refuses the collation.
void RegisterGuidOrder(sqlite3* db);

}  // namespace sqlengine::exec
