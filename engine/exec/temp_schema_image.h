#pragma once
// A copy of a connection's temporary schema (the session's #tables, table
// variables and what the engine keeps beside them there): every object's
// definition and every table's rows, read inside a transaction so that the
// same state can be written back after that transaction was rolled back and
// a new one begun. Used on the connection's thread only.

#include <sqlite3.h>

#include <memory>
#include <string>
#include <vector>

namespace sqlengine::exec {

class TempSchemaImage {
 public:
  // Throws std::runtime_error when a read fails, or for a virtual table,
  // which cannot be made again from its definition (the engine makes none
  // there).
  static TempSchemaImage Take(sqlite3* db);

  // Makes the temporary schema of `db` what it was when taken: objects made
  // since are dropped, objects dropped since made again, every table's rows
  // replaced by the ones taken (with their rowids). Run inside a
  // transaction; foreign keys are checked once the rows are all back.
  // Throws std::runtime_error when a write fails, leaving the schema part
  // way: roll the transaction back then.
  void Restore(sqlite3* db) const;

 private:
  struct Object {
    std::string type;
    std::string name;
    std::string sql;  // empty: made by SQLite itself (an automatic index)
  };
  struct ValueFree {
    void operator()(sqlite3_value* value) const { sqlite3_value_free(value); }
  };
  using Value = std::unique_ptr<sqlite3_value, ValueFree>;
  struct Rows {
    std::string table;
    std::string columns;  // as listed in the SELECT and the INSERT
    int width = 0;
    std::vector<std::vector<Value>> rows;
  };

  std::vector<Object> objects_;  // in the order they were made
  std::vector<Rows> tables_;
};

}  // namespace sqlengine::exec
