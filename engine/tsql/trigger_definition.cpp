#include "engine/tsql/trigger_definition.h"

#include "engine/common/error.h"
#include "engine/tsql/dotted_name.h"
#include "engine/tsql/lexer.h"
#include "engine/tsql/syntax_error.h"

namespace sqlengine::tsql {

TriggerDefinition ParseTriggerDefinition(const Tokens& tokens) {
  TriggerDefinition definition;
  DottedName name = ReadDottedName(tokens, 2);
  if (name.parts.empty() || name.parts.size() > 2) SyntaxErrorAt(tokens, 2);
  definition.name = name.Last();
  size_t i = name.end;
  if (!TokenAt(tokens, i).IsWord("on")) SyntaxErrorAt(tokens, i);
  DottedName table = ReadDottedName(tokens, ++i);
  if (table.parts.empty()) SyntaxErrorAt(tokens, i);
  definition.table = table.Last();
  definition.database = table.Database();
  i = table.end;
  if (TokenAt(tokens, i).IsWord("with") && TokenAt(tokens, i + 1).IsWord("encryption")) {
    definition.encrypted = true;
    i += 2;
  }
  if (TokenAt(tokens, i).IsWord("instead") && TokenAt(tokens, i + 1).IsWord("of")) {
    definition.instead_of = true;
    i += 2;
  } else if (TokenAt(tokens, i).IsAnyWord({"for", "after"})) {
    ++i;
  } else {
    SyntaxErrorAt(tokens, i);
  }
  while (true) {
    const Token& event = TokenAt(tokens, i);
    bool* flag = event.IsWord("insert")   ? &definition.on_insert
                 : event.IsWord("update") ? &definition.on_update
                 : event.IsWord("delete") ? &definition.on_delete
                                          : nullptr;
    if (flag == nullptr) SyntaxErrorAt(tokens, i);
    *flag = true;
    ++i;
    if (!TokenAt(tokens, i).IsSymbol(",")) break;
    ++i;
  }
  if (TokenAt(tokens, i).IsWord("with") && TokenAt(tokens, i + 1).IsWord("append")) i += 2;
  if (TokenAt(tokens, i).IsWord("not") && TokenAt(tokens, i + 1).IsWord("for") &&
      TokenAt(tokens, i + 2).IsWord("replication")) {
    i += 3;
  }
  if (!TokenAt(tokens, i).IsWord("as")) SyntaxErrorAt(tokens, i);
  ++i;
  definition.body.assign(tokens.begin() + static_cast<std::ptrdiff_t>(std::min(i, tokens.size())),
                         tokens.end());
  if (definition.body.empty() || definition.body.back().kind != TokenKind::kEnd) {
    definition.body.emplace_back();
  }
  if (definition.body.size() == 1) throw SyntaxError(definition.body.back(), &tokens[i - 1]);
  return definition;
}

std::vector<std::string> AssignedColumns(const Tokens& update) {
  std::vector<std::string> columns;
  size_t i = 0;
  int depth = 0;
  while (i < update.size() && !(depth == 0 && update[i].IsWord("set"))) {
    if (update[i].IsSymbol("(")) ++depth;
    if (update[i].IsSymbol(")")) --depth;
    ++i;
  }
  bool item_start = true;
  for (++i; i < update.size(); ++i) {
    const Token& token = update[i];
    if (token.IsSymbol("(")) ++depth;
    if (token.IsSymbol(")")) --depth;
    if (depth == 0 && token.IsAnyWord({"from", "where", "option"})) break;
    if (depth == 0 && item_start && token.IsName()) {
      DottedName name = ReadDottedName(update, i);
      if (TokenAt(update, name.end).IsSymbol("=")) columns.push_back(name.Last());
      i = name.end;
      item_start = false;
      continue;
    }
    item_start = depth == 0 && token.IsSymbol(",");
  }
  return columns;
}

Tokens PredicateTokens(bool holds, int line) {
  Tokens tokens = Lex(holds ? "(1 = 1)" : "(1 = 0)");
  while (!tokens.empty() && tokens.back().kind == TokenKind::kEnd) tokens.pop_back();
  for (Token& token : tokens) token.line = line;
  return tokens;
}

Token BinaryToken(const std::string& hex_digits, int line) {
  Token token;
  token.kind = TokenKind::kBinary;
  token.text = "0x" + hex_digits;
  token.value = hex_digits;
  token.line = line;
  return token;
}

}  // namespace sqlengine::tsql
