#pragma once
// Moving the character columns of tables made before format 3 from SQLite's
// NOCASE and BINARY collations to the engine's sqlengine_ci and sqlengine_cs
// (exec/text_comparison.h), so that their keys and unique indexes hold values
// apart exactly when the server's collation does. Every index of a moved
// table is built again in the new order.

#include <sqlite3.h>

#include <optional>
#include <string>
#include <vector>

namespace sqlengine::exec {

// Whether a character column of `table` (in SQLite schema `schema`) is still
// declared COLLATE NOCASE or COLLATE BINARY.
bool HasFormerCollations(sqlite3* db, const std::string& schema, const std::string& table);

// Moves the columns of `table` and rebuilds its indexes, in a savepoint of
// its own. nullopt when done or nothing was to move; when rows of the table
// are equal under the new collations in a key or unique index, the table is
// left exactly as it was and the answer says which (SQLite's message).
// Throws std::runtime_error for any other failure.
std::optional<std::string> MoveToEngineCollations(sqlite3* db, const std::string& schema,
                                                  const std::string& table);

// The upgrade to format 3: every user table of the file moved, and the
// front end's views and table expressions generated again for the new
// collations. A table whose
// rows would break a key under the new collations keeps its former ones;
// one line per such table is added to `kept` (for the engine's log and the
// client).
void DeclareCharacterColumnsInEngineCollations(sqlite3* db, std::vector<std::string>& kept);

}  // namespace sqlengine::exec
