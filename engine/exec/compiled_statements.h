#pragma once
// Statements a batch's syntax check compiled under the user's rules, handed
// on to the batch's run, so a statement is compiled once rather than twice.
// Holds a few at a time (a long batch keeps its first ones; the rest are
// compiled again when they run). A statement is handed out only for the
// same text and while the security settings are those it was authorised
// under. Owned by the session's connection, which forgets them between
// batches. Used on the session's thread only.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/catalog/sqlite_handle.h"

namespace sqlengine::exec {

class CompiledStatements {
 public:
  static constexpr std::size_t kKept = 16;

  struct Compiled {
    catalog::PreparedStatement statement;
    std::size_t tail = 0;  // offset in the text where SQLite stopped compiling
  };

  // `rules` tells which rules statements are authorised under now (the
  // security settings, whether a procedure's owner or the caller is asking);
  // it must change whenever they may. Until it is set, nothing is kept.
  void FollowRules(std::function<std::uint64_t()> rules) { rules_ = std::move(rules); }
  const std::function<std::uint64_t()>& Rules() const { return rules_; }

  // Keeps `compiled`, made from `sql` under the present rules; drops it when
  // kKept are kept already.
  void Keep(std::string sql, Compiled compiled);
  // Hands out (and forgets) the statement kept for exactly `sql`; an empty
  // Compiled when there is none or the rules are others than it was made under.
  Compiled Take(std::string_view sql);
  void Clear() { kept_.clear(); }

 private:
  struct Kept {
    std::string sql;
    Compiled compiled;
    std::uint64_t rules;
  };
  std::function<std::uint64_t()> rules_;
  std::vector<Kept> kept_;
};

}  // namespace sqlengine::exec
