#pragma once
// Space in a data file, in 8 KB pages, and the ways to give free pages back
// to the file system. Data files use incremental auto-vacuum, so releasing
// free pages moves pages from the end into free slots lower in the file and
// cuts the file; nothing a table or index holds is changed.

#include <sqlite3.h>

#include <cstdint>

namespace sqlengine::catalog {

struct DataFileSpace {
  std::int64_t pages = 0;          // the file's size
  std::int64_t free_pages = 0;     // on the free list
  std::int64_t trailing_free = 0;  // free pages after the last page in use
  std::int64_t UsedPages() const { return pages - free_pages; }
};

// Measures the main database of `db` (reads every page). Throws
// std::runtime_error with SQLite's message.
DataFileSpace MeasureSpace(sqlite3* db);

enum class ShrinkMode {
  kCompactAndRelease,  // move pages into holes, then cut the file
  kTruncateOnly,       // cut the free pages at the end only; nothing moves
  kNoTruncate,         // move data to the front, keep the file's size
};

// How many free pages to release so that `target_percent` of the file
// stays free (0 when the file already has no more free space than that).
std::int64_t PagesToReleaseForPercent(const DataFileSpace& space, int target_percent);
// How many free pages to release so the file comes down to `target_pages`
// (never below what it holds).
std::int64_t PagesToReleaseForSize(const DataFileSpace& space, std::int64_t target_pages);

// Shrinks the main database of `db`, which must have no transaction open.
// kCompactAndRelease releases `release_pages`; kTruncateOnly releases at most
// that many of the trailing free pages; kNoTruncate compacts without
// releasing. Afterwards the log is checkpointed so the data file's size on
// disk follows; readers on other connections keep working (a checkpoint that
// has to wait for them too long leaves the file to shrink at a later one).
// The checkpoint leaves `db` with a 2-second busy timeout. Throws
// std::runtime_error with SQLite's message; the database is unchanged then
// (each step is its own transaction).
void ShrinkDataFile(sqlite3* db, ShrinkMode mode, std::int64_t release_pages);

}  // namespace sqlengine::catalog
