#pragma once
// Identity values an INSERT that fails took stay used, as in SQL Server: a
// row refused for a NULL (515), a CHECK or FOREIGN KEY (547) or a repeated
// key (2627, 2601) leaves a gap. SQLite undoes a failed statement's counter
// with its rows, so the rows the statement added are counted while it runs,
// and the counter is moved past them (and the refused row) after the undo.

#include <sqlite3.h>

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "engine/tsql/token.h"

namespace sqlengine::exec {

struct WrittenName;

class IdentityValuesTaken {
 public:
  // Counts the rows the INSERT `insert` (T-SQL tokens), whose SQLite text
  // names `written`, adds to its table from now until destruction.
  IdentityValuesTaken(sqlite3* db, const tsql::Tokens& insert, const WrittenName& written);
  ~IdentityValuesTaken();
  IdentityValuesTaken(const IdentityValuesTaken&) = delete;
  IdentityValuesTaken& operator=(const IdentityValuesTaken&) = delete;

  // After the INSERT failed with `failure` and SQLite undid it: when the
  // failure is one of the refusals above and the table's identity assigns
  // the values (not SET IDENTITY_INSERT's `identity_insert_table`), moves
  // the table's counter past the values the statement took. A counter SQLite
  // will not write (a lock another session holds) stays as it is: the
  // statement's own error is the one reported.
  void KeepAfterFailure(const std::exception_ptr& failure,
                        const std::string& identity_insert_table);

  // Told where a repeated key becomes an error, on the session's thread:
  // whether a trigger refused the row (the engine's check of keys holding
  // NULL, exec/null_keys.h, which runs after the row was added and counted)
  // rather than SQLite's own check, which refuses it before.
  static void NoteKeyRefusedByTrigger(bool by_trigger);

 private:
  static void Counted(void* self, int operation, const char* schema, const char* table,
                      sqlite3_int64 rowid);
  // The number of values the failed statement took; 0 for another failure.
  std::int64_t ValuesTaken(const std::exception_ptr& failure) const;
  // `table` as `schema` keeps its name.
  void MoveCounter(const std::string& schema, const std::string& table,
                   std::int64_t values) const;

  sqlite3* db_;
  std::string table_;
  std::string schema_;  // as the INSERT names it; else where SQLite found the first row
  bool single_row_ = false;
  std::int64_t rows_ = 0;
  void* previous_argument_ = nullptr;
};

}  // namespace sqlengine::exec
