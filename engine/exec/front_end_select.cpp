#include "engine/exec/front_end_select.h"

#include "engine/common/error.h"
#include "engine/exec/front_end_catalog.h"
#include "engine/tsql/bind/binder.h"
#include "engine/tsql/generate/sqlite_generator.h"
#include "engine/tsql/parse/query_parser.h"

namespace sqlengine::exec {
namespace {

bool Covers(const tsql::Statement& statement) {
  return statement.kind == tsql::StatementKind::kSelect && statement.with.empty() &&
         !statement.tokens.empty() && statement.tokens.front().IsWord("select");
}

}  // namespace

bool FrontEndParses(const tsql::Statement& statement) {
  if (!Covers(statement)) return false;
  try {
    tsql::parse::ParseSelect(statement.tokens);
    return true;
  } catch (const tsql::parse::NotParsed&) {
    return false;
  } catch (const SqlError&) {
    return false;
  }
}

std::optional<tsql::SqliteText> FrontEndSelect(const tsql::Statement& statement, Session& session) {
  if (!Covers(statement)) return std::nullopt;
  std::unique_ptr<tsql::parse::Query> query;
  try {
    query = tsql::parse::ParseSelect(statement.tokens);
  } catch (const tsql::parse::NotParsed&) {
    return std::nullopt;
  } catch (const SqlError&) {
    // The rewriter reports syntax errors as it always has.
    return std::nullopt;
  }
  if (!query->terms.front()->into.empty()) return std::nullopt;  // FrontEndSelectInto's
  SessionCatalog catalog(session);
  try {
    tsql::bind::BoundQuery bound = tsql::bind::Bind(*query, catalog);
    return tsql::generate::GenerateSelect(bound, statement.line);
  } catch (const tsql::bind::NotBound&) {
    return std::nullopt;
  }
}

}  // namespace sqlengine::exec
