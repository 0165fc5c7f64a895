#include "engine/exec/check_condition.h"

#include "engine/tsql/lexer.h"

namespace sqlengine::exec {

std::string ParenthesisedAfter(std::string_view clause, std::string_view word) {
  tsql::Tokens tokens = tsql::Lex(clause);
  for (size_t i = 0; i + 1 < tokens.size(); ++i) {
    if (!tokens[i].IsWord(word) || !tokens[i + 1].IsSymbol("(")) continue;
    int depth = 0;
    for (size_t k = i + 1; k < tokens.size(); ++k) {
      if (tokens[k].IsSymbol("(")) ++depth;
      if (tokens[k].IsSymbol(")") && --depth == 0) {
        size_t from = tokens[i + 1].offset + 1;
        return std::string(clause.substr(from, tokens[k].offset - from));
      }
    }
  }
  return {};
}

}  // namespace sqlengine::exec
