#pragma once
// Between SQLite values and the engine's typed values: result column types
// from declared types (or, for expressions, from the first row), row values
// converted to their column's type, and variables bound as parameters.

#include <sqlite3.h>

#include <optional>
#include <string>
#include <utility>
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

// A char(n) or nchar(n) value blank-padded to n characters, as SQL Server
// keeps a fixed-length variable, parameter, column or function result; any
// other value or type as it is.
Value BlankPadded(Value value, const ColumnType& type);

// `value` rounded half away from zero to the scale of `type` (decimal, money
// or smallmoney), a double through its 17 significant digits as SQL Server
// converts a float. Throws SqlError 8115 beyond the type's range, 8114 for
// text that is no number.
Decimal FitDecimal(const Value& value, const ColumnType& type);

// The range of a type's unscaled values (low, high): up to precision digits
// for decimal, a 64- or 32-bit integer for money and smallmoney.
std::pair<__int128, __int128> DecimalRange(const ColumnType& type);

// A value of `from` (decimal, money, smallmoney, float, real, datetime or
// smalldatetime; exact values as a Decimal, a double or their text) in the
// bytes SQL Server converts it to before fitting them to a binary type: a
// decimal as its precision, its scale, a zero byte, its sign (1 positive)
// and its unscaled magnitude little-endian in as many 4-byte words as it
// needs (at least one); money and smallmoney as their count of
// ten-thousandths in 8 and 4 bytes; float and real as their IEEE bits;
// datetime as days since 1900-01-01 and 1/300 seconds since midnight in 4
// bytes each, smalldatetime as days and minutes in 2 bytes each; all but the
// decimal's magnitude big-endian. Throws SqlError (8115) for a value outside
// the type.
Bytes ValueBytes(const Value& value, const ColumnType& from);

// Binary data read as a datetime or smalldatetime laid out as ValueBytes
// writes one (shorter data as if padded with zeros on the left, longer
// data by its last 8 or 4 bytes). Throws SqlError 8115 for days or a time
// outside the type's range.
DateTime DateTimeFromBytes(const Bytes& bytes, SqlType type);

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
