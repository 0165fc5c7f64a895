#pragma once
// Tokens of a T-SQL batch. Text is UTF-8; offsets index the batch text.

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace sqlengine::tsql {

enum class TokenKind {
  kWord,            // unquoted identifier or keyword; also #temp and ##global names
  kQuotedName,      // [name] or "name"; value holds the name without quotes
  kString,          // '...'; value holds the unescaped text
  kNationalString,  // N'...'
  kNumber,          // 12, 1.5, 2e3, .5
  kBinary,          // 0x0A1B; value holds the hex digits
  kVariable,        // @name
  kSystemVariable,  // @@name
  kSymbol,          // operators and punctuation: ( ) , . ; = <> <= != !< ...
  kEnd,             // one past the last token
};

struct Token {
  TokenKind kind = TokenKind::kEnd;
  std::string text;   // as written in the batch
  std::string value;  // names and strings unquoted; otherwise equal to text
  int line = 1;       // 1-based line of the token's first character
  std::size_t offset = 0;

  bool IsWord(std::string_view word) const;  // kWord equal to word, ignoring case
  bool IsAnyWord(std::initializer_list<std::string_view> words) const;  // IsWord of any
  bool IsSymbol(std::string_view symbol) const {
    return kind == TokenKind::kSymbol && text == symbol;
  }
  bool IsName() const { return kind == TokenKind::kWord || kind == TokenKind::kQuotedName; }
};

using Tokens = std::vector<Token>;

// The index past a `TOP n | TOP (expr) [PERCENT]` clause starting at `at`;
// `at` itself when no TOP stands there.
inline std::size_t PastTopClause(const Tokens& tokens, std::size_t at) {
  if (at >= tokens.size() || !tokens[at].IsWord("top")) return at;
  ++at;
  int depth = 0;
  do {
    if (at < tokens.size() && tokens[at].IsSymbol("(")) ++depth;
    if (at < tokens.size() && tokens[at].IsSymbol(")")) --depth;
    ++at;
  } while (at < tokens.size() && depth > 0);
  if (at < tokens.size() && tokens[at].IsWord("percent")) ++at;
  return at;
}

// A keyword or name the engine writes into a statement it builds.
inline Token WordToken(std::string_view text, int line) {
  Token token;
  token.kind = TokenKind::kWord;
  token.text = token.value = std::string(text);
  token.line = line;
  return token;
}

// ASCII case-insensitive equality (T-SQL keywords and the default collation of names).
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
std::string ToLower(std::string_view text);

}  // namespace sqlengine::tsql
