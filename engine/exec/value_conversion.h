#pragma once
// Between SQLite values and the engine's typed values: result column types
// from declared types (or, for expressions, from the first row), row values
// converted to their column's type, and variables bound as parameters.

#include <sqlite3.h>

#include <optional>
#include <string>
#include <vector>

#include "engine/common/types.h"

namespace sqlengine::exec {

// The T-SQL type of result column `column` when it is a table column with a
// declared type this engine knows (nullability and identity included).
std::optional<ColumnType> DeclaredColumnType(sqlite3* db, sqlite3_stmt* statement, int column);

// The type of an expression column, settled from the values it yields: an
// integer column becomes float once a fractional value is seen, text wider
// than 4000 characters makes it nvarchar(max).
struct ValueTypeGuess {
  bool inferred = false;
  bool integer = false, real = false, text = false, binary = false;
  bool big_integer = false, long_text = false, long_binary = false;
  void Observe(const Value& value);
  ColumnType Type() const;
};

// The result column's name as SQL Server reports it: the alias or column
// name, empty for an expression without an alias.
std::string ResultColumnName(sqlite3_stmt* statement, int column);

// The value of `column` in the current row as `type` needs it. Throws
// SqlError (241, 245, 8114) when it cannot be converted.
Value ColumnValue(sqlite3_stmt* statement, int column, const ColumnType& type);

// A value of an evaluated expression (sqlite3_value) without a declared type.
Value PlainValue(sqlite3_value* value);

// Binds value to parameter `index` (1-based).
void BindValue(sqlite3_stmt* statement, int index, const Value& value);

// Converts a value to the variable type it is assigned to (DECLARE @v int = '5').
// Throws SqlError when it cannot be converted.
Value ConvertForType(const Value& value, const ColumnType& type);

// `value` rounded half away from zero to the scale of `type` (decimal, money
// or smallmoney), a double as the shortest text that reads back as it. Throws
// SqlError 8115 beyond the type's range, 8114 for text that is no number.
Decimal FitDecimal(const Value& value, const ColumnType& type);

// A datetime in the stored form "YYYY-MM-DD HH:MM:SS[.mmm]" and no other;
// nullopt otherwise. What a datetime column or function yields.
std::optional<DateTime> StoredDateTime(std::string_view text);

// A datetime from any text SQL Server reads as one, under the session's
// DATEFORMAT (see values/date_text.h); nullopt when it is none.
std::optional<DateTime> ParseDateTimeText(std::string_view text);

// Text forms used by conversions and PRINT.
std::string ValueText(const Value& value);
std::string DateTimeText(const DateTime& value);
std::string DecimalText(const Decimal& value);

}  // namespace sqlengine::exec
