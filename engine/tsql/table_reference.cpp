#include "engine/tsql/table_reference.h"

#include <vector>

namespace sqlengine::tsql {

TableReference TableOf(const Statement& statement) {
  const Tokens& tokens = statement.tokens;
  std::vector<std::string> parts;
  for (size_t i = 2; i < tokens.size(); ++i) {
    if (tokens[i].IsName()) {
      parts.push_back(tokens[i].value);
      if (i + 1 >= tokens.size() || !tokens[i + 1].IsSymbol(".")) break;
    } else if (tokens[i].IsSymbol(".")) {
      if (i + 1 < tokens.size() && tokens[i + 1].IsSymbol(".")) parts.emplace_back();
    } else {
      break;
    }
  }
  TableReference table;
  if (!parts.empty()) table.name = parts.back();
  if (parts.size() >= 3) table.database = parts[parts.size() - 3];
  return table;
}

}  // namespace sqlengine::tsql
