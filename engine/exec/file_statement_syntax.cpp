#include "engine/exec/file_statement_syntax.h"

#include "engine/common/error.h"
#include "engine/exec/session.h"
#include "engine/exec/value_conversion.h"
#include "engine/tsql/syntax_error.h"

namespace sqlengine::exec {

using tsql::TokenKind;

const tsql::Token& TokenCursor::Peek() const {
  static const tsql::Token kEnd;
  return AtEnd() ? kEnd : tokens_[pos_];
}

void TokenCursor::Fail() const {
  if (AtEnd()) throw tsql::SyntaxError(Peek(), tokens_.empty() ? nullptr : &tokens_.back());
  throw tsql::SyntaxError(tokens_[pos_]);
}

bool TokenCursor::TakeWord(std::string_view word) {
  if (!Peek().IsWord(word)) return false;
  ++pos_;
  return true;
}

bool TokenCursor::TakeSymbol(std::string_view symbol) {
  if (!Peek().IsSymbol(symbol)) return false;
  ++pos_;
  return true;
}

void TokenCursor::ExpectWord(std::string_view word) {
  if (!TakeWord(word)) Fail();
}

void TokenCursor::ExpectSymbol(std::string_view symbol) {
  if (!TakeSymbol(symbol)) Fail();
}

void TokenCursor::ExpectEnd() const {
  if (!AtEnd()) Fail();
}

std::optional<std::string> TokenCursor::VariableText() {
  if (Peek().kind != TokenKind::kVariable) return std::nullopt;
  auto found = session_.Variables().find(tsql::ToLower(Peek().text));
  if (found == session_.Variables().end()) throw MakeError(137, {Peek().text});
  ++pos_;
  return ValueText(found->second.value);
}

std::string TokenCursor::Name() {
  if (std::optional<std::string> value = VariableText()) return *value;
  const tsql::Token& token = Peek();
  if (!token.IsName() && token.kind != TokenKind::kString &&
      token.kind != TokenKind::kNationalString)
    Fail();
  ++pos_;
  return token.value;
}

std::string TokenCursor::Text() {
  if (std::optional<std::string> value = VariableText()) return *value;
  const tsql::Token& token = Peek();
  if (token.kind != TokenKind::kString && token.kind != TokenKind::kNationalString) Fail();
  ++pos_;
  return token.value;
}

std::int64_t TokenCursor::Integer() {
  if (std::optional<std::string> value = VariableText()) {
    try {
      return std::stoll(*value);
    } catch (const std::exception&) {
      throw MakeError(245, {*value, "int"});
    }
  }
  bool negative = TakeSymbol("-");
  const tsql::Token& number = Peek();
  if (number.kind != TokenKind::kNumber ||
      number.text.find_first_not_of("0123456789") != std::string::npos) {
    Fail();
  }
  ++pos_;
  std::int64_t parsed = std::stoll(number.text);
  return negative ? -parsed : parsed;
}

}  // namespace sqlengine::exec
