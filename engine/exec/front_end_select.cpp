#include "engine/exec/front_end_select.h"

#include "engine/common/error.h"
#include "engine/exec/exact_storage_form.h"
#include "engine/exec/front_end_catalog.h"
#include "engine/exec/front_end_fallbacks.h"
#include "engine/exec/front_end_refusals.h"
#include "engine/exec/front_end_statement.h"
#include "engine/tsql/bind/binder.h"
#include "engine/tsql/bind/collation_labels.h"
#include "engine/tsql/bind/for_xml_columns.h"
#include "engine/tsql/generate/sqlite_generator.h"
#include "engine/tsql/parse/query_parser.h"

namespace sqlengine::exec {
namespace {

bool Covers(const tsql::Statement& statement) {
  return statement.kind == tsql::StatementKind::kSelect && !statement.tokens.empty() &&
         statement.tokens.front().IsWord("select");
}

}  // namespace

void CheckSelectSyntax(const tsql::Statement& statement) {
  if (!Covers(statement))
    RefuseUnparsed("shape", tsql::parse::NotParsed("not SELECT first"), statement.tokens);
  try {
    tsql::parse::ParseSelect(PrepareFrontEndText(statement).tokens);
  } catch (const tsql::parse::NotParsed& why) {
    RefuseUnparsed("parse", why, statement.tokens);
  }
}

std::optional<tsql::SqliteText> FrontEndSelect(const tsql::Statement& statement, Session& session,
                                               const std::vector<std::string>& assigned,
                                               tsql::generate::Literals literals) {
  if (statement.kind != tsql::StatementKind::kSelect) return std::nullopt;
  if (!Covers(statement))
    RefuseUnparsed("shape", tsql::parse::NotParsed("not SELECT first"), statement.tokens);
  FrontEndText text;
  std::unique_ptr<tsql::parse::Query> query;
  try {
    text = PrepareFrontEndText(statement);
    query = tsql::parse::ParseSelect(text.tokens);
  } catch (const tsql::parse::NotParsed& why) {
    RefuseUnparsed("parse", why, statement.tokens);
  }
  // SELECT INTO is FrontEndSelectInto's, which takes every one it parses.
  if (!query->terms.front()->into.empty())
    RefuseUnparsed("shape", tsql::parse::NotParsed("SELECT INTO"), statement.tokens);
  SessionCatalog catalog(session);
  try {
    tsql::bind::BoundQuery bound = tsql::bind::Bind(*query, catalog, text.with, assigned);
    // A column the client is sent needs a collation; one a variable takes
    // converts to the variable's.
    if (assigned.empty()) tsql::bind::RequireResultCollations(bound);
    tsql::SqliteText generated =
        tsql::generate::GenerateSelect(bound, statement.line, EngineExactForm(), literals);
    generated.reaches = catalog.TakeReaches();
    if (query->for_xml) {
      if (!assigned.empty()) RefuseForXml("ASSIGNMENT", statement.line);
      tsql::bind::ShapeForXml(*query->for_xml, *query, bound);
      generated.for_xml = std::move(query->for_xml);
    }
    return generated;
  } catch (const tsql::bind::NotBound& why) {
    RefuseUnbound("bind", why, statement.tokens, statement.line);
  }
}

}  // namespace sqlengine::exec
