#include "engine/exec/dynamic_cursor_rows.h"

#include <algorithm>

#include "engine/exec/cursor_rows.h"

namespace sqlengine::exec {

DynamicCursorRows::DynamicCursorRows(const KeysetQuery& query, std::vector<Column> key_columns)
    : query_(query), key_columns_(std::move(key_columns)) {}

std::vector<KeyedRow> DynamicCursorRows::FromEnd(bool first, std::int64_t count,
                                                 const Runner& run) const {
  if (count <= 0) return {};
  std::vector<KeyedRow> rows = SplitKeyedRows(
      run(Seek(query_, key_columns_, nullptr, first, false, count)), key_columns_.size());
  if (!first) std::reverse(rows.begin(), rows.end());
  return rows;
}

std::vector<KeyedRow> DynamicCursorRows::From(const Row& key, bool forward, bool inclusive,
                                              std::int64_t count, const Runner& run) const {
  if (count <= 0) return {};
  std::vector<KeyedRow> rows = SplitKeyedRows(
      run(Seek(query_, key_columns_, &key, forward, inclusive, count)), key_columns_.size());
  if (!forward) std::reverse(rows.begin(), rows.end());
  return rows;
}

std::optional<std::vector<KeyedRow>> DynamicCursorRows::Past(const Row* key, bool forward,
                                                             std::int64_t skip, std::int64_t nrows,
                                                             const Runner& run) const {
  // Reads the rows up to the one it lands on: a jump costs its length.
  std::vector<KeyedRow> passed =
      key != nullptr ? From(*key, forward, false, skip, run) : FromEnd(forward, skip, run);
  if (static_cast<std::int64_t>(passed.size()) < skip) return std::nullopt;
  const KeyedRow& landing = forward ? passed.back() : passed.front();
  return From(landing.key, true, true, nrows, run);
}

std::vector<KeyedRow> DynamicCursorRows::Hold(std::vector<KeyedRow> rows, Place empty_place,
                                              std::int64_t position) {
  buffer_.clear();
  deleted_.clear();
  if (rows.empty()) {
    place_ = empty_place;
    position_ = empty_place == Place::kBeforeFirst ? 0 : std::max<std::int64_t>(position_, 1);
    return rows;
  }
  for (const KeyedRow& row : rows) buffer_.push_back(row.key);
  deleted_.assign(rows.size(), false);
  place_ = Place::kInRows;
  position_ = std::max<std::int64_t>(position, 1);
  return rows;
}

std::optional<std::vector<KeyedRow>> DynamicCursorRows::Fetch(int fetch_type, std::int64_t rownum,
                                                              std::int64_t nrows,
                                                              const Runner& run) {
  const bool in_rows = place_ == Place::kInRows && !buffer_.empty();
  const Row* first = in_rows ? &buffer_.front() : nullptr;
  const Row* last = in_rows ? &buffer_.back() : nullptr;
  const std::int64_t size = BufferSize();
  switch (fetch_type & ~kFetchSkipUpdateConcurrency) {
    case kFetchFirst:
      if (nrows == 0) return Hold({}, Place::kBeforeFirst, 0);
      return Hold(FromEnd(true, nrows, run), Place::kAfterLast, 1);
    case kFetchNext:
      if (place_ == Place::kAfterLast) return Hold({}, Place::kAfterLast, position_);
      if (!in_rows) return Hold(FromEnd(true, nrows, run), Place::kAfterLast, 1);
      return Hold(From(*last, true, false, nrows, run), Place::kAfterLast, position_ + size);
    case kFetchPrev:
    case kFetchPrevNoAdjust: {
      if (place_ == Place::kBeforeFirst) return Hold({}, Place::kBeforeFirst, 0);
      if (!in_rows) {
        std::vector<KeyedRow> rows = FromEnd(false, nrows, run);
        return Hold(std::move(rows), Place::kBeforeFirst, position_ - nrows);
      }
      std::vector<KeyedRow> rows = From(*first, false, false, nrows, run);
      // The top of the rows comes first: PREV shows a whole buffer from the
      // first row, PREV_NOADJUST only the rows before the old buffer.
      if (!rows.empty() && static_cast<std::int64_t>(rows.size()) < nrows &&
          (fetch_type & kFetchPrev) != 0) {
        rows = FromEnd(true, nrows, run);
      }
      return Hold(std::move(rows), Place::kBeforeFirst, position_ - nrows);
    }
    case kFetchLast:
      if (nrows == 0) return Hold({}, Place::kAfterLast, position_);
      return Hold(FromEnd(false, nrows, run), Place::kBeforeFirst, 1);
    case kFetchAbsolute: {
      if (rownum == 0) return Hold({}, Place::kBeforeFirst, 0);
      if (rownum > 0) {
        std::optional<std::vector<KeyedRow>> rows = Past(nullptr, true, rownum, nrows, run);
        return Hold(rows.value_or(std::vector<KeyedRow>()), Place::kAfterLast, rownum);
      }
      std::optional<std::vector<KeyedRow>> rows = Past(nullptr, false, -rownum, nrows, run);
      // Counting back past the first row, but by no more than a buffer's
      // rows, shows the first buffer (as ODBC's SQLFetchScroll does).
      if (!rows && rownum >= -nrows) return Hold(FromEnd(true, nrows, run), Place::kAfterLast, 1);
      return Hold(rows.value_or(std::vector<KeyedRow>()), Place::kBeforeFirst, position_);
    }
    case kFetchRelative: {
      if (rownum == 0) {
        if (!in_rows) return Hold({}, place_, position_);
        return Hold(From(*first, true, true, size, run), Place::kAfterLast, position_);
      }
      if (place_ == Place::kBeforeFirst && rownum < 0) return Hold({}, Place::kBeforeFirst, 0);
      if (place_ == Place::kAfterLast && rownum > 0) return Hold({}, Place::kAfterLast, position_);
      const bool forward = rownum > 0;
      const std::int64_t distance = forward ? rownum : -rownum;
      std::optional<std::vector<KeyedRow>> rows = Past(first, forward, distance, nrows, run);
      return Hold(rows.value_or(std::vector<KeyedRow>()),
                  forward ? Place::kAfterLast : Place::kBeforeFirst, position_ + rownum);
    }
    case kFetchRefresh:
      if (!in_rows) return Hold({}, place_, position_);
      return Hold(From(*first, true, true, size, run), Place::kAfterLast, position_);
    default:
      return std::nullopt;
  }
}

const Row* DynamicCursorRows::BufferKey(std::int64_t in_buffer) const {
  if (in_buffer < 1 || in_buffer > BufferSize()) return nullptr;
  const auto index = static_cast<std::size_t>(in_buffer - 1);
  return deleted_[index] ? nullptr : &buffer_[index];
}

void DynamicCursorRows::Forget(std::int64_t in_buffer) {
  if (in_buffer >= 1 && in_buffer <= BufferSize())
    deleted_[static_cast<std::size_t>(in_buffer - 1)] = true;
}

}  // namespace sqlengine::exec
