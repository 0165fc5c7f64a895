#pragma once
// Splits a T-SQL batch into tokens. Comments (-- to end of line and nested
// /* */) and whitespace are dropped.

#include <cstddef>
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

// Reads a text one token at a time, as Lex (or, made with `client_text`,
// LexClientText) would list them: the same tokens, the same errors at the
// same point. Lets a reader keep only the tokens it still needs rather than
// the whole text's. Refers to `text`, which must outlive it.
class TokenReader {
  enum class SetState : unsigned char { kNone, kOption, kAfterOption };

 public:
  // Where a reader stands between two tokens: all it needs to go on from
  // there as it would have.
  struct Mark {
    std::size_t pos = 0;
    int line = 1;
    bool quoted_names = true;
    bool follows_set = false;
    SetState set_state = SetState::kNone;
    bool set_names_it = false;
  };

  TokenReader(std::string_view text, bool client_text);
  // Reads `text` on from where another reader of it stood.
  TokenReader(std::string_view text, const Mark& from);
  // The next token; kEnd at the end of the text, and again on every later call.
  Token Next();
  Mark Here() const {
    return {pos_, line_, quoted_names_, follows_set_, set_state_, set_names_it_};
  }

 private:

  unsigned char At(std::size_t i) const { return i < text_.size() ? text_[i] : '\0'; }
  void Advance(std::size_t count);
  bool SkipSpaceAndComments();
  void SkipBlockComment();
  Token Read();
  std::string Quoted(char close);
  void LexNumber();
  void CheckNumericPrecision(std::size_t start) const;
  std::size_t SymbolLength() const;
  // The length of the currency sign a money constant starts with here (a
  // digit, or a point and a digit, after it); 0 when none does.
  std::size_t MoneySignLength() const;
  void FollowQuotingOption(const Token& token);

  std::string_view text_;
  bool quoted_names_;  // "x" is a name, not a string
  bool follows_set_;   // SET QUOTED_IDENTIFIER switches quoted_names_
  // Where the tokens read so far stand in `SET option [, option ...] ON|OFF`.
  SetState set_state_ = SetState::kNone;
  bool set_names_it_ = false;  // QUOTED_IDENTIFIER is among the options
  std::size_t pos_ = 0;
  int line_ = 1;
};

// A stretch of a text to be lexed later, exactly as a reader passing over
// it read it then: from a mark up to the token at `end` (an offset).
struct DeferredText {
  std::string_view text;  // the whole text; must outlive this
  TokenReader::Mark from;
  std::size_t end = 0;
};
Tokens LexDeferred(const DeferredText& stretch);

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
