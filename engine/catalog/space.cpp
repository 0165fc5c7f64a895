#include "engine/catalog/space.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "engine/catalog/sqlite_handle.h"

namespace sqlengine::catalog {
namespace {

std::int64_t Scalar(sqlite3* db, const std::string& sql) {
  PreparedStatement statement = Prepare(db, sql);
  int rc = sqlite3_step(statement.get());
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
  return rc == SQLITE_ROW ? sqlite3_column_int64(statement.get(), 0) : 0;
}

// Auto-vacuum files keep pointer-map pages at page 2 and after every
// usable/5 pages; they are neither free nor listed by dbstat.
bool IsPointerMapPage(std::int64_t page, std::int64_t usable_size) {
  std::int64_t interval = usable_size / 5 + 1;
  return page >= 2 && (page - 2) % interval == 0;
}

void ReleasePages(sqlite3* db, std::int64_t pages) {
  if (pages <= 0) return;  // incremental_vacuum(0) would release every free page
  Exec(db, "PRAGMA incremental_vacuum(" + std::to_string(pages) + ")");
}

// Rebuilds the file with its data at the front, then grows it back with a
// scratch row and frees that row's pages again, so the space stays in the
// file as free pages at its end.
void CompactInPlace(sqlite3* db) {
  std::int64_t before = Scalar(db, "PRAGMA page_count");
  Exec(db, "VACUUM");
  std::int64_t after = Scalar(db, "PRAGMA page_count");
  std::int64_t page_size = Scalar(db, "PRAGMA page_size");
  std::int64_t regrow = before - after - 2;
  if (regrow <= 0) return;
  Exec(db, "BEGIN IMMEDIATE");
  try {
    Exec(db, "CREATE TABLE sqlengine_shrink_space (b BLOB)");
    Exec(db, "INSERT INTO sqlengine_shrink_space VALUES (zeroblob(" +
                 std::to_string(regrow * (page_size - 4)) + "))");
    Exec(db, "DROP TABLE sqlengine_shrink_space");
    Exec(db, "COMMIT");
  } catch (...) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

// Readers of older snapshots hold a TRUNCATE checkpoint back; it waits for
// them only briefly, then copies what it can.
void Checkpoint(sqlite3* db) {
  sqlite3_busy_timeout(db, 2000);
  int log_frames = 0;
  int copied = 0;
  int rc = sqlite3_wal_checkpoint_v2(db, "main", SQLITE_CHECKPOINT_TRUNCATE, &log_frames, &copied);
  if (rc == SQLITE_BUSY) {
    sqlite3_wal_checkpoint_v2(db, "main", SQLITE_CHECKPOINT_PASSIVE, &log_frames, &copied);
  } else if (rc != SQLITE_OK) {
    throw std::runtime_error(sqlite3_errmsg(db));
  }
}

}  // namespace

DataFileSpace MeasureSpace(sqlite3* db) {
  DataFileSpace space;
  space.pages = Scalar(db, "PRAGMA main.page_count");
  space.free_pages = Scalar(db, "PRAGMA main.freelist_count");
  std::int64_t last_used = Scalar(db, "SELECT coalesce(max(pageno), 1) FROM dbstat('main')");
  std::int64_t usable = Scalar(db, "PRAGMA main.page_size");
  std::int64_t tail = 0;
  for (std::int64_t page = last_used + 1; page <= space.pages; ++page) {
    if (!IsPointerMapPage(page, usable)) ++tail;
  }
  space.trailing_free = std::min(tail, space.free_pages);
  return space;
}

std::int64_t PagesToReleaseForPercent(const DataFileSpace& space, int target_percent) {
  if (target_percent >= 100) return 0;
  target_percent = std::max(target_percent, 0);
  std::int64_t used = space.UsedPages();
  std::int64_t keep_free = (used * target_percent + (99 - target_percent)) / (100 - target_percent);
  return std::max<std::int64_t>(0, space.free_pages - keep_free);
}

std::int64_t PagesToReleaseForSize(const DataFileSpace& space, std::int64_t target_pages) {
  std::int64_t target = std::max(target_pages, space.UsedPages());
  return std::clamp<std::int64_t>(space.pages - target, 0, space.free_pages);
}

void ShrinkDataFile(sqlite3* db, ShrinkMode mode, std::int64_t release_pages) {
  switch (mode) {
    case ShrinkMode::kCompactAndRelease:
      ReleasePages(db, release_pages);
      break;
    case ShrinkMode::kTruncateOnly:
      ReleasePages(db, std::min(release_pages, MeasureSpace(db).trailing_free));
      break;
    case ShrinkMode::kNoTruncate:
      CompactInPlace(db);
      break;
  }
  Checkpoint(db);
}

}  // namespace sqlengine::catalog
