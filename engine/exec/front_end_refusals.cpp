#include "engine/exec/front_end_refusals.h"

#include <string>

#include "engine/common/error.h"
#include "engine/exec/front_end_fallbacks.h"
#include "engine/tsql/syntax_error.h"

namespace sqlengine::exec {

void RefuseUnparsed(std::string_view stage, const tsql::parse::NotParsed& why,
                    const tsql::Tokens& tokens) {
  NoteFallback(std::string("refused ") + std::string(stage), why.what(), tokens);
  if (why.at()) throw tsql::SyntaxError(*why.at());
  throw tsql::SyntaxError(tsql::TokenAt(tokens, 0));
}

void RefuseInOtherDatabase(const tsql::Tokens& tokens, int line) {
  std::string what = tokens.empty() ? std::string("statement") : tokens.front().text;
  if (tokens.size() > 1 && tokens[1].kind == tsql::TokenKind::kWord)
    what += " " + tokens[1].text;
  NoteFallback("refused in another database", what, tokens);
  SqlError error = MakeError(8180);
  error.message().text += " This engine cannot run " + what +
                          " in another database than the session's (in a trigger of a table"
                          " there, or a procedure there called inside a transaction).";
  error.message().line = line;
  throw error;
}

void RefuseUnbound(std::string_view stage, const tsql::bind::NotBound& why,
                   const tsql::Tokens& tokens, int line) {
  NoteFallback(std::string("refused ") + std::string(stage), why.what(), tokens);
  SqlError error = MakeError(8180);
  error.message().text += " This engine cannot run it: " + std::string(why.what()) + ".";
  error.message().line = line;
  throw error;
}

void RefuseForXml(std::string_view statement, int line) {
  SqlError error = MakeError(6819, {statement});
  error.message().line = line;
  throw error;
}

}  // namespace sqlengine::exec
