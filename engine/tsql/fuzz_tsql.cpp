// libFuzzer target: any bytes through the lexer, the batch parser, the
// rewriter, the reader of ALTER TABLE constraint changes, and the front end
// (query parser, binder, generator) for SELECT, INSERT, UPDATE and DELETE. Each must either succeed
// or throw SqlError (the front end also NotParsed / NotBound); anything else (a crash, a hang,
// another exception) is a finding.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <utility>
#include <string>
#include <string_view>

#include "engine/common/error.h"
#include "engine/tsql/bind/binder.h"
#include "engine/tsql/constraint_change_syntax.h"
#include "engine/tsql/generate/sqlite_generator.h"
#include "engine/tsql/lexer.h"
#include "engine/tsql/parse/query_parser.h"
#include "engine/tsql/parser.h"
#include "engine/tsql/rewriter.h"
#include "engine/tsql/table_element_syntax.h"

namespace {

// Every database resolves to a schema of its own name; sysobjects is the one catalog view.
class FuzzResolver : public sqlengine::tsql::NameResolver {
 public:
  std::string SchemaFor(std::string_view database) override { return std::string(database); }
  std::optional<std::string> CatalogView(std::string_view, std::string_view view) override {
    if (view != "sysobjects") return std::nullopt;
    return std::string("(SELECT 1)");
  }
};

// One table t (i int, v varchar(10), d datetime, m decimal(10,2)) and one variable @v int.
class FuzzCatalog : public sqlengine::tsql::bind::Catalog {
 public:
  std::optional<sqlengine::tsql::bind::TableShape> FindTable(
      const std::vector<std::string>& name) override {
    if (!sqlengine::tsql::EqualsIgnoreCase(name.back(), "t")) return std::nullopt;
    using sqlengine::ColumnType;
    using sqlengine::SqlType;
    sqlengine::tsql::bind::TableShape shape{"\"main\".\"t\"", "t", {}, {}};
    ColumnType text{SqlType::kVarChar};
    text.length = 10;
    ColumnType money{SqlType::kDecimal};
    money.precision = 10;
    money.scale = 2;
    shape.columns = {{"i", ColumnType{SqlType::kInt}},
                     {"v", text},
                     {"d", ColumnType{SqlType::kDateTime}},
                     {"m", money}};
    return shape;
  }
  bool ObjectExists(const std::vector<std::string>& name) override {
    return sqlengine::tsql::EqualsIgnoreCase(name.back(), "t");
  }
  std::optional<sqlengine::ColumnType> VariableType(std::string_view name) override {
    if (name != "@v") return std::nullopt;
    return sqlengine::ColumnType{sqlengine::SqlType::kInt};
  }
};

void ThroughFrontEnd(const sqlengine::tsql::Statement& statement) {
  namespace tsql = sqlengine::tsql;
  FuzzCatalog catalog;
  try {
    if (!statement.condition.empty()) {
      tsql::generate::GenerateCondition(
          *tsql::bind::BindCondition(*tsql::parse::ParseExpression(statement.condition), catalog),
          1);
    }
    std::vector<tsql::parse::CommonTable> with = tsql::parse::ParseWith(statement.with);
    switch (statement.kind) {
      case tsql::StatementKind::kSelect:
        tsql::generate::GenerateSelect(
            tsql::bind::Bind(*tsql::parse::ParseSelect(statement.tokens), catalog, with), 1);
        break;
      case tsql::StatementKind::kInsert:
        tsql::generate::GenerateInsert(
            tsql::bind::BindInsert(*tsql::parse::ParseInsert(statement.tokens), catalog, with), 1);
        break;
      case tsql::StatementKind::kUpdate:
        tsql::generate::GenerateUpdate(
            tsql::bind::BindUpdate(*tsql::parse::ParseUpdate(statement.tokens), catalog, with), 1);
        break;
      case tsql::StatementKind::kDelete:
        tsql::generate::GenerateDelete(
            tsql::bind::BindDelete(*tsql::parse::ParseDelete(statement.tokens), catalog, with), 1);
        break;
      default:
        break;
    }
  } catch (const sqlengine::SqlError&) {
  } catch (const sqlengine::tsql::parse::NotParsed&) {
  } catch (const sqlengine::tsql::bind::NotBound&) {
  }
}

void RewriteTree(const sqlengine::tsql::Statement& statement, FuzzResolver& resolver) {
  for (const auto& nested : statement.body) RewriteTree(*nested, resolver);
  if (statement.else_branch) RewriteTree(*statement.else_branch, resolver);
  ThroughFrontEnd(statement);
  try {
    switch (statement.kind) {
      case sqlengine::tsql::StatementKind::kAlterTable:
        if (!sqlengine::tsql::ReadConstraintChange(statement.tokens) &&
            !sqlengine::tsql::ParseAlterColumn(statement.tokens))
          sqlengine::tsql::ParseAlterTable(statement.tokens);
        break;
      case sqlengine::tsql::StatementKind::kCreateTable:
        sqlengine::tsql::ParseCreateTable(statement.tokens);
        break;
      case sqlengine::tsql::StatementKind::kCreateOther:
        sqlengine::tsql::ParseCreateIndex(statement.tokens);
        break;
      case sqlengine::tsql::StatementKind::kDropOther:
        sqlengine::tsql::ParseDropIndex(statement.tokens);
        break;
      default:
        break;
    }
    if (!statement.condition.empty())
      sqlengine::tsql::RewriteCondition(statement.condition, resolver);
    sqlengine::tsql::RewriteStatement(statement, resolver);
  } catch (const sqlengine::SqlError&) {
  }
}

}  // namespace

// The batch read as the parser goes, and read whole first: the number of
// statements, or the error (number and line) it fails with.
std::pair<int, int> ParseOutcome(std::string_view batch, bool as_it_goes) {
  try {
    sqlengine::tsql::StatementList statements =
        as_it_goes ? sqlengine::tsql::ParseBatch(batch)
                   : sqlengine::tsql::ParseBatch(sqlengine::tsql::LexClientText(batch));
    return {0, static_cast<int>(statements.size())};
  } catch (const sqlengine::SqlError& error) {
    return {error.message().number, error.message().line};
  }
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view batch(reinterpret_cast<const char*>(data), size);
  // A finding: the two ways of reading a batch disagree.
  if (ParseOutcome(batch, true) != ParseOutcome(batch, false)) std::abort();
  try {
    sqlengine::tsql::Tokens tokens = sqlengine::tsql::Lex(batch);
    sqlengine::tsql::StatementList statements = sqlengine::tsql::ParseBatch(tokens);
    FuzzResolver resolver;
    for (const auto& statement : statements) RewriteTree(*statement, resolver);
  } catch (const sqlengine::SqlError&) {
  }
  return 0;
}
