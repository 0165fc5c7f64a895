#include "engine/exec/front_end_dml.h"

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

// Parses, binds and generates one kind of change; `parse` may throw the
// parser's errors, `bind_and_generate` NotBound.
template <typename Parse, typename BindAndGenerate>
std::optional<tsql::SqliteText> Through(const tsql::Statement& statement, Parse parse,
                                        BindAndGenerate bind_and_generate) {
  decltype(parse(statement.tokens)) tree;
  FrontEndText text;
  try {
    text = PrepareFrontEndText(statement);
    tree = parse(text.tokens);
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
  try {
    return bind_and_generate(*tree, text.with);
  } catch (const tsql::bind::NotBound& why) {
    NoteFallback("bind", why.what(), statement.tokens);
    return std::nullopt;
  }
}

}  // namespace

bool FrontEndParsesChange(const tsql::Statement& statement, std::optional<SqlError>* syntax_error) {
  if (!Covers(statement)) return false;
  try {
    FrontEndText text = PrepareFrontEndText(statement);
    switch (statement.kind) {
      case StatementKind::kInsert:
        tsql::parse::ParseInsert(text.tokens);
        return true;
      case StatementKind::kUpdate:
        tsql::parse::ParseUpdate(text.tokens);
        return true;
      default:
        tsql::parse::ParseDelete(text.tokens);
        return true;
    }
  } catch (const tsql::parse::NotParsed&) {
    return false;
  } catch (const SqlError& error) {
    if (ParserErrorStands(error)) throw;
    if (syntax_error != nullptr) *syntax_error = error;
    return false;
  }
}

std::optional<tsql::SqliteText> FrontEndChange(const tsql::Statement& statement, Session& session) {
  if (!Covers(statement)) return std::nullopt;
  SessionCatalog catalog(session);
  int line = statement.line;
  using With = std::vector<tsql::parse::CommonTable>;
  switch (statement.kind) {
    case StatementKind::kInsert:
      return Through(statement, tsql::parse::ParseInsert,
                     [&](const tsql::parse::InsertStatement& insert, const With& with) {
                       return tsql::generate::GenerateInsert(
                           tsql::bind::BindInsert(insert, catalog, with), line, EngineExactForm());
                     });
    case StatementKind::kUpdate:
      return Through(statement, tsql::parse::ParseUpdate,
                     [&](const tsql::parse::UpdateStatement& update, const With& with) {
                       return tsql::generate::GenerateUpdate(
                           tsql::bind::BindUpdate(update, catalog, with), line, EngineExactForm());
                     });
    default:
      return Through(statement, tsql::parse::ParseDelete,
                     [&](const tsql::parse::DeleteStatement& change, const With& with) {
                       return tsql::generate::GenerateDelete(
                           tsql::bind::BindDelete(change, catalog, with), line, EngineExactForm());
                     });
  }
}

}  // namespace sqlengine::exec
