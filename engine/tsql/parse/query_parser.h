#pragma once
// Recursive-descent parser of T-SQL SELECT, INSERT, UPDATE and DELETE
// statements from the lexer's tokens to a syntax tree, with T-SQL's operator precedence:
//   ~ and signs; * / %; + - & ^ |; comparisons, BETWEEN, IN, LIKE, IS; NOT; AND; OR.

#include <memory>
#include <optional>
#include <stdexcept>

#include "engine/tsql/parse/syntax_tree.h"
#include "engine/tsql/statement.h"

namespace sqlengine::tsql::parse {

// Thrown for T-SQL that this parser does not build a tree for (SELECT INTO
// in a CTE, FOR XML, COMPUTE, window functions ...). `at` is the token it
// stopped at, when known: the caller reports a syntax error there.
class NotParsed : public std::runtime_error {
 public:
  explicit NotParsed(const std::string& what, std::optional<Token> at = std::nullopt)
      : std::runtime_error(what), at_(std::move(at)) {}
  const std::optional<Token>& at() const { return at_; }

 private:
  std::optional<Token> at_;
};

// Parses a whole SELECT statement (its tokens, without a WITH list in front
// and without a trailing ';'). Throws SqlError 156 / 170 (SyntaxError, with
// the line of the offending token) for a malformed statement, NotParsed for
// one outside what the tree covers.
std::unique_ptr<Query> ParseSelect(const Tokens& tokens);

// Parse INSERT, UPDATE and DELETE statements (their tokens, without a WITH
// list in front and without a trailing ';'); same errors as ParseSelect.
// OUTPUT, TOP, table hints, DEFAULT VALUES and INSERT ... EXECUTE are
// NotParsed.
std::unique_ptr<InsertStatement> ParseInsert(const Tokens& tokens);
std::unique_ptr<UpdateStatement> ParseUpdate(const Tokens& tokens);
std::unique_ptr<DeleteStatement> ParseDelete(const Tokens& tokens);

// The WITH list written in front of a statement, each query parsed as
// ParseSelect does; same errors.
std::vector<CommonTable> ParseWith(const std::vector<CommonTableExpression>& with);

// Parses one expression making up all of `tokens`; same errors.
std::unique_ptr<Expr> ParseExpression(const Tokens& tokens);

}  // namespace sqlengine::tsql::parse
