#include "engine/exec/front_end_dml.h"

#include "engine/common/error.h"
#include "engine/exec/exact_storage_form.h"
#include "engine/exec/front_end_catalog.h"
#include "engine/exec/front_end_fallbacks.h"
#include "engine/exec/front_end_refusals.h"
#include "engine/exec/front_end_statement.h"
#include "engine/tsql/bind/binder.h"
#include "engine/tsql/generate/sqlite_generator.h"
#include "engine/tsql/generate/update_rows.h"
#include "engine/tsql/parse/query_parser.h"

namespace sqlengine::exec {
namespace {

using tsql::StatementKind;

bool Covers(const tsql::Statement& statement) {
  if (statement.tokens.empty()) return false;
  const tsql::Token& first = statement.tokens.front();
  switch (statement.kind) {
    case StatementKind::kInsert:
      return first.IsWord("insert");
    case StatementKind::kUpdate:
      return first.IsWord("update");
    case StatementKind::kDelete:
      return first.IsWord("delete");
    default:
      return false;
  }
}

// Parses, binds and generates one kind of change; what the front end cannot
// take is refused.
template <typename Parse, typename BindAndGenerate>
std::optional<tsql::SqliteText> Through(const tsql::Statement& statement, Parse parse,
                                        BindAndGenerate bind_and_generate) {
  decltype(parse(statement.tokens)) tree;
  FrontEndText text;
  try {
    text = PrepareFrontEndText(statement);
    tree = parse(text.tokens);
  } catch (const tsql::parse::NotParsed& why) {
    RefuseUnparsed("parse", why, statement.tokens);
  }
  try {
    return bind_and_generate(*tree, text.with);
  } catch (const tsql::bind::NotBound& why) {
    RefuseUnbound("bind", why, statement.tokens, statement.line);
  }
}

}  // namespace

void CheckChangeSyntax(const tsql::Statement& statement) {
  if (!Covers(statement))
    RefuseUnparsed("shape", tsql::parse::NotParsed("not the statement's verb first"),
                   statement.tokens);
  try {
    FrontEndText text = PrepareFrontEndText(statement);
    switch (statement.kind) {
      case StatementKind::kInsert:
        tsql::parse::ParseInsert(text.tokens);
        return;
      case StatementKind::kUpdate:
        tsql::parse::ParseUpdate(text.tokens);
        return;
      default:
        tsql::parse::ParseDelete(text.tokens);
        return;
    }
  } catch (const tsql::parse::NotParsed& why) {
    RefuseUnparsed("parse", why, statement.tokens);
  }
}

std::optional<tsql::SqliteText> FrontEndChange(const tsql::Statement& statement, Session& session,
                                               tsql::generate::Literals literals) {
  if (statement.kind != StatementKind::kInsert && statement.kind != StatementKind::kUpdate &&
      statement.kind != StatementKind::kDelete)
    return std::nullopt;
  if (!Covers(statement))
    RefuseUnparsed("shape", tsql::parse::NotParsed("not the statement's verb first"),
                   statement.tokens);
  SessionCatalog catalog(session);
  int line = statement.line;
  using With = std::vector<tsql::parse::CommonTable>;
  switch (statement.kind) {
    case StatementKind::kInsert:
      return Through(statement, tsql::parse::ParseInsert,
                     [&](const tsql::parse::InsertStatement& insert, const With& with) {
                       tsql::SqliteText generated = tsql::generate::GenerateInsert(
                           tsql::bind::BindInsert(insert, catalog, with), line, EngineExactForm(), literals);
                       generated.reaches = catalog.TakeReaches();
                       return generated;
                     });
    case StatementKind::kUpdate:
      return Through(statement, tsql::parse::ParseUpdate,
                     [&](const tsql::parse::UpdateStatement& update, const With& with) {
                       tsql::SqliteText generated = tsql::generate::GenerateUpdate(
                           tsql::bind::BindUpdate(update, catalog, with), line, EngineExactForm(), literals);
                       generated.reaches = catalog.TakeReaches();
                       return generated;
                     });
    default:
      return Through(statement, tsql::parse::ParseDelete,
                     [&](const tsql::parse::DeleteStatement& change, const With& with) {
                       tsql::SqliteText generated = tsql::generate::GenerateDelete(
                           tsql::bind::BindDelete(change, catalog, with), line, EngineExactForm(), literals);
                       generated.reaches = catalog.TakeReaches();
                       return generated;
                     });
  }
}

std::optional<UpdateRows> FrontEndUpdateRows(const tsql::Statement& statement, Session& session) {
  if (statement.kind != StatementKind::kUpdate || !Covers(statement)) return std::nullopt;
  SessionCatalog catalog(session);
  int line = statement.line;
  std::optional<UpdateRows> rows;
  Through(statement, tsql::parse::ParseUpdate,
          [&](const tsql::parse::UpdateStatement& update,
              const std::vector<tsql::parse::CommonTable>& with) {
            tsql::bind::BoundChange bound = tsql::bind::BindUpdate(update, catalog, with);
            std::vector<std::string> columns;
            for (const tsql::bind::BoundAssignment& item : bound.assignments) {
              if (!item.column.empty()) columns.push_back(item.column);
            }
            rows = UpdateRows{tsql::generate::GenerateUpdateRows(bound, line, EngineExactForm()),
                              std::move(columns)};
            rows->query.reaches = catalog.TakeReaches();
            return std::optional<tsql::SqliteText>();
          });
  return rows;
}

}  // namespace sqlengine::exec
