#include "engine/tsql/join_conditions.h"

#include <vector>

#include "engine/tsql/syntax_error.h"

namespace sqlengine::tsql {
namespace {

struct Level {
  int joins = 0;  // JOINs that need an ON
  int ons = 0;
  size_t due = 0;  // the first clause after a JOIN, where its ON was due; 0 when none
};

// The query part that ends at `end` (one past its last token) is complete.
void CheckLevel(const Level& level, const Tokens& tokens, size_t end) {
  if (level.joins <= level.ons) return;
  if (level.due != 0) end = level.due;
  if (end < tokens.size()) throw SyntaxError(tokens[end], end > 0 ? &tokens[end - 1] : nullptr);
  throw SyntaxError(Token{}, &tokens.back());
}

}  // namespace

void CheckJoinConditions(const Tokens& tokens) {
  std::vector<Level> levels(1);
  for (size_t i = 0; i < tokens.size(); ++i) {
    const Token& token = tokens[i];
    if (token.IsSymbol("(")) {
      levels.emplace_back();
    } else if (token.IsSymbol(")")) {
      CheckLevel(levels.back(), tokens, i);
      if (levels.size() > 1) levels.pop_back();
    } else if (token.IsWord("join")) {
      if (i == 0 || !tokens[i - 1].IsWord("cross")) ++levels.back().joins;
    } else if (token.IsWord("on")) {
      ++levels.back().ons;
    } else if (levels.back().joins > levels.back().ons && levels.back().due == 0 &&
               (token.IsWord("where") || token.IsWord("group") || token.IsWord("order") ||
                token.IsWord("having") || token.IsWord("option"))) {
      levels.back().due = i;
    } else if (token.IsWord("union") || token.IsWord("except") || token.IsWord("intersect")) {
      CheckLevel(levels.back(), tokens, i);
      levels.back() = Level{};
    }
  }
  CheckLevel(levels.back(), tokens, tokens.size());
}

}  // namespace sqlengine::tsql
