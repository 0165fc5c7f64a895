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

  // `security_generation` tells the current state of the security settings
  // (users, roles, permissions); it changes whenever they may have.
  explicit CompiledStatements(std::function<std::uint64_t()> security_generation)
      : security_generation_(std::move(security_generation)) {}

  // Keeps `compiled`, made from `sql` under the present security settings;
  // drops it when kKept are kept already.
  void Keep(std::string sql, Compiled compiled);
  // Hands out (and forgets) the statement kept for exactly `sql`; an empty
  // Compiled when there is none or the security settings changed since.
  Compiled Take(std::string_view sql);
  void Clear() { kept_.clear(); }

 private:
  struct Kept {
    std::string sql;
    Compiled compiled;
    std::uint64_t security_generation;
  };
  std::function<std::uint64_t()> security_generation_;
  std::vector<Kept> kept_;
};

}  // namespace sqlengine::exec
