#include "engine/exec/statement_cache.h"

#include <algorithm>
#include <functional>

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

bool StatementCache::SeenBefore(std::string_view sql) {
  std::size_t hash = std::hash<std::string_view>{}(sql);
  if (std::find(seen_.begin(), seen_.end(), hash) != seen_.end()) return true;
  if (seen_.size() < kSeen) {
    seen_.push_back(hash);
  } else {
    seen_[next_seen_] = hash;
    next_seen_ = (next_seen_ + 1) % kSeen;
  }
  return false;
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
