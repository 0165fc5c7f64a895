#pragma once
// TYPE_INFO: the wire description of a column, parameter or return value,
// and how the engine's declared T-SQL types map onto it.

#include <array>
#include <cstdint>

#include "engine/common/types.h"
#include "engine/tds/byte_reader.h"
#include "engine/tds/byte_writer.h"
#include "engine/tds/version.h"

namespace sqlengine::tds {

enum class WireType : std::uint8_t {
  kNull = 0x1F,
  kInt1 = 0x30,
  kBit = 0x32,
  kInt2 = 0x34,
  kInt4 = 0x38,
  kDateTime4 = 0x3A,
  kFloat4 = 0x3B,
  kMoney = 0x3C,
  kDateTime = 0x3D,
  kFloat8 = 0x3E,
  kMoney4 = 0x7A,
  kInt8 = 0x7F,
  kDecimalLegacy = 0x37,
  kNumericLegacy = 0x3F,
  kGuid = 0x24,
  kIntN = 0x26,
  kBitN = 0x68,
  kDecimalN = 0x6A,
  kNumericN = 0x6C,
  kFloatN = 0x6D,
  kMoneyN = 0x6E,
  kDateTimeN = 0x6F,
  kDateN = 0x28,
  kTimeN = 0x29,
  kDateTime2N = 0x2A,
  kDateTimeOffsetN = 0x2B,
  kCharLegacy = 0x2F,
  kVarCharLegacy = 0x27,
  kBinaryLegacy = 0x2D,
  kVarBinaryLegacy = 0x25,
  kBigVarBinary = 0xA5,
  kBigVarChar = 0xA7,
  kBigBinary = 0xAD,
  kBigChar = 0xAF,
  kNVarChar = 0xE7,
  kNChar = 0xEF,
  kText = 0x23,
  kImage = 0x22,
  kNText = 0x63,
  kSqlVariant = 0x62,
};

// Max length that marks a PLP (MAX) value on 7.2+.
inline constexpr std::uint32_t kPlpMarker = 0xFFFF;

struct TypeInfo {
  WireType type = WireType::kIntN;
  std::uint32_t max_length = 0;  // bytes; fixed types: their size
  std::uint8_t precision = 0;    // DECIMALN/NUMERICN
  std::uint8_t scale = 0;        // DECIMALN/NUMERICN, TIMEN, DATETIME2N, DATETIMEOFFSETN
  std::array<std::uint8_t, 5> collation{};
};

enum class LengthKind { kFixed, kByte, kUShort, kLong, kScaleOnly };
LengthKind LengthKindOf(WireType type);
bool HasCollation(WireType type);
bool IsTextPointerType(WireType type);  // TEXT, NTEXT, IMAGE
inline bool IsPlp(const TypeInfo& t) {
  return t.max_length == kPlpMarker &&
         (t.type == WireType::kBigVarChar || t.type == WireType::kBigVarBinary ||
          t.type == WireType::kNVarChar);
}

// The TYPE_INFO the engine sends for a declared type: nullable "N" forms,
// (n)varchar(max)/varbinary(max) as PLP on 7.2+ and as NTEXT/TEXT/IMAGE on
// 7.1, character data in the server collation.
TypeInfo DescribeType(const ColumnType& type, TdsVersion version);

// The declared type an RPC parameter's TYPE_INFO stands for.
ColumnType ToColumnType(const TypeInfo& info);

void WriteTypeInfo(const TypeInfo& info, ByteWriter& out);
// Throws DecodeError for unknown or unsupported type codes and invalid sizes.
TypeInfo ReadTypeInfo(ByteReader& in, TdsVersion version);
// The same in two steps: reading (throws DecodeError for unknown codes, MAX
// before 7.2 and truncation), then checking the sizes against the type
// (throws DecodeError), so a caller can still frame the value of a TYPE_INFO
// that fails the check.
TypeInfo ReadTypeInfoUnchecked(ByteReader& in, TdsVersion version);
void CheckTypeInfo(const TypeInfo& info);

}  // namespace sqlengine::tds
