#pragma once
// User statements compiled by SQLite, kept across a session's requests for
// the next run of the same generated text: a prepared statement executed
// again, a repeated sp_executesql text, a procedure's statements on every
// EXEC, a batch sent again.
//
// What makes a kept statement the one a fresh compilation would give:
//  - its key is the SQLite text the front end generated, not the T-SQL the
//    client sent: names resolved (the current database, #temp tables), `*`
//    expanded, and every session setting the front end reads (ANSI_NULLS,
//    CONCAT_NULL_YIELDS_NULL, QUOTED_IDENTIFIER, ...) are in it; variables
//    and parameters are bound values, bound afresh on every run;
//  - the Context it was compiled in must be the present one: the security
//    rules it was authorised under (the engine's security generation and
//    the procedure-owner context), the schema version of every database
//    the connection reaches (main, temp and each attached one: other
//    sessions' DDL counts) and the connection's epoch, which moves on
//    every change of its databases and every rollback, so that nothing
//    compiled inside a transaction outlives the rollback of its DDL.
// Anything else SQLite compiles into a statement (pragmas, functions) is
// SQLite's to expire; an expired statement compiles again when it runs,
// under the authorizer's user rules as any compilation.
//
// Holds at most kKept statements, the least recently used dropped first. A
// statement is handed out to one user at a time (Take removes it; Keep puts
// it back). Owned by the session's connection, which clears it before its
// handle closes or a database detaches. Used on the session's thread only.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/catalog/sqlite_handle.h"

namespace sqlengine::exec {

class StatementCache {
 public:
  static constexpr std::size_t kKept = 32;

  struct Context {
    std::uint64_t rules = 0;
    std::uint64_t epoch = 0;
    std::vector<std::int64_t> schema_versions;
    bool operator==(const Context&) const = default;
  };

  // Keeps `statement`, compiled from `sql` in `context`, reset and unbound.
  void Keep(std::string sql, catalog::PreparedStatement statement, Context context);
  // Hands out the statement kept for exactly `sql` in exactly `context`; a
  // null one when there is none. Kept statements of another epoch are
  // finalized on the way.
  catalog::PreparedStatement Take(std::string_view sql, const Context& context);
  // Whether `sql` was asked about lately (remembering it now): a statement
  // is worth keeping only from its second run on. Texts that never come
  // back (a long batch's) are neither kept nor bring the cache's costs.
  bool SeenBefore(std::string_view sql);
  void Clear() { kept_.clear(); }
  std::size_t Size() const { return kept_.size(); }

 private:
  struct Kept {
    std::string sql;
    Context context;
    catalog::PreparedStatement statement;
    std::uint64_t used = 0;
  };
  std::vector<Kept> kept_;
  std::uint64_t clock_ = 0;
  static constexpr std::size_t kSeen = 128;
  std::vector<std::size_t> seen_;  // hashes of the latest texts, a ring
  std::size_t next_seen_ = 0;
};

}  // namespace sqlengine::exec
