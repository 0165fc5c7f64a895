#include "engine/exec/known_tables.h"

#include <algorithm>
#include <mutex>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace sqlengine::exec {
namespace {

// What KnownTable found on each armed connection since the last statement
// that may have changed a schema there. Sessions' threads share it.
struct KeptAnswer {
  std::string schema;
  std::string table;
  bool exists = false;
};
std::mutex kept_mutex;
std::unordered_map<sqlite3*, std::vector<KeptAnswer>> kept_answers;
constexpr std::size_t kKeptAnswers = 8;

std::optional<bool> KeptAnswerOf(sqlite3* db, const std::string& schema, const char* name) {
  std::lock_guard lock(kept_mutex);
  auto it = kept_answers.find(db);
  if (it == kept_answers.end()) return std::nullopt;
  for (const KeptAnswer& answer : it->second) {
    if (answer.schema == schema && answer.table == name) return answer.exists;
  }
  return std::nullopt;
}

void KeepAnswer(sqlite3* db, const std::string& schema, const char* name, bool exists) {
  std::lock_guard lock(kept_mutex);
  auto it = kept_answers.find(db);
  // Only a connection whose statements are watched keeps answers.
  if (it == kept_answers.end()) return;
  if (it->second.size() >= kKeptAnswers) it->second.clear();
  it->second.push_back({schema, name, exists});
}

}  // namespace

std::optional<bool> KnownTable(sqlite3* db, const std::string& schema, const char* name) {
  if (db == nullptr) return std::nullopt;
  // Only this connection changes its temp schema.
  int state = sqlite3_txn_state(db, schema.c_str());
  if (schema != "temp" && state != SQLITE_TXN_READ && state != SQLITE_TXN_WRITE) return std::nullopt;
  // Inside an explicit transaction the same question comes again and again
  // (whether the database has triggers, for every change), and SQLite
  // formats an error message for every table it does not find. What it
  // answered holds there until a statement that may change a schema runs:
  // a transaction begins with one, so no answer outlives its transaction.
  const bool keeps = !sqlite3_get_autocommit(db);
  if (keeps) {
    if (std::optional<bool> kept = KeptAnswerOf(db, schema, name)) return kept;
  }
  std::optional<bool> found;
  // Without a column this asks for the table alone; a view counts as none.
  int rc = sqlite3_table_column_metadata(db, schema.c_str(), name, nullptr, nullptr, nullptr,
                                         nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) found = true;
  // The same code comes back when the schema could not be read: only this
  // message says the copy was read and has no such table.
  if (rc == SQLITE_ERROR && std::string_view(sqlite3_errmsg(db)).starts_with("no such table column"))
    found = false;
  if (keeps && found) KeepAnswer(db, schema, name, *found);
  return found;
}

void SchemaMayChange(sqlite3* db) {
  std::lock_guard lock(kept_mutex);
  kept_answers[db].clear();
}

void StopKeepingKnownTables(sqlite3* db) {
  std::lock_guard lock(kept_mutex);
  kept_answers.erase(db);
}

}  // namespace sqlengine::exec
