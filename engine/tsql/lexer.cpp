#include "engine/tsql/lexer.h"

#include <algorithm>
#include <cctype>

#include "engine/common/error.h"
#include "engine/values/number_text.h"

namespace sqlengine::tsql {

namespace {

// ASCII letters only, as the "C" locale's tolower, which the engine runs in.
constexpr char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

}  // namespace

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] && AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

std::string ToLower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = AsciiLower(c);
  return lower;
}

bool Token::IsWord(std::string_view word) const {
  return kind == TokenKind::kWord && EqualsIgnoreCase(text, word);
}

bool Token::IsAnyWord(std::initializer_list<std::string_view> words) const {
  for (std::string_view word : words) {
    if (IsWord(word)) return true;
  }
  return false;
}

namespace {

thread_local bool quoted_identifiers = true;

// The character classes of the C locale, which the engine never leaves,
// without a call into the C library for every character.
bool IsAsciiDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool IsAsciiSpace(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsNameStart(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '#' || c >= 0x80;
}
bool IsNamePart(unsigned char c) {
  return IsNameStart(c) || IsAsciiDigit(c) || c == '@' || c == '$';
}

constexpr size_t kReservedTokens = size_t{1} << 20;

}  // namespace

TokenReader::TokenReader(std::string_view text, bool client_text)
    : text_(text),
      quoted_names_(client_text ? quoted_identifiers : true),
      follows_set_(client_text) {}

TokenReader::TokenReader(std::string_view text, const Mark& from)
    : text_(text),
      quoted_names_(from.quoted_names),
      follows_set_(from.follows_set),
      set_state_(from.set_state),
      set_names_it_(from.set_names_it),
      pos_(from.pos),
      line_(from.line) {}

Token TokenReader::Next() {
  // One object made in place and returned as it is, on either path.
  const bool at_end = !SkipSpaceAndComments();
  Token token = at_end ? Token{TokenKind::kEnd, {}, {}, line_, text_.size()} : Read();
  if (!at_end && follows_set_) FollowQuotingOption(token);
  return token;
}

void TokenReader::Advance(size_t count) {
  for (size_t i = 0; i < count && pos_ < text_.size(); ++i) {
    if (text_[pos_++] == '\n') ++line_;
  }
}

// False at the end of the text.
bool TokenReader::SkipSpaceAndComments() {
  while (pos_ < text_.size()) {
    unsigned char c = At(pos_);
    if (IsAsciiSpace(c)) {
      Advance(1);
    } else if (c == '-' && At(pos_ + 1) == '-') {
      while (pos_ < text_.size() && text_[pos_] != '\n') Advance(1);
    } else if (c == '/' && At(pos_ + 1) == '*') {
      SkipBlockComment();
    } else {
      return true;
    }
  }
  return false;
}

void TokenReader::SkipBlockComment() {
  int depth = 0;
  while (pos_ < text_.size()) {
    if (At(pos_) == '/' && At(pos_ + 1) == '*') {
      ++depth;
      Advance(2);
    } else if (At(pos_) == '*' && At(pos_ + 1) == '/') {
      Advance(2);
      if (--depth == 0) return;
    } else {
      Advance(1);
    }
  }
  SqlError error = MakeError(113);
  error.message().line = line_;
  throw error;
}

Token TokenReader::Read() {
  Token token;
  token.line = line_;
  token.offset = pos_;
  unsigned char c = At(pos_);
  size_t start = pos_;
  if ((c == 'N' || c == 'n') && At(pos_ + 1) == '\'') {
    Advance(1);
    token.kind = TokenKind::kNationalString;
    token.value = Quoted('\'');
  } else if (c == '\'') {
    token.kind = TokenKind::kString;
    token.value = Quoted('\'');
  } else if (c == '[') {
    token.kind = TokenKind::kQuotedName;
    token.value = Quoted(']');
  } else if (c == '"') {
    token.kind = quoted_names_ ? TokenKind::kQuotedName : TokenKind::kString;
    token.value = Quoted('"');
  } else if (c == '0' && (At(pos_ + 1) == 'x' || At(pos_ + 1) == 'X')) {
    token.kind = TokenKind::kBinary;
    Advance(2);
    while (std::isxdigit(At(pos_))) Advance(1);
    token.value = std::string(text_.substr(start + 2, pos_ - start - 2));
  } else if (IsAsciiDigit(c) || (c == '.' && IsAsciiDigit(At(pos_ + 1)))) {
    token.kind = TokenKind::kNumber;
    LexNumber();
    CheckNumericPrecision(start);
  } else if (size_t sign = MoneySignLength()) {
    // A money constant ($12.50, £100): the text keeps its currency sign, the
    // value is the number.
    token.kind = TokenKind::kNumber;
    Advance(sign);
    LexNumber();
    token.value = std::string(text_.substr(start + sign, pos_ - start - sign));
  } else if (c == '@') {
    token.kind = At(pos_ + 1) == '@' ? TokenKind::kSystemVariable : TokenKind::kVariable;
    Advance(token.kind == TokenKind::kSystemVariable ? 2 : 1);
    while (IsNamePart(At(pos_))) Advance(1);
  } else if (IsNameStart(c)) {
    token.kind = TokenKind::kWord;
    while (IsNamePart(At(pos_))) Advance(1);
  } else {
    token.kind = TokenKind::kSymbol;
    Advance(SymbolLength());
  }
  token.text.assign(text_.data() + start, pos_ - start);
  if (token.value.empty() && token.kind != TokenKind::kString &&
      token.kind != TokenKind::kNationalString && token.kind != TokenKind::kQuotedName &&
      token.kind != TokenKind::kBinary) {
    token.value = token.text;
  }
  return token;
}

std::size_t TokenReader::MoneySignLength() const {
  // Only '$' or the lead byte of a longer character may start a sign.
  if (At(pos_) != '$' && At(pos_) < 0xC0) return 0;
  size_t sign = values::CurrencySignLength(text_.substr(pos_));
  if (sign == 0 || At(pos_) == '\\') return 0;
  unsigned char next = At(pos_ + sign);
  bool number = IsAsciiDigit(next) || (next == '.' && IsAsciiDigit(At(pos_ + sign + 1)));
  return number ? sign : 0;
}

// Reads from the opening quote to the matching close; a doubled close stands for one.
std::string TokenReader::Quoted(char close) {
  int start_line = line_;
  size_t start = pos_;
  Advance(1);
  std::string value;
  while (pos_ < text_.size()) {
    char c = text_[pos_];
    if (c == close) {
      if (At(pos_ + 1) == static_cast<unsigned char>(close)) {
        value.push_back(close);
        Advance(2);
        continue;
      }
      Advance(1);
      return value;
    }
    value.push_back(c);
    Advance(1);
  }
  SqlError error = MakeError(105, {text_.substr(start + 1)});
  error.message().line = start_line;
  throw error;
}

void TokenReader::LexNumber() {
  while (IsAsciiDigit(At(pos_))) Advance(1);
  if (At(pos_) == '.') {
    Advance(1);
    while (IsAsciiDigit(At(pos_))) Advance(1);
  }
  if ((At(pos_) == 'e' || At(pos_) == 'E') &&
      (IsAsciiDigit(At(pos_ + 1)) ||
       ((At(pos_ + 1) == '+' || At(pos_ + 1) == '-') && IsAsciiDigit(At(pos_ + 2))))) {
    Advance(2);
    while (IsAsciiDigit(At(pos_))) Advance(1);
  }
}

// A constant without an exponent is a numeric: more than 38 digits, leading
// zeros of the whole part aside, is no numeric at all (1007).
void TokenReader::CheckNumericPrecision(size_t start) const {
  std::string_view number = text_.substr(start, pos_ - start);
  if (number.find_first_of("eE") != std::string_view::npos) return;
  size_t first = std::min(number.find_first_not_of('0'), number.size());
  size_t digits = number.size() - first - (number.find('.') == std::string_view::npos ? 0 : 1);
  if (digits <= 38) return;
  SqlError error = MakeError(1007, {number});
  error.message().line = line_;
  throw error;
}

size_t TokenReader::SymbolLength() const {
  // <> <= >= != !< !> :: and the compound assignments += -= *= /= %= &= |= ^=
  char first = static_cast<char>(At(pos_));
  char second = static_cast<char>(At(pos_ + 1));
  if (second == '=') {
    return std::string_view("<>!+-*/%&|^").find(first) == std::string_view::npos ? 1 : 2;
  }
  if (first == '<' && second == '>') return 2;
  if (first == '!' && (second == '<' || second == '>')) return 2;
  return first == ':' && second == ':' ? 2 : 1;
}

// SQL Server applies SET QUOTED_IDENTIFIER as it parses: the text after
// the statement reads "x" as the option says, even within the batch. Any
// word after SET (or after a comma in its list) is taken as an option;
// ON or OFF right after an option ends the list.
void TokenReader::FollowQuotingOption(const Token& token) {
  if (set_state_ == SetState::kOption) {
    if (token.kind == TokenKind::kWord) {
      set_names_it_ = set_names_it_ || token.IsWord("quoted_identifier");
      set_state_ = SetState::kAfterOption;
      return;
    }
  } else if (set_state_ == SetState::kAfterOption) {
    if (token.IsSymbol(",")) {
      set_state_ = SetState::kOption;
      return;
    }
    if (token.IsWord("on") || token.IsWord("off")) {
      if (set_names_it_) quoted_names_ = token.IsWord("on");
      set_state_ = SetState::kNone;
      return;
    }
  }
  set_state_ = SetState::kNone;
  if (token.IsWord("set")) {
    set_state_ = SetState::kOption;
    set_names_it_ = false;
  }
}

namespace {

// Every token of `text` up to and with the closing kEnd.
Tokens ReadAll(std::string_view text, bool client_text) {
  Tokens tokens;
  // Room for the tokens a text of this length may hold (an INSERT's VALUES
  // list runs to one per three or four characters), up to a bound: growing
  // the list moves every token again. Room never written costs no memory.
  tokens.reserve(std::min<size_t>(text.size() / 2 + 2, kReservedTokens));
  TokenReader reader(text, client_text);
  do {
    tokens.push_back(reader.Next());
  } while (tokens.back().kind != TokenKind::kEnd);
  return tokens;
}

}  // namespace

Tokens LexDeferred(const DeferredText& stretch) {
  Tokens tokens;
  // Room for a token per two characters and the one read past them: the
  // list lives while its statement runs.
  tokens.reserve((stretch.end - stretch.from.pos) / 2 + 2);
  TokenReader reader(stretch.text, stretch.from);
  // Each token is moved once, into the list; the one past the stretch leaves it again.
  for (;;) {
    tokens.push_back(reader.Next());
    if (tokens.back().kind == TokenKind::kEnd || tokens.back().offset >= stretch.end) break;
  }
  tokens.pop_back();
  return tokens;
}

Tokens Lex(std::string_view batch) { return ReadAll(batch, false); }

Tokens LexClientText(std::string_view batch) { return ReadAll(batch, true); }

bool QuotedIdentifiers() { return quoted_identifiers; }

void SetQuotedIdentifiers(bool on) { quoted_identifiers = on; }

}  // namespace sqlengine::tsql
