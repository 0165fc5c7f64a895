#pragma once
// The variables an UPDATE assigns row by row (UPDATE t SET @v = expr,
// @v = column = expr). The generated text (tsql/bind/bound_tree.h) calls
// sqlengine_assign(name, value), which stores the value converted to the
// variable's declared type as SET @v converts it and returns it, and
// sqlengine_variable(name), which reads what is stored now. A
// PerRowVariables scope is open while such a statement runs; the functions
// work on the innermost one (a statement a called function runs has its
// own). Used on the session's thread only.

#include <sqlite3.h>

#include <map>
#include <string>

#include "engine/catalog/sqlite_handle.h"
#include "engine/exec/session.h"
#include "engine/tsql/sqlite_text.h"

namespace sqlengine::exec {

class PerRowVariables {
 public:
  // Opens the scope for running `text` on `db`; `variables` are the
  // session's, which the rows' assignments change in place.
  PerRowVariables(sqlite3* db, std::map<std::string, Variable>& variables,
                  const tsql::SqliteText& text);
  ~PerRowVariables();
  PerRowVariables(const PerRowVariables&) = delete;
  PerRowVariables& operator=(const PerRowVariables&) = delete;

  // The SQLite functions' work: store `value` under `name` and answer it,
  // or answer what `name` holds. Throws SqlError (137 for a name not
  // declared, 8115 / 245 as the conversion to the variable's type).
  void Assign(sqlite3_context* context, const std::string& name, sqlite3_value* value);
  void Read(sqlite3_context* context, const std::string& name);

 private:
  struct Held {
    Value* value;
    const ColumnType* type;
  };
  Held Find(const std::string& name);
  // `value` as a Value of `type`, read as the generated text holds it.
  Value FromSqlite(sqlite3_value* value, const ColumnType& type);
  // `value` answered as the generated text reads a variable of `type`.
  void Answer(sqlite3_context* context, const Value& value, const ColumnType& type);

  std::map<std::string, Variable>& variables_;
  bool exact_stored_form_;
  // The columns' new values variables take, held for the current row.
  std::map<std::string, Variable> column_values_;
  catalog::PreparedStatement echo_;  // SELECT ?1: a value between SQLite's form and ours
};

void RegisterPerRowVariableFunctions(sqlite3* db);

}  // namespace sqlengine::exec
