#include "engine/exec/commit_watch.h"

#include <atomic>
#include <cstring>
#include <optional>

namespace sqlengine::exec {
namespace {

// SQLite maps a log index in regions of this size; the header opens the first.
constexpr int kIndexRegion = 32768;

using Header = std::array<std::uint32_t, 12>;

// The log index header of `schema`'s file as every connection sees it now;
// nullopt when the file is not in write-ahead-log mode (its pager has no log
// open) or the header's two copies differ (a commit is rewriting it).
std::optional<Header> LogIndexHeader(sqlite3* db, const char* schema) {
  // The pager's log when it has one open; its rollback journal otherwise,
  // which is closed outside a write transaction.
  sqlite3_file* log = nullptr;
  if (sqlite3_file_control(db, schema, SQLITE_FCNTL_JOURNAL_POINTER, &log) != SQLITE_OK ||
      log == nullptr || log->pMethods == nullptr) {
    return std::nullopt;
  }
  sqlite3_file* file = nullptr;
  if (sqlite3_file_control(db, schema, SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK ||
      file == nullptr || file->pMethods == nullptr || file->pMethods->iVersion < 2 ||
      file->pMethods->xShmMap == nullptr) {
    return std::nullopt;
  }
  // The region is mapped already (the open log read it); this only finds it.
  volatile void* region = nullptr;
  if (file->pMethods->xShmMap(file, 0, kIndexRegion, 0, &region) != SQLITE_OK ||
      region == nullptr) {
    return std::nullopt;
  }
  // A writer stores the second copy, then the first; reading the first, then
  // the second, and finding them equal gives one whole header.
  const volatile std::uint32_t* words = static_cast<const volatile std::uint32_t*>(region);
  Header first, second;
  std::atomic_thread_fence(std::memory_order_acquire);
  for (size_t i = 0; i < first.size(); ++i) first[i] = words[i];
  std::atomic_thread_fence(std::memory_order_acquire);
  for (size_t i = 0; i < second.size(); ++i) second[i] = words[first.size() + i];
  if (first != second) return std::nullopt;
  // Byte 12 (isInit) is set once the index has been built from the log.
  std::uint8_t is_init = 0;
  std::memcpy(&is_init, reinterpret_cast<const unsigned char*>(first.data()) + 12, 1);
  if (is_init == 0) return std::nullopt;
  return first;
}

// Schema names of `db` but temp, which no other connection writes.
template <typename Visit>
void ForEachFile(sqlite3* db, Visit visit) {
  for (int i = 0;; ++i) {
    const char* schema = sqlite3_db_name(db, i);
    if (schema == nullptr) return;
    if (i == 1) continue;
    const char* file = sqlite3_db_filename(db, schema);
    if (file == nullptr || *file == '\0') continue;
    visit(schema, file);
  }
}

}  // namespace

const CommitWatch::Noted* CommitWatch::Find(const char* schema, const char* file) const {
  for (const Noted& noted : noted_) {
    if (noted.schema == schema && noted.file == file) return &noted;
  }
  return nullptr;
}

void CommitWatch::Note(sqlite3* db) {
  if (db != db_) {
    noted_.clear();
    db_ = db;
  }
  if (db == nullptr) return;
  std::vector<Noted> kept;
  ForEachFile(db, [&](const char* schema, const char* file) {
    if (sqlite3_txn_state(db, schema) == SQLITE_TXN_NONE) {
      if (std::optional<Header> header = LogIndexHeader(db, schema))
        kept.push_back({schema, file, *header});
    } else if (const Noted* earlier = Find(schema, file)) {
      kept.push_back(*earlier);
    }
  });
  noted_ = std::move(kept);
}

bool CommitWatch::NothingCommittedSince(sqlite3* db) const {
  if (db == nullptr || db != db_) return false;
  bool unchanged = true;
  ForEachFile(db, [&](const char* schema, const char* file) {
    if (!unchanged || sqlite3_txn_state(db, schema) == SQLITE_TXN_NONE) return;
    const Noted* noted = Find(schema, file);
    std::optional<Header> now = noted ? LogIndexHeader(db, schema) : std::nullopt;
    unchanged = now && *now == noted->header;
  });
  return unchanged;
}

}  // namespace sqlengine::exec
