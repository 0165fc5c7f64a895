#pragma once
// The statements a keyed cursor runs at every FETCH (a DYNAMIC cursor's
// seeks, a KEYSET cursor's reads of a member), kept bound and compiled for
// the cursor's life: a FETCH then binds its key values and steps, instead
// of reading, binding and compiling the same statement again.
//
// A statement is kept per current database (its SQLite text names the
// cursor's database by the schema it has from there) and its compiled form
// only under the security rules it was compiled under (CompiledStatements).
// The caller drops one that SQLite had to compile again, since the schema
// changed under the binding, or that failed; that FETCH binds it anew.
// Not thread-safe; a cursor belongs to one session.

#include <sqlite3.h>

#include <functional>
#include <map>
#include <string>

#include "engine/exec/compiled_statements.h"
#include "engine/tsql/sqlite_text.h"

namespace sqlengine::exec {

class CursorSeeks {
 public:
  // How many bound statements a cursor keeps: a cursor moving every way
  // uses a handful of shapes (first, last, after, before, from a key).
  static constexpr std::size_t kKept = 12;

  // `rules` as CompiledStatements::FollowRules takes it.
  explicit CursorSeeks(std::function<std::uint64_t()> rules);

  // The key a statement of T-SQL text `statement` is kept under while
  // `database` is current.
  static std::string KeyOf(const std::string& database, const std::string& statement);

  // Forgets everything kept when `db` is not the connection it was kept
  // for (the session reopened its connection: USE), then follows `db`.
  void FollowConnection(sqlite3* db);

  // The binding kept under `key`; nullptr when there is none.
  const tsql::SqliteText* Bound(const std::string& key) const;
  // Keeps `text` under `key` (when fewer than kKept are kept).
  void Keep(const std::string& key, tsql::SqliteText text);
  // Forgets the binding under `key` and every compiled statement.
  void Forget(const std::string& key);

  // The compiled statements, by their SQLite text.
  CompiledStatements& Compiled() { return compiled_; }

 private:
  std::map<std::string, tsql::SqliteText> bound_;
  CompiledStatements compiled_;
  sqlite3* db_ = nullptr;
};

}  // namespace sqlengine::exec
