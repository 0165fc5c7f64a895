#include "engine/exec/front_end_statement.h"

#include "engine/tsql/parse/query_parser.h"
#include "engine/tsql/recursion_limit.h"

namespace sqlengine::exec {

FrontEndText PrepareFrontEndText(const tsql::Statement& statement) {
  FrontEndText text;
  text.tokens = statement.tokens;
  tsql::QueryHints hints = tsql::TakeQueryHints(text.tokens);
  if (!statement.with.empty()) {
    text.with = tsql::parse::ParseWith(tsql::LimitRecursion(
        statement.with, hints.max_recursion.value_or(tsql::kDefaultMaxRecursion)));
  }
  return text;
}

}  // namespace sqlengine::exec
