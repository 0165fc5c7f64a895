#include "engine/tsql/definition_placement.h"

#include <string>

#include "engine/common/error.h"
#include "engine/tsql/syntax_error.h"

namespace sqlengine::tsql {
namespace {

// "CREATE VIEW", "ALTER PROCEDURE" ... for a definition; empty for any other statement.
std::string DefinitionVerb(const Statement& statement) {
  const Tokens& tokens = statement.tokens;
  if (tokens.size() < 2 || !tokens[0].IsAnyWord({"create", "alter"})) return "";
  const Token& object = tokens[1];
  std::string verb = tokens[0].IsWord("create") ? "CREATE " : "ALTER ";
  if (object.IsAnyWord({"proc", "procedure"})) return verb + "PROCEDURE";
  if (object.IsWord("view")) return verb + "VIEW";
  if (object.IsWord("function")) return verb + "FUNCTION";
  if (object.IsWord("trigger")) return verb + "TRIGGER";
  if (tokens[0].IsWord("create") && object.IsWord("default")) return verb + "DEFAULT";
  if (tokens[0].IsWord("create") && object.IsWord("rule")) return verb + "RULE";
  return "";
}

void CheckNested(const StatementList& statements);

void CheckNested(const Statement& statement) {
  if (!DefinitionVerb(statement).empty()) throw SyntaxError(statement.tokens[1]);
  CheckNested(statement.body);
  if (statement.else_branch) CheckNested(*statement.else_branch);
}

void CheckNested(const StatementList& statements) {
  for (const auto& statement : statements) CheckNested(*statement);
}

}  // namespace

void CheckDefinitionPlacement(const StatementList& statements, bool in_body) {
  for (size_t k = 0; k < statements.size(); ++k) {
    const Statement& statement = *statements[k];
    std::string verb = DefinitionVerb(statement);
    if (!verb.empty() && (k > 0 || in_body)) {
      SqlError error = MakeError(111, {verb});
      error.message().line = statement.line;
      throw error;
    }
    CheckNested(statement.body);
    if (statement.else_branch) CheckNested(*statement.else_branch);
  }
}

}  // namespace sqlengine::tsql
