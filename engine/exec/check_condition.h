#pragma once
// The condition a CHECK constraint's stored clause holds, as SQLite text: what
// checking existing rows runs, whatever text the catalog shows for it.

#include <string>
#include <string_view>

namespace sqlengine::exec {

// The text inside the parentheses that follow the first word `word` ("check")
// of `clause` (stored SQLite text, comments skipped); empty when there are
// none.
std::string ParenthesisedAfter(std::string_view clause, std::string_view word);

}  // namespace sqlengine::exec
