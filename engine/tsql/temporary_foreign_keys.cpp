#include "engine/tsql/temporary_foreign_keys.h"

#include <algorithm>
#include <cstddef>
#include <utility>

#include "engine/common/error.h"
#include "engine/tsql/dotted_name.h"
#include "engine/tsql/table_element_syntax.h"

namespace sqlengine::tsql {
namespace {

// The elements a CREATE TABLE defines or an ALTER TABLE adds; empty for any
// other statement.
std::vector<TableElementSyntax> DefinedElements(const Tokens& statement) {
  if (statement.size() < 3 || !statement[1].IsWord("table")) return {};
  if (statement[0].IsWord("create")) return ParseCreateTable(statement).elements;
  if (!statement[0].IsWord("alter")) return {};
  std::size_t at = ReadDottedName(statement, 2).end;
  if (at + 1 < statement.size() && statement[at].IsWord("with") &&
      statement[at + 1].IsAnyWord({"check", "nocheck"}))
    at += 2;
  if (at + 1 >= statement.size() || !statement[at].IsWord("add")) return {};
  std::size_t end = statement.size();
  if (statement[end - 1].kind == TokenKind::kEnd) --end;
  return ParseTableElements(statement, at + 1, end);
}

}  // namespace

SkippedForeignKeys DropTemporaryForeignKeys(Tokens& statement) {
  SkippedForeignKeys skipped;
  if (statement.size() < 3) return skipped;
  DottedName table = ReadDottedName(statement, 2);
  if (table.parts.empty() || !table.Last().starts_with("#")) return skipped;
  std::vector<TableElementSyntax> elements;
  try {
    elements = DefinedElements(statement);
  } catch (const SqlError&) {
    return skipped;
  }
  // Token ranges to take out, in the order written.
  std::vector<std::pair<std::size_t, std::size_t>> taken;
  std::size_t kept_elements = 0;
  auto name_of = [&](const ConstraintSyntax& constraint) {
    return constraint.name.empty() ? table.Last() : constraint.name;
  };
  for (std::size_t k = 0; k < elements.size(); ++k) {
    const TableElementSyntax& element = elements[k];
    if (element.constraint && element.constraint->kind == ConstraintKind::kForeignKey) {
      skipped.names.push_back(name_of(*element.constraint));
      // With the comma that joins it to its neighbour.
      std::size_t begin = element.range.begin;
      std::size_t end = element.range.end;
      if (k > 0) {
        begin = elements[k - 1].range.end;
      } else if (k + 1 < elements.size()) {
        end = elements[k + 1].range.begin;
      }
      taken.emplace_back(begin, end);
      continue;
    }
    ++kept_elements;
    if (!element.column) continue;
    for (const ConstraintSyntax& constraint : element.column->constraints) {
      if (constraint.kind != ConstraintKind::kForeignKey) continue;
      skipped.names.push_back(name_of(constraint));
      taken.emplace_back(constraint.begin, constraint.end);
    }
  }
  if (taken.empty()) return skipped;
  skipped.nothing_left = kept_elements == 0;
  // Two neighbours taken may share their comma: the ranges are marked, then
  // the unmarked tokens kept.
  std::vector<bool> dropped(statement.size(), false);
  for (const auto& [begin, end] : taken)
    std::fill(dropped.begin() + static_cast<std::ptrdiff_t>(begin),
              dropped.begin() + static_cast<std::ptrdiff_t>(end), true);
  Tokens kept;
  for (std::size_t i = 0; i < statement.size(); ++i) {
    if (!dropped[i]) kept.push_back(std::move(statement[i]));
  }
  statement = std::move(kept);
  return skipped;
}

}  // namespace sqlengine::tsql
