#include "engine/tsql/bind/collation_labels.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "engine/common/error.h"
#include "engine/tsql/bind/type_rules.h"
#include "engine/tsql/collation_names.h"

namespace sqlengine::tsql::bind {
namespace {

// Functions whose character result keeps the label of their character
// arguments, by their SQLite names.
bool KeepsCollationLabel(std::string_view sql) {
  static constexpr std::string_view kNames[] = {
      "upper",    "lower",  "ltrim",   "rtrim",   "substring", "\"left\"",
      "\"right\"", "ifnull", "coalesce", "nullif", "stuff",     "replace",
      "reverse",  "replicate", "sqlengine_replace_cs"};
  return std::find(std::begin(kNames), std::end(kNames), sql) != std::end(kNames);
}

bool IsCharacterValue(const BoundExpr& e) {
  return !e.null_literal && ClassOf(e.type.type) == TypeClass::kCharacter;
}

// The label of character data put together from `parts`: a COLLATE
// clause's wins (two naming different collations are 449); else two
// different column collations conflict; else a column's wins over other
// values'.
CollationLabel CombinedLabel(const std::vector<const BoundExpr*>& parts, const ColumnType& own) {
  CollationLabel combined{1, false, &own};
  for (const BoundExpr* part : parts) {
    if (part == nullptr || !IsCharacterValue(*part)) continue;
    CollationLabel label = LabelOf(*part);
    if (label.strength < combined.strength || label.strength == 1) continue;
    if (label.strength > combined.strength) {
      combined = label;
    } else if (label.strength == 3) {
      RequireSameExplicit(*combined.collation, *label.collation);
    } else if (label.conflict || !SameCollation(*label.collation, *combined.collation)) {
      combined.conflict = true;
    }
  }
  return combined;
}

// The label of result column `k` of a UNION: its terms' labels combined.
CollationLabel UnionColumnLabel(const BoundQuery& query, size_t k) {
  std::vector<const BoundExpr*> parts;
  for (const BoundSelectBlock& term : query.terms)
    parts.push_back(k < term.items.size() ? term.items[k].get() : nullptr);
  return CombinedLabel(parts, query.columns[k].type);
}

}  // namespace

void RequireSameExplicit(const ColumnType& first, const ColumnType& second) {
  if (!SameCollation(first, second))
    throw MakeError(449, {CollationNameFor(first), CollationNameFor(second)});
}

void RequireCollationLabel(const BoundExpr& e) {
  if (IsCharacterValue(e)) LabelOf(e);
}

CollationLabel LabelOf(const BoundExpr& e) {
  if (e.explicit_collation) return {3, false, &e.type};
  if (e.kind == BoundKind::kColumn) return {2, false, &e.type};
  if (e.kind == BoundKind::kConvert && !e.args.empty()) {
    // Text converted to text keeps its label; anything else becomes a value
    // of the database's default collation.
    if (IsCharacterValue(*e.args[0])) return LabelOf(*e.args[0]);
    return {1, false, &e.type};
  }
  std::vector<const BoundExpr*> parts;
  if (e.kind == BoundKind::kConcat || (e.kind == BoundKind::kCall && KeepsCollationLabel(e.sql))) {
    for (const auto& arg : e.args) parts.push_back(arg.get());
  } else if (e.kind == BoundKind::kCase) {
    // The results: the second of each WHEN / THEN pair, and ELSE's.
    size_t pairs_end = e.args.size() - (e.has_else ? 1 : 0);
    for (size_t k = 1; k < pairs_end; k += 2) parts.push_back(e.args[k].get());
    if (e.has_else && !e.args.empty()) parts.push_back(e.args.back().get());
  } else {
    return {1, false, &e.type};
  }
  return CombinedLabel(parts, e.type);
}

void RequireResultCollations(const BoundQuery& query) {
  if (query.terms.empty()) return;
  for (size_t k = 0; k < query.columns.size(); ++k) {
    if (ClassOf(query.columns[k].type.type) != TypeClass::kCharacter) continue;
    CollationLabel label = UnionColumnLabel(query, k);
    if (label.strength == 2 && label.conflict)
      throw MakeError(451, {std::to_string(k + 1), "SELECT"});
  }
}

void SettleUnionCollations(BoundQuery& query) {
  if (query.terms.size() < 2) return;
  for (size_t k = 0; k < query.columns.size(); ++k) {
    if (ClassOf(query.columns[k].type.type) != TypeClass::kCharacter) continue;
    CollationLabel label = UnionColumnLabel(query, k);
    if (label.strength == 1 || label.conflict) continue;
    ColumnType winner;
    CopyCollation(*label.collation, winner);
    for (BoundSelectBlock& term : query.terms) {
      if (k < term.items.size() && IsCharacterValue(*term.items[k]))
        CopyCollation(winner, term.items[k]->type);
    }
    CopyCollation(winner, query.columns[k].type);
  }
}

void CheckQueryCollations(const BoundQuery& query) {
  // UNION compares its rows, so each column needs a collation (UNION ALL
  // does not: its column only when a client is sent it).
  bool compares = std::find(query.union_all.begin(), query.union_all.end(), false) !=
                  query.union_all.end();
  for (size_t k = 0; query.terms.size() > 1 && k < query.columns.size(); ++k) {
    if (ClassOf(query.columns[k].type.type) != TypeClass::kCharacter) continue;
    CollationLabel label = UnionColumnLabel(query, k);
    if (compares && label.strength == 2 && label.conflict)
      throw MakeError(451, {std::to_string(k + 1), "SELECT"});
  }
  // Groups are told apart in a collation.
  for (const BoundSelectBlock& term : query.terms) {
    for (const auto& group : term.group_by) {
      if (group == nullptr || !IsCharacterValue(*group)) continue;
      CollationLabel label = LabelOf(*group);
      if (label.strength == 2 && label.conflict) throw MakeError(446, {"GROUP BY"});
    }
  }
  // ORDER BY sorts in one, whether it names a value or a result column by
  // its position (which no client need be sent: INSERT ... SELECT).
  for (size_t k = 0; k < query.order_by.size(); ++k) {
    const BoundOrder& order = query.order_by[k];
    CollationLabel label;
    if (order.expr != nullptr) {
      if (!IsCharacterValue(*order.expr)) continue;
      label = LabelOf(*order.expr);
    } else {
      size_t column = static_cast<size_t>(order.ordinal) - 1;
      if (order.ordinal < 1 || column >= query.columns.size() ||
          ClassOf(query.columns[column].type.type) != TypeClass::kCharacter)
        continue;
      label = UnionColumnLabel(query, column);
    }
    if (label.strength == 2 && label.conflict)
      throw MakeError(451, {std::to_string(k + 1), "ORDER BY"});
  }
}

}  // namespace sqlengine::tsql::bind
