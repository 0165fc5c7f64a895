#pragma once
// Reading the clauses of the file statements (BACKUP, RESTORE, DBCC, CREATE
// DATABASE ... ON): a cursor over a statement's tokens whose reads throw the
// server's syntax error at the first token that does not fit.

#include <optional>
#include <string>
#include <string_view>

#include "engine/tsql/token.h"

namespace sqlengine::exec {

class Session;

class TokenCursor {
 public:
  // `tokens` and `session` must outlive the cursor; the session supplies
  // the values of @variables.
  TokenCursor(const tsql::Tokens& tokens, Session& session, size_t start = 0)
      : tokens_(tokens), session_(session), pos_(start) {}

  bool AtEnd() const { return pos_ >= tokens_.size(); }
  void Skip() { ++pos_; }
  const tsql::Token& Peek() const;
  // True (and moves on) when the next token is that keyword / symbol.
  bool TakeWord(std::string_view word);
  bool TakeSymbol(std::string_view symbol);
  void ExpectWord(std::string_view word);
  void ExpectSymbol(std::string_view symbol);
  void ExpectEnd() const;
  // A name: word, [quoted], 'string' or @variable holding one.
  std::string Name();
  // A text: 'string', N'string' or @variable.
  std::string Text();
  // An integer literal or @variable.
  std::int64_t Integer();
  // Throws the syntax error at the current token.
  [[noreturn]] void Fail() const;

 private:
  std::optional<std::string> VariableText();
  const tsql::Tokens& tokens_;
  Session& session_;
  size_t pos_;
};

}  // namespace sqlengine::exec
