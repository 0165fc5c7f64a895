#include "engine/tsql/definition_text.h"

#include "engine/tsql/lexer.h"
#include "engine/tsql/procedure_definition.h"

namespace sqlengine::tsql {
namespace {

// Whether `text` holds no token, only blanks and comments.
bool OnlyBlanksAndComments(std::string_view text) {
  if (text.find_first_not_of(" \t\r\n") == std::string_view::npos) return true;
  try {
    return Lex(text).front().kind == TokenKind::kEnd;
  } catch (const std::exception&) {
    return false;
  }
}

bool StandsAt(std::string_view source, const Token& token) {
  return token.offset <= source.size() &&
         source.substr(token.offset).starts_with(std::string_view(token.text));
}

}  // namespace

std::string DefinitionText(std::string_view source, const Tokens& statement) {
  size_t count = statement.size();
  while (count > 0 && statement[count - 1].kind == TokenKind::kEnd) --count;
  if (source.empty() || count == 0) return TokensText(statement);
  const Token& first = statement.front();
  const Token& last = statement[count - 1];
  if (!StandsAt(source, first) || !StandsAt(source, last) || last.offset < first.offset)
    return TokensText(statement);
  size_t begin = first.offset;
  size_t end = last.offset + last.text.size();
  if (OnlyBlanksAndComments(source.substr(0, begin))) begin = 0;
  if (OnlyBlanksAndComments(source.substr(end))) end = source.size();
  return std::string(source.substr(begin, end - begin));
}

bool WrittenWithEncryption(std::string_view written) {
  Tokens tokens;
  try {
    tokens = Lex(written);
  } catch (const std::exception&) {
    return false;
  }
  int depth = 0;
  bool options = false;  // after a WITH at the top level
  for (const Token& token : tokens) {
    if (token.IsSymbol("(")) ++depth;
    if (token.IsSymbol(")")) --depth;
    if (depth != 0) continue;
    if (token.IsWord("as")) return false;
    if (token.IsWord("with")) options = true;
    if (options && token.IsWord("encryption")) return true;
  }
  return false;
}

}  // namespace sqlengine::tsql
