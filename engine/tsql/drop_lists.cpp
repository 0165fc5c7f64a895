#include "engine/tsql/drop_lists.h"

#include "engine/tsql/syntax_error.h"

namespace sqlengine::tsql {
namespace {

bool DropsListedObjects(StatementKind kind) {
  switch (kind) {
    case StatementKind::kDropTable:
    case StatementKind::kDropOther:
    case StatementKind::kDropProcedure:
    case StatementKind::kDropFunction:
    case StatementKind::kDropTrigger:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::vector<Statement> SplitDropList(const Statement& statement) {
  const Tokens& tokens = statement.tokens;
  if (!DropsListedObjects(statement.kind) || tokens.size() < 3) return {};
  std::size_t end = tokens.size();
  if (tokens[end - 1].kind == TokenKind::kEnd) --end;
  std::vector<std::size_t> commas;
  int depth = 0;
  for (std::size_t i = 2; i < end; ++i) {
    if (tokens[i].IsSymbol("(")) ++depth;
    if (tokens[i].IsSymbol(")")) --depth;
    if (depth == 0 && tokens[i].IsSymbol(",")) commas.push_back(i);
  }
  if (commas.empty()) return {};
  commas.push_back(end);
  std::vector<Statement> parts;
  std::size_t begin = 2;
  for (std::size_t comma : commas) {
    if (comma == begin) SyntaxErrorAt(tokens, comma);
    Statement part;
    part.kind = statement.kind;
    part.line = statement.line;
    part.tokens.assign(tokens.begin(), tokens.begin() + 2);
    part.tokens.insert(part.tokens.end(), tokens.begin() + static_cast<std::ptrdiff_t>(begin),
                       tokens.begin() + static_cast<std::ptrdiff_t>(comma));
    if (end < tokens.size()) part.tokens.push_back(tokens[end]);
    parts.push_back(std::move(part));
    begin = comma + 1;
  }
  return parts;
}

}  // namespace sqlengine::tsql
