// libFuzzer target: any bytes through the lexer, the batch parser, the
// rewriter and the reader of ALTER TABLE constraint changes. Each must either succeed or throw SqlError; anything else (a
// crash, a hang, another exception) is a finding.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/common/error.h"
#include "engine/tsql/constraint_change_syntax.h"
#include "engine/tsql/lexer.h"
#include "engine/tsql/parser.h"
#include "engine/tsql/rewriter.h"

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

void RewriteTree(const sqlengine::tsql::Statement& statement, FuzzResolver& resolver) {
  for (const auto& nested : statement.body) RewriteTree(*nested, resolver);
  if (statement.else_branch) RewriteTree(*statement.else_branch, resolver);
  try {
    if (statement.kind == sqlengine::tsql::StatementKind::kAlterTable) {
      sqlengine::tsql::ReadConstraintChange(statement.tokens);
    }
    if (!statement.condition.empty())
      sqlengine::tsql::RewriteCondition(statement.condition, resolver);
    sqlengine::tsql::RewriteStatement(statement, resolver);
  } catch (const sqlengine::SqlError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view batch(reinterpret_cast<const char*>(data), size);
  try {
    sqlengine::tsql::Tokens tokens = sqlengine::tsql::Lex(batch);
    sqlengine::tsql::StatementList statements = sqlengine::tsql::ParseBatch(tokens);
    FuzzResolver resolver;
    for (const auto& statement : statements) RewriteTree(*statement, resolver);
  } catch (const sqlengine::SqlError&) {
  }
  return 0;
}
