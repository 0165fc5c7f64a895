#include "engine/tsql/cursor_statements.h"

#include "engine/common/error.h"
#include "engine/tsql/syntax_error.h"

namespace sqlengine::tsql {
namespace {

// The Transact-SQL options between CURSOR and FOR. STATIC, KEYSET and
// DYNAMIC scroll unless FORWARD_ONLY is written too.
void ReadOptions(const Tokens& tokens, size_t& at, CursorDeclaration& declaration) {
  bool forward_only = false, typed = false;
  for (; at < tokens.size() && !tokens[at].IsWord("for"); ++at) {
    const Token& option = tokens[at];
    forward_only = forward_only || option.IsWord("forward_only");
    typed = typed || option.IsAnyWord({"static", "keyset", "dynamic"});
    if (option.IsWord("local")) {
      declaration.scope = CursorScope::kLocal;
    } else if (option.IsWord("global")) {
      declaration.scope = CursorScope::kGlobal;
    } else if (option.IsWord("forward_only")) {
      declaration.scroll = false;
    } else if (option.IsWord("scroll")) {
      declaration.scroll = true;
    } else if (option.IsWord("static")) {
      declaration.kind = CursorKind::kStatic;
    } else if (option.IsWord("keyset")) {
      declaration.kind = CursorKind::kKeyset;
    } else if (option.IsWord("dynamic")) {
      declaration.kind = CursorKind::kDynamic;
    } else if (option.IsWord("fast_forward")) {
      declaration.kind = CursorKind::kFastForward;
    } else if (option.IsWord("read_only")) {
      declaration.read_only = true;
    } else if (option.IsAnyWord({"scroll_locks", "optimistic", "type_warning"})) {
      // Changes through the cursor always find their row by its values.
    } else {
      SyntaxErrorAt(tokens, at);
    }
  }
  if (typed && !forward_only) declaration.scroll = true;
  if (declaration.kind == CursorKind::kFastForward) declaration.scroll = false;
}

}  // namespace

bool IsCursorDeclaration(const Tokens& tokens) {
  if (tokens.size() < 3 || !tokens[0].IsWord("declare") || !tokens[1].IsName()) return false;
  for (size_t at = 2; at < tokens.size() && at < 5; ++at) {
    if (tokens[at].IsWord("cursor")) return true;
    if (!tokens[at].IsAnyWord({"insensitive", "scroll"})) return false;
  }
  return false;
}

CursorDeclaration ParseCursorDeclaration(const Tokens& tokens, size_t at, int line) {
  CursorDeclaration declaration;
  bool sql92 = false;
  for (; TokenAt(tokens, at).IsAnyWord({"insensitive", "scroll"}); ++at) {
    sql92 = true;
    if (tokens[at].IsWord("insensitive")) {
      declaration.kind = CursorKind::kStatic;
      declaration.read_only = true;
    } else {
      declaration.scroll = true;
    }
  }
  if (!TokenAt(tokens, at).IsWord("cursor")) SyntaxErrorAt(tokens, at);
  ++at;
  if (!sql92) ReadOptions(tokens, at, declaration);
  if (declaration.kind == CursorKind::kStatic || declaration.kind == CursorKind::kFastForward)
    declaration.read_only = true;
  if (!TokenAt(tokens, at).IsWord("for")) SyntaxErrorAt(tokens, at);
  ++at;
  if (!TokenAt(tokens, at).IsWord("select") && !TokenAt(tokens, at).IsSymbol("("))
    SyntaxErrorAt(tokens, at);
  // The query runs to a FOR READ ONLY / FOR UPDATE at depth 0, or to the end.
  size_t end = tokens.size();
  int depth = 0;
  for (size_t k = at; k < tokens.size(); ++k) {
    if (tokens[k].IsSymbol("(")) ++depth;
    if (tokens[k].IsSymbol(")")) --depth;
    if (depth == 0 && tokens[k].IsWord("for") &&
        TokenAt(tokens, k + 1).IsAnyWord({"read", "update"})) {
      end = k;
      break;
    }
  }
  declaration.query.kind = StatementKind::kSelect;
  declaration.query.line = line;
  declaration.query.tokens.assign(tokens.begin() + static_cast<std::ptrdiff_t>(at),
                                  tokens.begin() + static_cast<std::ptrdiff_t>(end));
  RefuseCursorForXml(declaration.query.tokens, line);
  if (end == tokens.size()) return declaration;
  size_t k = end + 1;
  if (tokens[k].IsWord("read")) {
    if (!TokenAt(tokens, k + 1).IsWord("only")) SyntaxErrorAt(tokens, k + 1);
    declaration.read_only = true;
    k += 2;
  } else {
    declaration.for_update = true;
    ++k;
    if (TokenAt(tokens, k).IsWord("of")) {
      ++k;
      while (true) {
        if (!TokenAt(tokens, k).IsName()) SyntaxErrorAt(tokens, k);
        declaration.update_columns.push_back(tokens[k++].value);
        if (!TokenAt(tokens, k).IsSymbol(",")) break;
        ++k;
      }
    }
  }
  if (k < tokens.size()) SyntaxErrorAt(tokens, k);
  return declaration;
}

void RefuseCursorForXml(const Tokens& tokens, int line) {
  int depth = 0;
  for (size_t k = 0; k < tokens.size(); ++k) {
    if (tokens[k].IsSymbol("(")) ++depth;
    if (tokens[k].IsSymbol(")")) --depth;
    if (depth == 0 && tokens[k].IsWord("for") && TokenAt(tokens, k + 1).IsWord("xml")) {
      SqlError error = MakeError(6819, {"CURSOR"});
      error.message().line = line;
      throw error;
    }
  }
}

CursorReference ReadCursorReference(const Tokens& tokens, size_t& at) {
  CursorReference reference;
  if (TokenAt(tokens, at).IsWord("global") && TokenAt(tokens, at + 1).IsName()) {
    reference.global = true;
    ++at;
  }
  const Token& name = TokenAt(tokens, at);
  if (name.kind == TokenKind::kVariable && !reference.global) {
    reference.variable = true;
    reference.name = name.text;
  } else if (name.IsName()) {
    reference.name = name.value;
  } else {
    SyntaxErrorAt(tokens, at);
  }
  ++at;
  return reference;
}

CursorReference ParseCursorStatement(const Tokens& tokens) {
  size_t at = 1;
  CursorReference reference = ReadCursorReference(tokens, at);
  if (at < tokens.size()) SyntaxErrorAt(tokens, at);
  return reference;
}

FetchStatement ParseFetch(const Tokens& tokens) {
  FetchStatement fetch;
  size_t at = 1;
  static constexpr std::pair<std::string_view, FetchDirection> kDirections[] = {
      {"next", FetchDirection::kNext},         {"prior", FetchDirection::kPrior},
      {"first", FetchDirection::kFirst},       {"last", FetchDirection::kLast},
      {"absolute", FetchDirection::kAbsolute}, {"relative", FetchDirection::kRelative}};
  bool directed = false;
  for (const auto& [word, direction] : kDirections) {
    if (!TokenAt(tokens, at).IsWord(word)) continue;
    fetch.direction = direction;
    directed = true;
    ++at;
    break;
  }
  if (fetch.direction == FetchDirection::kAbsolute ||
      fetch.direction == FetchDirection::kRelative) {
    // n or @n; a sign is part of the number.
    if (TokenAt(tokens, at).IsSymbol("-") || TokenAt(tokens, at).IsSymbol("+"))
      fetch.offset.push_back(tokens[at++]);
    const Token& offset = TokenAt(tokens, at);
    if (offset.kind != TokenKind::kNumber && offset.kind != TokenKind::kVariable)
      SyntaxErrorAt(tokens, at);
    fetch.offset.push_back(offset);
    ++at;
  }
  if (TokenAt(tokens, at).IsWord("from")) {
    ++at;
  } else if (directed) {
    SyntaxErrorAt(tokens, at);
  }
  fetch.cursor = ReadCursorReference(tokens, at);
  if (TokenAt(tokens, at).IsWord("into")) {
    ++at;
    while (true) {
      if (TokenAt(tokens, at).kind != TokenKind::kVariable) SyntaxErrorAt(tokens, at);
      fetch.into.push_back(tokens[at++].text);
      if (!TokenAt(tokens, at).IsSymbol(",")) break;
      ++at;
    }
  }
  if (at < tokens.size()) SyntaxErrorAt(tokens, at);
  return fetch;
}

std::optional<size_t> CurrentOfAt(const Tokens& tokens) {
  if (tokens.empty() || !tokens[0].IsAnyWord({"update", "delete"})) return std::nullopt;
  int depth = 0;
  for (size_t k = 0; k + 2 < tokens.size(); ++k) {
    if (tokens[k].IsSymbol("(")) ++depth;
    if (tokens[k].IsSymbol(")")) --depth;
    if (depth == 0 && tokens[k].IsWord("where") && tokens[k + 1].IsWord("current") &&
        tokens[k + 2].IsWord("of"))
      return k;
  }
  return std::nullopt;
}

}  // namespace sqlengine::tsql
