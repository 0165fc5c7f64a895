// libFuzzer target: any bytes through the lexer, the batch parser, the
// readers of table statements (CREATE TABLE, ALTER TABLE, indexes) and the
// front end (query parser, binder, generator) for SELECT, INSERT, UPDATE,
// DELETE, IF / WHILE conditions and the query of a CREATE / ALTER VIEW. Each
// must either succeed or throw SqlError (the front end also NotParsed /
// NotBound); anything else (a crash, a hang, another exception) is a finding.
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
#include "engine/tsql/table_element_syntax.h"

namespace {

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
      case tsql::StatementKind::kCreateOther:
        // CREATE / ALTER VIEW name AS query: the query as a view's is bound.
        for (size_t k = 0; k + 1 < statement.tokens.size(); ++k) {
          if (!statement.tokens[k].IsWord("as")) continue;
          tsql::Tokens query(statement.tokens.begin() + static_cast<std::ptrdiff_t>(k + 1),
                             statement.tokens.end());
          tsql::generate::GenerateViewQuery(
              tsql::bind::Bind(*tsql::parse::ParseSelect(query), catalog, with), 1,
              tsql::generate::ExactForm::kStored);
          break;
        }
        break;
      default:
        break;
    }
  } catch (const sqlengine::SqlError&) {
  } catch (const sqlengine::tsql::parse::NotParsed&) {
  } catch (const sqlengine::tsql::bind::NotBound&) {
  }
}

void ThroughTree(const sqlengine::tsql::Statement& statement) {
  for (const auto& nested : statement.body) ThroughTree(*nested);
  if (statement.else_branch) ThroughTree(*statement.else_branch);
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
    for (const auto& statement : statements) ThroughTree(*statement);
  } catch (const sqlengine::SqlError&) {
  }
  return 0;
}
