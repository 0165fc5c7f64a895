#include "engine/exec/cursor_rows.h"

#include <algorithm>

namespace sqlengine::exec {

CursorRows::CursorRows(std::vector<Column> columns, std::vector<Row> rows)
    : columns_(std::move(columns)), rows_(std::move(rows)) {}

std::vector<Row> CursorRows::Place(std::int64_t position, std::int64_t nrows) {
  const std::int64_t count = Count();
  buffer_.clear();
  if (position < 1 || nrows <= 0) {
    start_ = position < 1 ? 0 : std::min(position, count + 1);
    return {};
  }
  if (position > count) {
    start_ = count + 1;
    return {};
  }
  start_ = position;
  const std::int64_t size = std::min(nrows, count - position + 1);
  std::vector<Row> rows;
  for (std::int64_t k = 0; k < size; ++k) {
    const auto index = static_cast<std::size_t>(start_ - 1 + k);
    buffer_.push_back(index);
    rows.push_back(rows_[index]);
  }
  return rows;
}

std::int64_t CursorRows::Present() const {
  return std::count_if(buffer_.begin(), buffer_.end(),
                       [](const std::optional<std::size_t>& index) { return index.has_value(); });
}

std::optional<std::vector<Row>> CursorRows::Fetch(int fetch_type, std::int64_t rownum,
                                                  std::int64_t nrows) {
  const std::int64_t count = Count();
  switch (fetch_type & ~kFetchSkipUpdateConcurrency) {
    case kFetchFirst:
      if (nrows == 0) return Place(0, 0);
      return Place(1, nrows);
    case kFetchNext:
      return Place(start_ == 0 ? 1 : start_ + Present(), nrows);
    case kFetchPrev:
    case kFetchPrevNoAdjust: {
      if (start_ <= 1) return Place(0, 0);
      const std::int64_t from = std::min(start_, count + 1) - nrows;
      if (from >= 1) return Place(from, nrows);
      // The top of the rows comes first: PREV shows a whole buffer from the
      // first row, PREV_NOADJUST only the rows before the old buffer.
      const bool adjust = (fetch_type & kFetchPrev) != 0;
      return Place(1, adjust ? nrows : std::min(start_, count + 1) - 1);
    }
    case kFetchLast:
      if (nrows == 0) return Place(count + 1, 0);
      return Place(std::max<std::int64_t>(1, count - nrows + 1), nrows);
    case kFetchAbsolute: {
      if (rownum >= 0) return Place(rownum, nrows);
      const std::int64_t from = count + rownum + 1;
      // Counting back past the first row, but by no more than a buffer's
      // rows, shows the first buffer (as ODBC's SQLFetchScroll does).
      if (from < 1 && rownum >= -nrows) return Place(1, nrows);
      return Place(from, nrows);
    }
    case kFetchRelative: {
      const std::int64_t base = std::clamp<std::int64_t>(start_, 0, count + 1);
      // Compared first so that no offset a client sends can overflow.
      if (rownum > count + 1 - base) return Place(count + 1, nrows);
      return Place(base + rownum, nrows);
    }
    case kFetchRefresh:
      return Place(start_, Present());
    default:
      return std::nullopt;
  }
}

std::optional<std::size_t> CursorRows::BufferRow(std::int64_t in_buffer) const {
  if (in_buffer < 1 || in_buffer > BufferSize()) return std::nullopt;
  return buffer_[static_cast<std::size_t>(in_buffer - 1)];
}

std::optional<std::size_t> CursorRows::RowAt(std::int64_t position) const {
  if (position < 1 || position > Count()) return std::nullopt;
  return static_cast<std::size_t>(position - 1);
}

void CursorRows::Reposition(std::vector<Row> rows, std::int64_t position, bool present) {
  rows_ = std::move(rows);
  buffer_.clear();
  start_ = std::clamp<std::int64_t>(position, 0, Count() + 1);
  if (present && start_ >= 1 && start_ <= Count())
    buffer_.push_back(static_cast<std::size_t>(start_ - 1));
}

void CursorRows::Erase(std::size_t index) {
  if (index >= rows_.size()) return;
  rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(index));
  if (static_cast<std::int64_t>(index) + 1 < start_) --start_;
  for (std::optional<std::size_t>& entry : buffer_) {
    if (entry == index) {
      entry.reset();
    } else if (entry && *entry > index) {
      --*entry;
    }
  }
}

}  // namespace sqlengine::exec
