#pragma once
// The before and after images of the rows one data change statement
// changed, as a trigger sees them in its `inserted` and `deleted` tables.
//
// While the statement runs, SQLite's pre-update hook records the rows it
// changes itself (depth 0) in its target table: the old values of updated
// and deleted rows, the rowids of inserted and updated ones (followed when
// the engine's own identity triggers move a new row). The after images are
// read from the table once the statement is done, so they hold what the
// engine's normalising triggers made of the values: defaults, identity
// values and stored forms as a later SELECT sees them.

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace sqlengine::exec {

// One row's values, owned (sqlite3_value_dup copies).
class RowValues {
 public:
  RowValues() = default;
  RowValues(RowValues&&) noexcept = default;
  RowValues& operator=(RowValues&&) noexcept = default;
  void Add(const sqlite3_value* value);
  size_t Size() const { return values_.size(); }
  const sqlite3_value* At(size_t i) const { return values_[i].get(); }

 private:
  struct Free {
    void operator()(sqlite3_value* value) const { sqlite3_value_free(value); }
  };
  std::vector<std::unique_ptr<sqlite3_value, Free>> values_;
};

using RowImages = std::vector<RowValues>;

// Installs the pre-update hook on `db` for its lifetime (one at a time per
// connection; used on the session's thread only). `schema` and `table` name
// the statement's target table as SQLite knows it.
class RowChangeCapture {
 public:
  RowChangeCapture(sqlite3* db, std::string schema, std::string table);
  ~RowChangeCapture();
  RowChangeCapture(const RowChangeCapture&) = delete;
  RowChangeCapture& operator=(const RowChangeCapture&) = delete;

  // The rows before the statement changed them, in the order it did.
  RowImages& OldRows() { return old_rows_; }
  // The rows as they are now, read from the table by their rowids (engine
  // SQL; call after the statement finished).
  RowImages ReadNewRows() const;

 private:
  static void Hook(void* self, sqlite3* db, int op, const char* schema, const char* table,
                   sqlite3_int64 old_rowid, sqlite3_int64 new_rowid);
  void Record(int op, sqlite3_int64 old_rowid, sqlite3_int64 new_rowid);

  sqlite3* db_;
  std::string schema_;
  std::string table_;
  RowImages old_rows_;
  std::vector<sqlite3_int64> new_rowids_;
  std::unordered_map<sqlite3_int64, size_t> new_positions_;
};

// The `inserted` and `deleted` tables of one trigger firing: TEMP tables of
// those names with the target table's columns (declared types and
// collations), for the firing's lifetime. The tables of a firing this one
// nests in are renamed aside meanwhile and brought back afterwards; when a
// ROLLBACK inside the trigger took the tables away, there is nothing to
// bring back. Throws std::runtime_error when SQLite refuses the tables.
// `inserted` and `deleted` must outlive the object.
class TriggerImages {
 public:
  TriggerImages(sqlite3* db, const std::string& schema, const std::string& table,
                const RowImages& inserted, const RowImages& deleted, int level);
  ~TriggerImages();
  TriggerImages(const TriggerImages&) = delete;
  TriggerImages& operator=(const TriggerImages&) = delete;

  // Makes the tables again after a ROLLBACK inside the trigger took them
  // (they were made in the transaction it ended); the rest of the body
  // still reads them, as in SQL Server.
  void Restore();

 private:
  void Create();
  void Remove();

  sqlite3* db_;
  std::string schema_;
  std::string table_;
  const RowImages& inserted_;
  const RowImages& deleted_;
  std::string set_aside_;  // suffix of the outer firing's tables; empty when none
};

// The column names of `table` in `schema`, in order.
std::vector<std::string> TableColumns(sqlite3* db, const std::string& schema,
                                      const std::string& table);

}  // namespace sqlengine::exec
