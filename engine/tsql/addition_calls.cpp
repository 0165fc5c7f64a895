#include "engine/tsql/addition_calls.h"

#include <optional>

#include "engine/tsql/syntax_error.h"

namespace sqlengine::tsql {
namespace {

bool IsMultiplicative(const Token& token) {
  return token.IsSymbol("*") || token.IsSymbol("/") || token.IsSymbol("%");
}

bool IsSign(const Token& token) {
  return token.IsSymbol("-") || token.IsSymbol("+") || token.IsSymbol("~");
}

// Whether an operand can end with this token, so that a '+' after it is binary.
bool EndsOperand(const Token& token) {
  switch (token.kind) {
    case TokenKind::kWord:
      return !IsReservedKeyword(token.text) || token.IsWord("null") || token.IsWord("end");
    case TokenKind::kQuotedName:
    case TokenKind::kString:
    case TokenKind::kNationalString:
    case TokenKind::kNumber:
    case TokenKind::kBinary:
    case TokenKind::kVariable:
    case TokenKind::kSystemVariable:
      return true;
    case TokenKind::kSymbol:
      return token.IsSymbol(")");
    default:
      return false;
  }
}

bool IsFunctionName(const Token& token) {
  return token.kind == TokenKind::kQuotedName ||
         (token.kind == TokenKind::kWord &&
          (!IsReservedKeyword(token.text) || token.IsWord("left") || token.IsWord("right") ||
           token.IsWord("convert") || token.IsWord("coalesce") || token.IsWord("nullif") ||
           token.IsWord("cast") || token.IsWord("user") || token.IsWord("current_timestamp")));
}

class Grouper {
 public:
  explicit Grouper(const Tokens& tokens) : tokens_(tokens) {}

  // Index one past the operand (a term: factors joined by * / %) starting at `begin`.
  std::optional<size_t> TermEnd(size_t begin) const {
    size_t i = begin;
    while (true) {
      while (i < tokens_.size() && IsSign(tokens_[i])) ++i;
      std::optional<size_t> end = PrimaryEnd(i);
      if (!end) return std::nullopt;
      i = *end;
      if (i < tokens_.size() && IsMultiplicative(tokens_[i])) {
        ++i;
        continue;
      }
      return i;
    }
  }

  // Index one past the factor (signs and a primary) starting at `begin`.
  std::optional<size_t> FactorEnd(size_t begin) const {
    size_t i = begin;
    while (i < tokens_.size() && IsSign(tokens_[i])) ++i;
    return PrimaryEnd(i);
  }

  // Index of the first token of the term ending just before `end`.
  std::optional<size_t> TermBegin(size_t end) const {
    size_t i = end;
    while (true) {
      std::optional<size_t> begin = PrimaryBegin(i);
      if (!begin) return std::nullopt;
      i = *begin;
      // Signs directly before the primary belong to it unless they are binary.
      while (i > 0 && IsSign(tokens_[i - 1]) && (i < 2 || !EndsOperand(tokens_[i - 2]))) --i;
      if (i > 0 && IsMultiplicative(tokens_[i - 1])) {
        --i;
        continue;
      }
      return i;
    }
  }

 private:
  std::optional<size_t> PrimaryEnd(size_t i) const {
    if (i >= tokens_.size()) return std::nullopt;
    const Token& token = tokens_[i];
    if (token.IsSymbol("(")) return Close(i);
    if (token.IsWord("case")) {
      int depth = 0;
      for (size_t k = i; k < tokens_.size(); ++k) {
        if (tokens_[k].IsWord("case")) ++depth;
        if (tokens_[k].IsWord("end") && --depth == 0) return k + 1;
      }
      return std::nullopt;
    }
    if (token.kind == TokenKind::kWord && !IsFunctionName(token)) {
      return token.IsWord("null") ? std::optional<size_t>(i + 1) : std::nullopt;
    }
    if (!EndsOperand(token) && !IsFunctionName(token)) return std::nullopt;
    size_t next = i + 1;
    if (token.IsName()) {
      // A dotted name (db..t.c) or a call.
      while (next < tokens_.size() && tokens_[next].IsSymbol(".")) {
        ++next;
        if (next < tokens_.size() && tokens_[next].IsName()) ++next;
      }
      if (next < tokens_.size() && tokens_[next].IsSymbol("(")) {
        std::optional<size_t> close = Close(next);
        if (!close) return std::nullopt;
        next = *close;
      }
    }
    return next;
  }

  std::optional<size_t> PrimaryBegin(size_t end) const {
    if (end == 0) return std::nullopt;
    size_t last = end - 1;
    const Token& token = tokens_[last];
    if (token.IsSymbol(")")) {
      std::optional<size_t> open = Open(last);
      if (!open) return std::nullopt;
      size_t begin = *open;
      if (begin > 0 && IsFunctionName(tokens_[begin - 1])) begin = NameBegin(begin - 1);
      return begin;
    }
    if (token.IsWord("end")) {
      int depth = 0;
      for (size_t k = last + 1; k-- > 0;) {
        if (tokens_[k].IsWord("end")) ++depth;
        if (tokens_[k].IsWord("case") && --depth == 0) return k;
      }
      return std::nullopt;
    }
    if (!EndsOperand(token)) return std::nullopt;
    return token.IsName() ? NameBegin(last) : last;
  }

  // First token of the dotted name whose last part is at `last`.
  size_t NameBegin(size_t last) const {
    size_t begin = last;
    while (begin > 0 && tokens_[begin - 1].IsSymbol(".")) {
      --begin;
      if (begin > 0 && tokens_[begin - 1].IsName()) --begin;
    }
    return begin;
  }

  std::optional<size_t> Close(size_t open) const {
    int depth = 0;
    for (size_t k = open; k < tokens_.size(); ++k) {
      if (tokens_[k].IsSymbol("(")) ++depth;
      if (tokens_[k].IsSymbol(")") && --depth == 0) return k + 1;
    }
    return std::nullopt;
  }

  std::optional<size_t> Open(size_t close) const {
    int depth = 0;
    for (size_t k = close + 1; k-- > 0;) {
      if (tokens_[k].IsSymbol(")")) ++depth;
      if (tokens_[k].IsSymbol("(") && --depth == 0) return k;
    }
    return std::nullopt;
  }

  const Tokens& tokens_;
};

Token Synthetic(const Token& origin, TokenKind kind, std::string_view text) {
  Token token;
  token.kind = kind;
  token.text = std::string(text);
  token.value = token.text;
  token.line = origin.line;
  token.offset = origin.offset;
  return token;
}

}  // namespace

Tokens AdditionsAsCalls(const Tokens& tokens) {
  Tokens current = tokens;
  size_t from = 1;
  while (true) {
    size_t plus = from;
    while (plus < current.size() &&
           !(current[plus].IsSymbol("+") && EndsOperand(current[plus - 1]))) {
      ++plus;
    }
    if (plus >= current.size()) return current;
    Grouper grouper(current);
    std::optional<size_t> right_end = grouper.TermEnd(plus + 1);
    std::optional<size_t> left_begin = grouper.TermBegin(plus);
    if (!right_end || !left_begin) {
      from = plus + 1;
      continue;
    }
    // The left operand extends over earlier '+' / '-' terms of the same chain
    // (those '+' are calls by now, so only '-' remains to follow).
    size_t begin = *left_begin;
    while (begin >= 2 && current[begin - 1].IsSymbol("-") && EndsOperand(current[begin - 2])) {
      std::optional<size_t> earlier = grouper.TermBegin(begin - 1);
      if (!earlier) break;
      begin = *earlier;
    }
    const Token& origin = current[plus];
    Tokens grouped(current.begin(), current.begin() + static_cast<std::ptrdiff_t>(begin));
    grouped.push_back(Synthetic(origin, TokenKind::kWord, kAdditionFunction));
    grouped.push_back(Synthetic(origin, TokenKind::kSymbol, "("));
    grouped.insert(grouped.end(), current.begin() + static_cast<std::ptrdiff_t>(begin),
                   current.begin() + static_cast<std::ptrdiff_t>(plus));
    grouped.push_back(Synthetic(origin, TokenKind::kSymbol, ","));
    grouped.insert(grouped.end(), current.begin() + static_cast<std::ptrdiff_t>(plus + 1),
                   current.begin() + static_cast<std::ptrdiff_t>(*right_end));
    grouped.push_back(Synthetic(origin, TokenKind::kSymbol, ")"));
    grouped.insert(grouped.end(), current.begin() + static_cast<std::ptrdiff_t>(*right_end),
                   current.end());
    current = std::move(grouped);
    from = 1;
  }
}

Tokens DivisorsChecked(const Tokens& tokens) {
  Tokens current = tokens;
  for (size_t at = 1; at < current.size(); ++at) {
    if (!IsMultiplicative(current[at]) || current[at].IsSymbol("*") ||
        !EndsOperand(current[at - 1])) {
      continue;
    }
    std::optional<size_t> end = Grouper(current).FactorEnd(at + 1);
    if (!end) continue;
    Token origin = current[at];  // a copy: the inserts below move the tokens
    current.insert(current.begin() + static_cast<std::ptrdiff_t>(*end),
                   Synthetic(origin, TokenKind::kSymbol, ")"));
    current.insert(current.begin() + static_cast<std::ptrdiff_t>(at + 1),
                   {Synthetic(origin, TokenKind::kWord, kDivisorFunction),
                    Synthetic(origin, TokenKind::kSymbol, "(")});
  }
  return current;
}

}  // namespace sqlengine::tsql
