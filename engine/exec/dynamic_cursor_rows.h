#pragma once
// The fetch buffer of a DYNAMIC cursor (a T-SQL one or an API server cursor)
// over a keyed query: which rows it holds, by their keys, and where it moves
// next. Each move seeks from the key of the buffer's first or last row in
// key order (see Seek in keyset_query.h), so it reads only the rows it
// returns, however far the cursor has gone, and sees every insert, update
// and delete committed since the last move. Positions are counted only
// roughly, for sp_cursorfetch's INFO: a dynamic cursor has no fixed row
// numbers. Not thread-safe; a cursor belongs to one session.

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "engine/exec/keyset_query.h"

namespace sqlengine::exec {

class DynamicCursorRows {
 public:
  // Runs a keyed statement as the session and returns its rows (the
  // cursor's columns, then the key); throws SqlError when it fails.
  using Runner = std::function<std::vector<Row>(const KeyedStatement&)>;

  // `key_columns` as the keyed query returned them. `query` must outlive
  // this and stay where it is (the cursor that owns both keeps it).
  DynamicCursorRows(const KeysetQuery& query, std::vector<Column> key_columns);

  // Moves the buffer as sp_cursorfetch's `fetch_type` asks (the same
  // FetchType values, with the meanings CursorRows gives them) and returns
  // the rows now in it; nullopt for a fetch type it does not know, the
  // buffer staying where it was.
  std::optional<std::vector<KeyedRow>> Fetch(int fetch_type, std::int64_t rownum,
                                             std::int64_t nrows, const Runner& run);

  std::int64_t BufferSize() const { return static_cast<std::int64_t>(buffer_.size()); }
  // The key of the buffer's row `in_buffer` (1-based); nullptr when there is
  // none or it was deleted through the cursor.
  const Row* BufferKey(std::int64_t in_buffer) const;
  // A row deleted through the cursor: a hole in the buffer until it moves.
  void Forget(std::int64_t in_buffer);
  // Roughly where the buffer starts: 0 before the first row, 1 at it ...
  std::int64_t Position() const { return position_; }

 private:
  enum class Place { kBeforeFirst, kInRows, kAfterLast };

  // The rows from the first one on (or from the last one back).
  std::vector<KeyedRow> FromEnd(bool first, std::int64_t count, const Runner& run) const;
  // The `count` rows after (or before) `key`.
  std::vector<KeyedRow> From(const Row& key, bool forward, bool inclusive, std::int64_t count,
                             const Runner& run) const;
  // The `skip`-th row past `key` (or past the start when `key` is null) in
  // the direction given, and the rows from it: nullopt when there are not
  // that many.
  std::optional<std::vector<KeyedRow>> Past(const Row* key, bool forward, std::int64_t skip,
                                            std::int64_t nrows, const Runner& run) const;
  // Makes `rows` the buffer (in key order); an empty one leaves the cursor
  // at `empty_place`.
  std::vector<KeyedRow> Hold(std::vector<KeyedRow> rows, Place empty_place, std::int64_t position);

  const KeysetQuery& query_;
  std::vector<Column> key_columns_;
  Place place_ = Place::kBeforeFirst;
  std::vector<Row> buffer_;    // the keys of the rows in the buffer, in key order
  std::vector<bool> deleted_;  // per buffer row
  std::int64_t position_ = 0;
};

}  // namespace sqlengine::exec
