#include "engine/tsql/sqlite_quoting.h"

namespace sqlengine::tsql {
namespace {

std::string Quote(std::string_view text, char quote) {
  std::string quoted(1, quote);
  for (char c : text) {
    if (c == quote) quoted.push_back(quote);
    quoted.push_back(c);
  }
  quoted.push_back(quote);
  return quoted;
}

}  // namespace

std::string QuoteSqliteName(std::string_view name) { return Quote(name, '"'); }
std::string QuoteSqliteString(std::string_view text) { return Quote(text, '\''); }

}  // namespace sqlengine::tsql
