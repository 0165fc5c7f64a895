#include "engine/exec/statement_cache.h"

#include <algorithm>

namespace sqlengine::exec {

void StatementCache::Keep(std::string sql, catalog::PreparedStatement statement, Context context) {
  if (!statement) return;
  // Statements of an older epoch can never be handed out again.
  std::erase_if(kept_, [&](const Kept& kept) { return kept.context.epoch != context.epoch; });
  if (kept_.size() >= kKept) {
    auto oldest = std::min_element(kept_.begin(), kept_.end(), [](const Kept& a, const Kept& b) {
      return a.used < b.used;
    });
    kept_.erase(oldest);
  }
  kept_.push_back({std::move(sql), std::move(context), std::move(statement), ++clock_});
}

catalog::PreparedStatement StatementCache::Take(std::string_view sql, const Context& context) {
  catalog::PreparedStatement found;
  // Kept in another epoch, or for this text in another context: of no use
  // any more (a context seldom comes back).
  for (auto it = kept_.begin(); it != kept_.end();) {
    if (it->context.epoch == context.epoch && it->sql != sql) {
      ++it;
      continue;
    }
    if (!found && it->sql == sql && it->context == context) found = std::move(it->statement);
    it = kept_.erase(it);
  }
  return found;
}

}  // namespace sqlengine::exec
