#pragma once
// How the values of one result column are fetched from the driver: the C type
// they are asked for, the bytes a bound buffer needs to hold any of them, and
// turning the fetched bytes into a Value. Shared by the row-at-a-time reads
// (SQLGetData) and the block reads over bound buffers, so that both give the
// same values.

#include <sql.h>
#include <sqlext.h>

#include <cstddef>
#include <optional>
#include <string>

#include "dbplatform/value.h"

namespace dbplatform {

struct ColumnInfo {
  std::string name;
  SQLSMALLINT sql_type = SQL_UNKNOWN_TYPE;
  SQLULEN size = 0;
  SQLSMALLINT decimal_digits = 0;
};

// The C type the column's values are fetched as.
SQLSMALLINT FetchCType(SQLSMALLINT sql_type);

// The size of a fixed-size C type (numbers, bit, timestamp); 0 for the
// variable-length ones (SQL_C_CHAR, SQL_C_BINARY).
std::size_t FixedSize(SQLSMALLINT c_type);

// The bytes a bound buffer needs so that no value of the column is cut, the
// terminating NUL of text included; nothing for columns whose values can be
// too long to bind (text, ntext, the (max) types, or a size the driver does
// not give). Text arrives in UTF-8, up to 4 bytes a character.
std::optional<std::size_t> BoundBufferSize(const ColumnInfo& column);

// The value of fetched, non-NULL bytes: `length` bytes at `data`, as fetched
// in FetchCType(sql_type).
Value DecodeValue(SQLSMALLINT sql_type, const void* data, std::size_t length);

}  // namespace dbplatform
