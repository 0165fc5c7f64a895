#pragma once
// The collations SQL Server 2000 knows, as ::fn_helpcollations() lists them:
// the Windows collations of each locale (binary, then every combination of
// case, accent, kana and width sensitivity) followed by the SQL collations.
// A COLLATE clause must name one of them (any case); the engine compares
// under a _CS or _BIN one with case, under any other without.

#include <string>
#include <string_view>
#include <vector>

namespace sqlengine::tsql {

struct CollationName {
  std::string name;
  std::string description;
};

// Every known collation in ::fn_helpcollations()'s order. Built once.
const std::vector<CollationName>& KnownCollations();

// Whether `name` is one of them, compared without regard to case.
bool IsKnownCollation(std::string_view name);

}  // namespace sqlengine::tsql
