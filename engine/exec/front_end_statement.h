#pragma once
// What the front end parses of a SELECT, INSERT, UPDATE or DELETE before its
// own tokens: the WITH list in front of it, and the OPTION clause after it
// (MAXRECURSION n is the recursion limit of the list's recursive tables; the
// other hints have no effect here).

#include <vector>

#include "engine/tsql/parse/syntax_tree.h"
#include "engine/tsql/statement.h"

namespace sqlengine::exec {

struct FrontEndText {
  tsql::Tokens tokens;  // the statement's own, without OPTION (...)
  std::vector<tsql::parse::CommonTable> with;
};

// Throws what the query parser throws (NotParsed, SqlError), and SqlError
// 310 for a MAXRECURSION beyond 32767.
FrontEndText PrepareFrontEndText(const tsql::Statement& statement);

}  // namespace sqlengine::exec
