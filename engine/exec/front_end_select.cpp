#include "engine/exec/front_end_select.h"

#include "engine/common/error.h"
#include "engine/exec/exact_column_guard.h"
#include "engine/exec/front_end_catalog.h"
#include "engine/exec/front_end_fallbacks.h"
#include "engine/exec/front_end_statement.h"
#include "engine/tsql/bind/binder.h"
#include "engine/tsql/generate/sqlite_generator.h"
#include "engine/tsql/parse/query_parser.h"

namespace sqlengine::exec {
namespace {

bool Covers(const tsql::Statement& statement) {
  return statement.kind == tsql::StatementKind::kSelect && !statement.tokens.empty() &&
         statement.tokens.front().IsWord("select");
}

}  // namespace

bool FrontEndParses(const tsql::Statement& statement, std::optional<SqlError>* syntax_error) {
  if (!Covers(statement)) return false;
  try {
    tsql::parse::ParseSelect(PrepareFrontEndText(statement).tokens);
    return true;
  } catch (const tsql::parse::NotParsed&) {
    return false;
  } catch (const SqlError& error) {
    if (ParserErrorStands(error)) throw;
    if (syntax_error != nullptr) *syntax_error = error;
    return false;
  }
}

std::optional<tsql::SqliteText> FrontEndSelect(const tsql::Statement& statement, Session& session) {
  if (!Covers(statement)) {
    if (statement.kind == tsql::StatementKind::kSelect)
      NoteFallback("shape", "not SELECT first", statement.tokens);
    return std::nullopt;
  }
  FrontEndText text;
  std::unique_ptr<tsql::parse::Query> query;
  try {
    text = PrepareFrontEndText(statement);
    query = tsql::parse::ParseSelect(text.tokens);
  } catch (const tsql::parse::NotParsed& why) {
    NoteFallback("parse", why.what(), statement.tokens);
    return std::nullopt;
  } catch (const SqlError& error) {
    if (ParserErrorStands(error)) throw;
    // The rewriter reports syntax errors as it always has.
    NoteFallback("parse", "syntax error " + std::to_string(error.message().number),
                 statement.tokens);
    return std::nullopt;
  }
  if (!query->terms.front()->into.empty()) {
    // FrontEndSelectInto's; here only when that left it to the rewriter.
    NoteFallback("shape", "SELECT INTO", statement.tokens);
    return std::nullopt;
  }
  SessionCatalog catalog(session);
  try {
    tsql::bind::BoundQuery bound = tsql::bind::Bind(*query, catalog, text.with);
    return tsql::generate::GenerateSelect(bound, statement.line, EngineExactForm());
  } catch (const tsql::bind::NotBound& why) {
    NoteFallback("bind", why.what(), statement.tokens);
    return std::nullopt;
  }
}

}  // namespace sqlengine::exec
