#include "engine/tsql/labels.h"

#include <set>
#include <string>

#include "engine/common/error.h"
#include "engine/tsql/syntax_error.h"

namespace sqlengine::tsql {
namespace {

template <typename Visit>
void ForEachNested(const Statement& statement, const Visit& visit) {
  for (const auto& child : statement.body) visit(*child);
  if (statement.else_branch) visit(*statement.else_branch);
}

SqlError LabelError(int number, const Token& at) {
  SqlError error = MakeError(number, {at.text});
  error.message().line = at.line;
  return error;
}

struct LabelUse {
  std::set<std::string> declared;
  std::vector<const Token*> targets;

  void Collect(const Statement& statement) {
    if (statement.kind == StatementKind::kLabel) {
      if (!declared.insert(ToLower(statement.tokens.front().text)).second) {
        throw LabelError(132, statement.tokens.front());
      }
    } else if (statement.kind == StatementKind::kGoto) {
      if (statement.tokens.size() != 2 || statement.tokens[1].kind != TokenKind::kWord) {
        const Token& at = statement.tokens.size() > 1 ? statement.tokens[1] : statement.tokens[0];
        throw SyntaxError(at, &statement.tokens[0]);
      }
      targets.push_back(&statement.tokens[1]);
    }
    ForEachNested(statement, [&](const Statement& child) { Collect(child); });
  }
};

}  // namespace

bool ContainsLabel(const Statement& statement, std::string_view name) {
  if (statement.kind == StatementKind::kLabel) {
    return EqualsIgnoreCase(statement.tokens.front().text, name);
  }
  bool found = false;
  ForEachNested(statement, [&](const Statement& child) {
    found = found || ContainsLabel(child, name);
  });
  return found;
}

std::optional<size_t> LabelIndex(const StatementList& list, std::string_view name) {
  for (size_t i = 0; i < list.size(); ++i) {
    if (ContainsLabel(*list[i], name)) return i;
  }
  return std::nullopt;
}

void CheckLabels(const StatementList& batch) {
  LabelUse use;
  for (const auto& statement : batch) use.Collect(*statement);
  for (const Token* target : use.targets) {
    if (!use.declared.contains(ToLower(target->text))) throw LabelError(133, *target);
  }
}

}  // namespace sqlengine::tsql
