#include "engine/exec/bulk_insert_statement.h"

#include "engine/tsql/dotted_name.h"
#include "engine/tsql/syntax_error.h"

namespace sqlengine::exec {
namespace {

using tsql::Token;
using tsql::TokenKind;
using tsql::Tokens;

class Cursor {
 public:
  explicit Cursor(const Tokens& tokens) : tokens_(tokens) {}
  const Token& Peek() const { return tokens_[at_]; }
  const Token& Take() {
    const Token& token = tokens_[at_];
    if (token.kind != TokenKind::kEnd) ++at_;
    return token;
  }
  std::size_t Position() const { return at_; }
  void MoveTo(std::size_t at) { at_ = at; }
  [[noreturn]] void Fail() const {
    throw tsql::SyntaxError(tokens_[at_], at_ > 0 ? &tokens_[at_ - 1] : nullptr);
  }
  void Expect(std::string_view symbol) {
    if (!Peek().IsSymbol(symbol)) Fail();
    Take();
  }

 private:
  const Tokens& tokens_;
  std::size_t at_ = 0;
};

// Skips a column's type and attributes up to the ',' or ')' that ends it.
void SkipColumnType(Cursor& in) {
  int depth = 0;
  if (in.Peek().IsSymbol(",") || in.Peek().IsSymbol(")")) in.Fail();
  while (in.Peek().kind != TokenKind::kEnd) {
    if (depth == 0 && (in.Peek().IsSymbol(",") || in.Peek().IsSymbol(")"))) return;
    if (in.Peek().IsSymbol("(")) ++depth;
    if (in.Peek().IsSymbol(")")) --depth;
    in.Take();
  }
  in.Fail();
}

void SkipNumberSetting(Cursor& in) {
  in.Expect("=");
  if (in.Peek().kind != TokenKind::kNumber) in.Fail();
  in.Take();
}

void SkipOrder(Cursor& in) {
  in.Expect("(");
  do {
    if (!in.Peek().IsName()) in.Fail();
    in.Take();
    if (in.Peek().IsAnyWord({"asc", "desc"})) in.Take();
  } while (in.Peek().IsSymbol(",") && (in.Take(), true));
  in.Expect(")");
}

void ReadOptions(Cursor& in, BulkInsertStatement& statement) {
  in.Expect("(");
  do {
    const Token& option = in.Take();
    if (option.IsWord("check_constraints")) {
      statement.check_constraints = true;
    } else if (option.IsWord("fire_triggers")) {
      statement.fire_triggers = true;
    } else if (option.IsWord("keep_nulls")) {
      statement.keep_nulls = true;
    } else if (option.IsAnyWord({"keepidentity", "keep_identity"})) {
      statement.keep_identity = true;
    } else if (option.IsWord("tablock")) {
      statement.table_lock = true;
    } else if (option.IsAnyWord({"rows_per_batch", "kilobytes_per_batch"})) {
      SkipNumberSetting(in);
    } else if (option.IsWord("order")) {
      SkipOrder(in);
    } else {
      in.MoveTo(in.Position() - 1);
      in.Fail();
    }
  } while (in.Peek().IsSymbol(",") && (in.Take(), true));
  in.Expect(")");
}

}  // namespace

bool IsInsertBulk(const Tokens& tokens) {
  return tokens.size() > 2 && tokens[0].IsWord("insert") && tokens[1].IsWord("bulk");
}

BulkInsertStatement ParseInsertBulk(const Tokens& tokens) {
  BulkInsertStatement statement;
  statement.line = tokens.front().line;
  Cursor in(tokens);
  in.MoveTo(2);
  tsql::DottedName name = tsql::ReadDottedName(tokens, 2);
  if (name.parts.empty() || name.parts.size() > 3) in.Fail();
  statement.table = name.parts;
  in.MoveTo(name.end);
  in.Expect("(");
  do {
    if (!in.Peek().IsName()) in.Fail();
    statement.columns.push_back(in.Take().value);
    SkipColumnType(in);
  } while (in.Peek().IsSymbol(",") && (in.Take(), true));
  in.Expect(")");
  if (in.Peek().IsWord("with")) {
    in.Take();
    ReadOptions(in, statement);
  }
  while (in.Peek().IsSymbol(";")) in.Take();
  if (in.Peek().kind != TokenKind::kEnd) in.Fail();
  return statement;
}

}  // namespace sqlengine::exec
