#pragma once
// sql_variant values: a value together with the type it was written as (its
// base type), in the one stored form the engine keeps them in (a column, a
// variable, a parameter, a value in flight between SQLite and the engine).
//
// Stored form, a BLOB:
//   2 bytes   F5 56, marking the blob as a sql_variant value
//   1 byte    the base type's SQL Server system type id (56 int, 167 varchar ...)
//   props     decimal: precision, scale; (n)(var)char, (var)binary: max length
//             as 2 bytes little endian; no bytes for the others
//   data      integers and bit: 8 bytes little endian; real and float: the
//             IEEE double, 8 bytes; decimal, money, smallmoney: the unscaled
//             value, 16 bytes little endian (scale: decimal's own, money's 4);
//             datetime, smalldatetime: year (2 bytes), month, day, hour,
//             minute, second (a byte each), millisecond (2 bytes); character
//             data: its UTF-8 bytes; binary data: its bytes; uniqueidentifier:
//             its 36-character text.
// A blob is read as a sql_variant value only when all of it decodes.

#include <optional>
#include <span>
#include <string_view>

#include "engine/common/types.h"

namespace sqlengine::values {

struct VariantValue {
  ColumnType base;  // the type the value was written as
  Value value;      // never NULL: a NULL sql_variant is a NULL, not a variant
};

// Whether `type` can be the base type of a sql_variant (not text, ntext,
// image, MAX types or sql_variant itself).
bool IsVariantBaseType(const ColumnType& type);

// The stored form of `value` as `base`; `value` must already be of `base`'s
// engine form (an int64 for integers, a Decimal for decimal and money ...).
// A value of another form is converted by kind: a text kept as text, a number
// as a number. Throws std::invalid_argument for a type that is no base type.
Bytes EncodeVariant(const ColumnType& base, const Value& value);

// The value a stored form holds; nullopt when `bytes` is no stored variant.
std::optional<VariantValue> DecodeVariant(std::span<const std::uint8_t> bytes);

// A plain engine value wrapped as a sql_variant of its natural type: an
// integer as int (bigint beyond int's range), a double as float, a Decimal as
// decimal(38, its scale), a text as nvarchar of its length, bytes as varbinary,
// a datetime as datetime.
VariantValue NaturalVariant(const Value& value);

// `value` as a stored form: a stored form as it is, anything else wrapped as
// its natural type. NULL stays NULL.
Value AsVariant(const Value& value);

// The sql_variant family order: uniqueidentifier < binary < character <
// exact numeric < approximate numeric < date and time.
int VariantFamily(SqlType base);

// The SQL Server system type id of a base type (56 for int ...), and its name.
int SystemTypeId(SqlType type);

}  // namespace sqlengine::values
