#include "column_value.h"

#include <charconv>
#include <cstdlib>
#include <cstring>

namespace dbplatform {
namespace {

// Longest declared size that is still bound: 8000 bytes is the largest
// non-(max) binary or single-byte text column, 4000 the largest Unicode one.
constexpr SQLULEN kLongestBoundSize = 8000;
// Room beside a decimal's digits for its sign, point and a leading zero.
constexpr std::size_t kDecimalExtraBytes = 4;
constexpr std::size_t kUtf8BytesPerCharacter = 4;

template <class T>
T Load(const void* data) {
  T value;
  std::memcpy(&value, data, sizeof value);
  return value;
}

}  // namespace

SQLSMALLINT FetchCType(SQLSMALLINT sql_type) {
  switch (sql_type) {
    case SQL_BIT:
      return SQL_C_BIT;
    case SQL_TINYINT:
    case SQL_SMALLINT:
      return SQL_C_SSHORT;
    case SQL_INTEGER:
      return SQL_C_SLONG;
    case SQL_BIGINT:
      return SQL_C_SBIGINT;
    case SQL_REAL:
      return SQL_C_FLOAT;
    case SQL_FLOAT:
    case SQL_DOUBLE:
      return SQL_C_DOUBLE;
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
    case SQL_TYPE_TIMESTAMP:
    case SQL_DATETIME:
    case -154:  // time(n) of later servers
    case -155:  // datetimeoffset
      return SQL_C_TYPE_TIMESTAMP;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
      return SQL_C_BINARY;
    default:  // decimals and text, and whatever else the driver can show as text
      return SQL_C_CHAR;
  }
}

std::size_t FixedSize(SQLSMALLINT c_type) {
  switch (c_type) {
    case SQL_C_BIT:
      return sizeof(unsigned char);
    case SQL_C_SSHORT:
      return sizeof(SQLSMALLINT);
    case SQL_C_SLONG:
      return sizeof(SQLINTEGER);
    case SQL_C_SBIGINT:
      return sizeof(SQLBIGINT);
    case SQL_C_FLOAT:
      return sizeof(float);
    case SQL_C_DOUBLE:
      return sizeof(double);
    case SQL_C_TYPE_TIMESTAMP:
      return sizeof(SQL_TIMESTAMP_STRUCT);
    default:
      return 0;
  }
}

std::optional<std::size_t> BoundBufferSize(const ColumnInfo& column) {
  const SQLSMALLINT c_type = FetchCType(column.sql_type);
  if (const std::size_t fixed = FixedSize(c_type); fixed != 0) return fixed;
  const std::size_t size = column.size;
  switch (column.sql_type) {
    case SQL_BINARY:
    case SQL_VARBINARY:
      if (size == 0 || size > kLongestBoundSize) return std::nullopt;
      return size;
    case SQL_DECIMAL:
    case SQL_NUMERIC:
      if (size == 0 || size > kLongestBoundSize) return std::nullopt;
      return size + kDecimalExtraBytes + 1;
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_GUID:
      if (size == 0 || size > kLongestBoundSize) return std::nullopt;
      return size * kUtf8BytesPerCharacter + 1;
    default:  // long values and types whose text length is not known
      return std::nullopt;
  }
}

Value DecodeValue(SQLSMALLINT sql_type, const void* data, std::size_t length) {
  switch (FetchCType(sql_type)) {
    case SQL_C_BIT:
      return Load<unsigned char>(data) != 0;
    case SQL_C_SSHORT:
      return static_cast<std::int16_t>(Load<SQLSMALLINT>(data));
    case SQL_C_SLONG:
      return static_cast<std::int32_t>(Load<SQLINTEGER>(data));
    case SQL_C_SBIGINT:
      return static_cast<std::int64_t>(Load<SQLBIGINT>(data));
    case SQL_C_FLOAT: {
      // A 4-byte value shows as its own shortest text, not the double's.
      char text[32];
      auto end = std::to_chars(text, text + sizeof text - 1, Load<float>(data)).ptr;
      *end = '\0';
      return std::strtod(text, nullptr);
    }
    case SQL_C_DOUBLE:
      return Load<double>(data);
    case SQL_C_TYPE_TIMESTAMP: {
      const auto t = Load<SQL_TIMESTAMP_STRUCT>(data);
      return DateTime{t.year,
                      t.month,
                      t.day,
                      t.hour,
                      t.minute,
                      t.second,
                      static_cast<int>(t.fraction / 1000000)};
    }
    case SQL_C_BINARY: {
      const auto* bytes = static_cast<const std::uint8_t*>(data);
      return Bytes(bytes, bytes + length);
    }
    default: {
      std::string text(static_cast<const char*>(data), length);
      if (sql_type == SQL_DECIMAL || sql_type == SQL_NUMERIC) return DecimalText{std::move(text)};
      return text;
    }
  }
}

}  // namespace dbplatform
