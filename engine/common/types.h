#pragma once
// Column types and values exchanged between the executor and the wire layer.
// Text is always UTF-8 inside the engine; the wire layer converts to UCS-2.

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace sqlengine {

// The declared T-SQL type of a column, parameter or variable.
enum class SqlType {
  kTinyInt,
  kSmallInt,
  kInt,
  kBigInt,
  kBit,
  kReal,
  kFloat,
  kDecimal,  // also NUMERIC
  kMoney,
  kSmallMoney,
  kDateTime,
  kSmallDateTime,
  kChar,
  kVarChar,
  kText,
  kNChar,
  kNVarChar,
  kNText,
  kBinary,
  kVarBinary,
  kImage,
  kUniqueIdentifier,
  kSqlVariant,
};

// Length marker for VARCHAR(MAX), NVARCHAR(MAX) and VARBINARY(MAX).
inline constexpr int kMaxLength = -1;

struct ColumnType {
  SqlType type = SqlType::kInt;
  // Characters for (N)CHAR/(N)VARCHAR, bytes for (VAR)BINARY, kMaxLength for MAX.
  int length = 0;
  int precision = 0;  // DECIMAL/NUMERIC
  int scale = 0;      // DECIMAL/NUMERIC
  bool nullable = true;
  bool identity = false;
  // Character data under a case-sensitive or binary collation (a _CS or _BIN
  // one). Otherwise the server's case-insensitive collation applies.
  bool case_sensitive = false;
  // With case_sensitive, a _BIN collation: compared by its bytes. Otherwise
  // in dictionary order, case deciding only between texts otherwise equal.
  bool binary_order = false;
  // An _AI collation: accents do not count ('e' = 'é').
  bool accent_insensitive = false;
  // SQL_Latin1_General_CP1_CS_AS, whose order of non-Unicode data puts upper
  // case first ('A' before 'a'); Unicode data under it follows the Windows
  // rule (lower case first).
  bool upper_first = false;
  // A timestamp (rowversion) column: binary(8), never NULL, which the engine
  // sets from the database's counter on every insert and update of the row.
  bool row_version = false;
  // Declared NUMERIC rather than DECIMAL: the same values and arithmetic, but
  // the catalog (xtype 108, sp_columns, sp_help) and the wire name it apart.
  bool numeric = false;
};

struct Column {
  std::string name;
  ColumnType type;
};

struct DateTime {
  int year = 1900, month = 1, day = 1;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
  friend bool operator==(const DateTime&, const DateTime&) = default;
};

// Exact decimal: value = unscaled / 10^scale (DECIMAL/NUMERIC up to 38 digits,
// MONEY with scale 4).
struct Decimal {
  __int128 unscaled = 0;
  int scale = 0;
  friend bool operator==(const Decimal&, const Decimal&) = default;
};

using Bytes = std::vector<std::uint8_t>;

// A NULL is std::monostate. Integers and BIT travel as int64, REAL/FLOAT as
// double, character data as UTF-8 std::string, binary data as Bytes.
using Value = std::variant<std::monostate, std::int64_t, double, std::string, Bytes, Decimal, DateTime>;

inline bool IsNull(const Value& v) { return std::holds_alternative<std::monostate>(v); }

using Row = std::vector<Value>;

}  // namespace sqlengine
