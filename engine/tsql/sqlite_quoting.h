#pragma once
// Quoting for the SQLite text the engine writes: identifiers in double
// quotes, strings in single quotes, each with its quote doubled.

#include <string>
#include <string_view>

namespace sqlengine::tsql {

std::string QuoteSqliteName(std::string_view name);
std::string QuoteSqliteString(std::string_view text);

}  // namespace sqlengine::tsql
