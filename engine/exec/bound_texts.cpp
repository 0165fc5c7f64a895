#include "engine/exec/bound_texts.h"

namespace sqlengine::exec {
namespace {

bool Holds(const tsql::StatementList& list, const tsql::Statement* statement);

bool Holds(const tsql::Statement& in, const tsql::Statement* statement) {
  return &in == statement || Holds(in.body, statement) ||
         (in.else_branch && Holds(*in.else_branch, statement));
}

bool Holds(const tsql::StatementList& list, const tsql::Statement* statement) {
  for (const auto& each : list) {
    if (each && Holds(*each, statement)) return true;
  }
  return false;
}

}  // namespace

bool SameColumnType(const ColumnType& a, const ColumnType& b) {
  // A member added to ColumnType must be compared here too.
  static_assert(sizeof(ColumnType) == 24, "compare every member of ColumnType");
  return a.type == b.type && a.length == b.length && a.precision == b.precision &&
         a.scale == b.scale && a.nullable == b.nullable && a.identity == b.identity &&
         a.case_sensitive == b.case_sensitive && a.binary_order == b.binary_order &&
         a.accent_insensitive == b.accent_insensitive && a.upper_first == b.upper_first &&
         a.row_version == b.row_version && a.numeric == b.numeric;
}

void BoundTexts::Keep(const Place& place, const StatementCache::Context& context,
                      std::string database, std::string schema, Notes notes,
                      const tsql::SqliteText& text) {
  if (!notes.keepable || !place.body || place.statement == nullptr) return;
  // A statement made for one run (a DROP list's part, a rewritten INSERT)
  // is no part of the body: its address may be another's next time.
  if (!Holds(*place.body, place.statement)) return;
  if (kept_.size() >= kKept && kept_.find(place.statement) == kept_.end()) kept_.clear();
  kept_.insert_or_assign(place.statement, Kept{place.body, context, std::move(database),
                                               std::move(schema), std::move(notes), text});
}

std::optional<tsql::SqliteText> BoundTexts::Find(const Place& place, const Present& present) const {
  auto it = kept_.find(place.statement);
  if (it == kept_.end()) return std::nullopt;
  const Kept& kept = it->second;
  if (!place.body || kept.body.lock() != place.body) return std::nullopt;
  if (!(kept.context == *present.context) || kept.database != *present.database ||
      kept.schema != *present.schema)
    return std::nullopt;
  if (kept.notes.ansi_nulls && *kept.notes.ansi_nulls != present.ansi_nulls) return std::nullopt;
  if (kept.notes.concat_null_yields_null &&
      *kept.notes.concat_null_yields_null != present.concat_null_yields_null)
    return std::nullopt;
  for (const auto& [name, type] : kept.notes.variables) {
    std::optional<ColumnType> now = present.variable_type(name);
    if (now.has_value() != type.has_value() || (now && !SameColumnType(*now, *type)))
      return std::nullopt;
  }
  return kept.text;
}

}  // namespace sqlengine::exec
