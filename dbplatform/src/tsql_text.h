#pragma once
// The one quoting function for identifiers and the one literal function for
// texts in every T-SQL statement this library generates.

#include <string>
#include <string_view>

namespace dbplatform {

// [name], with "]" doubled: "a]b" -> "[a]]b]".
std::string QuoteIdentifier(std::string_view name);

// N'text', with "'" doubled: "O'Neil" -> "N'O''Neil'".
std::string QuoteLiteral(std::string_view text);

}  // namespace dbplatform
