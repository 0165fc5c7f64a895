#include "engine/exec/cursor_seeks.h"

namespace sqlengine::exec {

CursorSeeks::CursorSeeks(std::function<std::uint64_t()> rules) {
  compiled_.FollowRules(std::move(rules));
}

std::string CursorSeeks::KeyOf(const std::string& database, const std::string& statement) {
  // A database name holds no line break; the key cannot be read two ways.
  return database + '\n' + statement;
}

void CursorSeeks::FollowConnection(sqlite3* db) {
  if (db == db_) return;
  // Statements compiled on the connection closed since keep it open; they
  // go now.
  bound_.clear();
  compiled_.Clear();
  db_ = db;
}

const tsql::SqliteText* CursorSeeks::Bound(const std::string& key) const {
  auto it = bound_.find(key);
  return it == bound_.end() ? nullptr : &it->second;
}

void CursorSeeks::Keep(const std::string& key, tsql::SqliteText text) {
  if (bound_.size() >= kKept && bound_.count(key) == 0) return;
  bound_.insert_or_assign(key, std::move(text));
}

void CursorSeeks::Forget(const std::string& key) {
  bound_.erase(key);
  compiled_.Clear();
}

}  // namespace sqlengine::exec
