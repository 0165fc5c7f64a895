#pragma once
// Splits a T-SQL batch into tokens. Comments (-- to end of line and nested
// /* */) and whitespace are dropped.

#include <string_view>

#include "engine/tsql/token.h"

namespace sqlengine::tsql {

// The returned list always ends with a kEnd token. Throws SqlError 105 for an
// unclosed string or quoted name and 113 for an unclosed comment. "x" is a
// quoted name: use Lex for text the engine wrote or keeps (SQLite's schema).
Tokens Lex(std::string_view batch);
// The same for a client's T-SQL (batches, procedure bodies, dynamic SQL),
// under this thread's QUOTED_IDENTIFIER setting: OFF reads "x" as a string.
Tokens LexClientText(std::string_view batch);

// SET QUOTED_IDENTIFIER for LexClientText on this thread: ON by default. A
// session sets it for each request it runs, and again when SET changes it.
bool QuotedIdentifiers();
void SetQuotedIdentifiers(bool on);

// Sets the option for the life of the scope and restores the previous value.
class QuotedIdentifierScope {
 public:
  explicit QuotedIdentifierScope(bool on) : previous_(QuotedIdentifiers()) {
    SetQuotedIdentifiers(on);
  }
  ~QuotedIdentifierScope() { SetQuotedIdentifiers(previous_); }
  QuotedIdentifierScope(const QuotedIdentifierScope&) = delete;
  QuotedIdentifierScope& operator=(const QuotedIdentifierScope&) = delete;

 private:
  bool previous_;
};

}  // namespace sqlengine::tsql
