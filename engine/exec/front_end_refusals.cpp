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

void RefuseUnbound(std::string_view stage, const tsql::bind::NotBound& why,
                   const tsql::Tokens& tokens, int line) {
  NoteFallback(std::string("refused ") + std::string(stage), why.what(), tokens);
  SqlError error = MakeError(8180);
  error.message().text += " This engine cannot run it: " + std::string(why.what()) + ".";
  error.message().line = line;
  throw error;
}

}  // namespace sqlengine::exec
