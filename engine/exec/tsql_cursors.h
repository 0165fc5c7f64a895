#pragma once
// T-SQL cursors: what DECLARE CURSOR (or SET @c = CURSOR) makes, OPEN fills,
// FETCH moves over and CLOSE / DEALLOCATE end. An open STATIC cursor holds
// the rows its query returned when it opened, in the CursorRows the API
// server cursors use too; a KEYSET one over a table with a unique key holds
// the members' keys instead and reads each row at FETCH, and a DYNAMIC one
// holds only the key of its current row and seeks from it at each FETCH
// (DynamicCursorRows, shared with the API cursors). A positioned UPDATE or
// DELETE finds its base-table row by the key, else by the values read, as a
// change through an API cursor does.
//
// Ownership: a cursor is shared by the names and cursor variables that
// reach it. GLOBAL cursors belong to the session (SessionCursors), LOCAL
// ones to the batch or procedure that declared them (its BatchExecutor).
// Used on the session's thread only.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/exec/cursor_rows.h"
#include "engine/exec/cursor_seeks.h"
#include "engine/exec/dynamic_cursor_rows.h"
#include "engine/exec/keyset_query.h"
#include "engine/tsql/cursor_statements.h"

namespace sqlengine::exec {

// How an open cursor sees changes made after OPEN: not at all (the rows read
// at OPEN), each member's current values (KEYSET: membership and order fixed
// at OPEN), or its query's current rows (DYNAMIC).
enum class CursorVisibility { kSnapshot, kKeyset, kDynamic };

class TsqlCursor {
 public:
  TsqlCursor(std::string name, tsql::CursorDeclaration declaration)
      : name_(std::move(name)), declaration_(std::move(declaration)) {}

  const std::string& Name() const { return name_; }
  const tsql::CursorDeclaration& Declaration() const { return declaration_; }
  bool IsOpen() const { return rows_.has_value(); }
  // A snapshot: `rows` are the rows themselves.
  void Open(std::vector<Column> columns, std::vector<Row> rows, std::string database) {
    rows_.emplace(std::move(columns), std::move(rows));
    database_ = std::move(database);
    visibility_ = CursorVisibility::kSnapshot;
    dynamic_.reset();
    keyset_.reset();
    seeks_.reset();
  }
  // KEYSET: `keys` are the members' key values (in `key_columns`, named as
  // the table names them), `columns` what a fetch returns. DYNAMIC: no keys;
  // each FETCH seeks.
  void OpenKeyed(CursorVisibility visibility, std::vector<Column> columns,
                 std::vector<Column> key_columns, std::vector<Row> keys, KeysetQuery query,
                 std::string database) {
    rows_.emplace(std::move(columns), std::move(keys));
    keyset_.emplace(std::move(query));
    dynamic_.reset();
    if (visibility == CursorVisibility::kDynamic) dynamic_.emplace(*keyset_, key_columns);
    key_columns_ = std::move(key_columns);
    visibility_ = visibility;
    database_ = std::move(database);
    seeks_.reset();
  }
  void Close() {
    rows_.reset();
    dynamic_.reset();
    keyset_.reset();
    seeks_.reset();
    last_read_.clear();
  }
  // The keyed statements its FETCHes run, kept compiled while it is open;
  // `rules` as CompiledStatements::FollowRules takes it.
  CursorSeeks& Seeks(const std::function<std::uint64_t()>& rules) {
    if (!seeks_) seeks_.emplace(rules);
    return *seeks_;
  }
  // Only while open. For a KEYSET cursor the rows are the members' keys; a
  // DYNAMIC one has none (its columns only).
  CursorRows& Rows() { return *rows_; }
  // Only while open as DYNAMIC.
  DynamicCursorRows& Dynamic() { return *dynamic_; }
  // The key (keyed cursors) or the row (snapshots) the last FETCH made
  // current; nullptr when there is none (or it was deleted through the cursor).
  const Row* Current() {
    if (dynamic_) return dynamic_->BufferKey(1);
    std::optional<std::size_t> index = rows_ ? rows_->BufferRow(1) : std::nullopt;
    return index ? &rows_->RowValues(*index) : nullptr;
  }
  CursorVisibility Visibility() const { return visibility_; }
  // Only while open with a visibility other than kSnapshot.
  const KeysetQuery& Keyset() const { return *keyset_; }
  const std::vector<Column>& KeyColumns() const { return key_columns_; }
  // A keyed cursor's values of the row its last FETCH read (empty when that
  // found no row): what a positioned change expects the row still to hold.
  Row& LastRead() { return last_read_; }
  // The database current when it opened.
  const std::string& Database() const { return database_; }
  // @@CURSOR_ROWS after OPEN: the rows of a static or keyset cursor, -1 for
  // a dynamic one (which does not count them).
  std::int64_t RowsAfterOpen() const;

 private:
  std::string name_;
  tsql::CursorDeclaration declaration_;
  std::optional<CursorRows> rows_;
  CursorVisibility visibility_ = CursorVisibility::kSnapshot;
  std::optional<KeysetQuery> keyset_;
  std::optional<DynamicCursorRows> dynamic_;
  std::optional<CursorSeeks> seeks_;
  std::vector<Column> key_columns_;
  Row last_read_;
  std::string database_;
};

// Cursors by lower-case name; for cursor variables by "@name", nullptr while
// the variable has no cursor.
using CursorMap = std::map<std::string, std::shared_ptr<TsqlCursor>>;

// The session's share of T-SQL cursor state.
struct SessionCursors {
  CursorMap global;
  std::int64_t fetch_status = -1;  // @@FETCH_STATUS
  std::int64_t cursor_rows = 0;    // @@CURSOR_ROWS
  // The LOCAL cursors and cursor variables of the body running now (for
  // CURSOR_STATUS); nullptr between requests.
  const CursorMap* local = nullptr;
  // Every cursor OPEN opened, whatever its scope, for a COMMIT or ROLLBACK
  // that closes them (CURSOR_CLOSE_ON_COMMIT).
  std::vector<std::weak_ptr<TsqlCursor>> opened;

  // Notes that `cursor` opened.
  void Opened(const std::shared_ptr<TsqlCursor>& cursor);
  // Closes every cursor still open, as CLOSE would.
  void CloseAll();

  // CURSOR_STATUS: see FunctionHost::CursorStatus.
  int Status(std::string_view scope, std::string_view name) const;
};

}  // namespace sqlengine::exec
