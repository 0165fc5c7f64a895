#include "engine/exec/front_end_condition.h"

#include "engine/common/error.h"
#include "engine/exec/exact_storage_form.h"
#include "engine/exec/front_end_catalog.h"
#include "engine/exec/front_end_refusals.h"
#include "engine/tsql/bind/binder.h"
#include "engine/tsql/generate/sqlite_generator.h"
#include "engine/tsql/parse/query_parser.h"

namespace sqlengine::exec {

std::optional<tsql::SqliteText> FrontEndCondition(const tsql::Tokens& condition, int line,
                                                  Session& session) {
  std::unique_ptr<tsql::parse::Expr> parsed;
  try {
    parsed = tsql::parse::ParseExpression(condition);
  } catch (const tsql::parse::NotParsed& why) {
    RefuseUnparsed("condition parse", why, condition);
  }
  SessionCatalog catalog(session);
  try {
    tsql::SqliteText text = tsql::generate::GenerateCondition(
        *tsql::bind::BindCondition(*parsed, catalog), line, EngineExactForm());
    text.reaches = catalog.TakeReaches();
    return text;
  } catch (const tsql::bind::NotBound& why) {
    RefuseUnbound("condition bind", why, condition, line);
  }
}

}  // namespace sqlengine::exec
