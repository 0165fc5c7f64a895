#pragma once
// The rows of one API server cursor, read once when the cursor opens, and
// where its fetch buffer stands. Positions are 1-based as sp_cursorfetch
// counts them: 0 is before the first row, Count() + 1 after the last.
// Not thread-safe; a cursor belongs to one session.

#include <cstdint>
#include <optional>
#include <vector>

#include "engine/common/types.h"

namespace sqlengine::exec {

// sp_cursorfetch's fetchtype bits.
enum FetchType : int {
  kFetchFirst = 0x01,
  kFetchNext = 0x02,
  kFetchPrev = 0x04,
  kFetchLast = 0x08,
  kFetchAbsolute = 0x10,
  kFetchRelative = 0x20,
  kFetchRefresh = 0x80,
  kFetchInfo = 0x100,
  kFetchPrevNoAdjust = 0x200,
  kFetchSkipUpdateConcurrency = 0x400,
};

class CursorRows {
 public:
  CursorRows(std::vector<Column> columns, std::vector<Row> rows);

  const std::vector<Column>& Columns() const { return columns_; }
  std::int64_t Count() const { return static_cast<std::int64_t>(rows_.size()); }

  // Moves the fetch buffer as `fetch_type` (one of FIRST .. REFRESH, with
  // SKIP_UPDT_CNCY allowed beside it) asks, `rownum` being the row for
  // ABSOLUTE (negative: from the end) and the offset for RELATIVE, and
  // returns the rows now in the buffer (at most `nrows`). Returns nullopt
  // for a fetch type it does not know; the buffer stays where it was then.
  std::optional<std::vector<Row>> Fetch(int fetch_type, std::int64_t rownum, std::int64_t nrows);

  // The position of the buffer's first row (0 before the first row,
  // Count() + 1 after the last) and how many rows the last fetch put in it.
  std::int64_t BufferStart() const { return start_; }
  std::int64_t BufferSize() const { return static_cast<std::int64_t>(buffer_.size()); }

  // The index into the rows of the buffer's row `in_buffer` (1-based, as
  // the last fetch numbered them); nullopt when the buffer has no such row
  // or it was deleted since.
  std::optional<std::size_t> BufferRow(std::int64_t in_buffer) const;
  // The index of the row at cursor position `position` (1-based).
  std::optional<std::size_t> RowAt(std::int64_t position) const;

  Row& RowValues(std::size_t index) { return rows_[index]; }
  // Takes `rows` as the rows now (a dynamic cursor's query read again), the
  // buffer at `position`: holding that one row when `present`, else empty
  // there, so that NEXT reads the row at `position` and PRIOR the one before.
  void Reposition(std::vector<Row> rows, std::int64_t position, bool present);
  // A row deleted through the cursor leaves it. The buffer keeps its
  // numbering, with a hole where the row was; the positions after it move up.
  void Erase(std::size_t index);

 private:
  // Makes the buffer the rows from `position` on, at most `nrows` of them.
  std::vector<Row> Place(std::int64_t position, std::int64_t nrows);

  std::vector<Column> columns_;
  std::vector<Row> rows_;
  // Rows present in the buffer.
  std::int64_t Present() const;

  std::int64_t start_ = 0;
  std::vector<std::optional<std::size_t>> buffer_;  // row indexes; nullopt: deleted
};

}  // namespace sqlengine::exec
