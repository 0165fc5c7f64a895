#pragma once
// Character comparison as the server's default collation does it, for the
// SQL the front end generates: the collation sqlengine_ci (ASCII letters
// without case, trailing spaces ignored) and sqlengine_like(value, pattern
// [, escape]), T-SQL's LIKE with % _ [abc] [a-z] [^...] and ESCAPE.

#include <sqlite3.h>

#include <optional>
#include <string_view>

namespace sqlengine::exec {

// -1, 0 or 1 as the collation sqlengine_ci orders `a` and `b`.
int CompareIgnoringCase(std::string_view a, std::string_view b);

// Whether `value` matches the T-SQL LIKE `pattern`, case-insensitively.
// `escape` makes the next pattern character literal.
bool LikeMatches(std::string_view value, std::string_view pattern,
                 std::optional<char> escape = std::nullopt);

// Throws std::runtime_error when SQLite refuses a registration.
void RegisterTextComparison(sqlite3* db);

}  // namespace sqlengine::exec
