#include "engine/exec/front_end_dml.h"

#include "engine/common/error.h"
#include "engine/exec/front_end_catalog.h"
#include "engine/tsql/bind/binder.h"
#include "engine/tsql/generate/sqlite_generator.h"
#include "engine/tsql/parse/query_parser.h"

namespace sqlengine::exec {
namespace {

using tsql::StatementKind;

bool Covers(const tsql::Statement& statement) {
  if (!statement.with.empty() || statement.tokens.empty()) return false;
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
// parser's errors, `bind` NotBound.
template <typename Parse, typename BindAndGenerate>
std::optional<tsql::SqliteText> Through(const tsql::Statement& statement, Parse parse,
                                        BindAndGenerate bind_and_generate) {
  decltype(parse(statement.tokens)) tree;
  try {
    tree = parse(statement.tokens);
  } catch (const tsql::parse::NotParsed&) {
    return std::nullopt;
  } catch (const SqlError&) {
    // The rewriter reports syntax errors as it always has.
    return std::nullopt;
  }
  try {
    return bind_and_generate(*tree);
  } catch (const tsql::bind::NotBound&) {
    return std::nullopt;
  }
}

}  // namespace

bool FrontEndParsesChange(const tsql::Statement& statement) {
  if (!Covers(statement)) return false;
  try {
    switch (statement.kind) {
      case StatementKind::kInsert:
        tsql::parse::ParseInsert(statement.tokens);
        return true;
      case StatementKind::kUpdate:
        tsql::parse::ParseUpdate(statement.tokens);
        return true;
      default:
        tsql::parse::ParseDelete(statement.tokens);
        return true;
    }
  } catch (const tsql::parse::NotParsed&) {
    return false;
  } catch (const SqlError&) {
    return false;
  }
}

std::optional<tsql::SqliteText> FrontEndChange(const tsql::Statement& statement, Session& session) {
  if (!Covers(statement)) return std::nullopt;
  SessionCatalog catalog(session);
  int line = statement.line;
  switch (statement.kind) {
    case StatementKind::kInsert:
      return Through(
          statement, tsql::parse::ParseInsert, [&](const tsql::parse::InsertStatement& insert) {
            return tsql::generate::GenerateInsert(tsql::bind::BindInsert(insert, catalog), line);
          });
    case StatementKind::kUpdate:
      return Through(
          statement, tsql::parse::ParseUpdate, [&](const tsql::parse::UpdateStatement& update) {
            return tsql::generate::GenerateUpdate(tsql::bind::BindUpdate(update, catalog), line);
          });
    default:
      return Through(
          statement, tsql::parse::ParseDelete, [&](const tsql::parse::DeleteStatement& change) {
            return tsql::generate::GenerateDelete(tsql::bind::BindDelete(change, catalog), line);
          });
  }
}

}  // namespace sqlengine::exec
