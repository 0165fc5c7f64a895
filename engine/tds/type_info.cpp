#include "engine/tds/type_info.h"

#include <algorithm>
#include <array>
#include <string>

#include "engine/tds/server_identity.h"

namespace sqlengine::tds {
namespace {

constexpr std::uint32_t kTextMaxLength = 0x7FFFFFFF;
constexpr std::uint32_t kNTextMaxLength = 0x7FFFFFFE;
constexpr int kMaxVarLength = 8000;
// What SQL Server declares for a sql_variant column: 8000 data bytes and the
// largest base type's header.
constexpr std::uint32_t kVariantMaxLength = 8016;  // bytes of a non-MAX (var)char/(var)binary

std::uint8_t DecimalSize(int precision) {
  if (precision <= 9) return 5;
  if (precision <= 19) return 9;
  if (precision <= 28) return 13;
  return 17;
}

TypeInfo Fixed(WireType type, std::uint32_t size) {
  TypeInfo t;
  t.type = type;
  t.max_length = size;
  return t;
}

TypeInfo Character(WireType type, std::uint32_t max_length) {
  TypeInfo t = Fixed(type, max_length);
  if (HasCollation(type)) t.collation = kCollation;
  return t;
}

// Byte length of a sized (var)char/(var)binary/n(var)char column.
std::uint32_t SizedLength(int length, int bytes_per_char) {
  int chars = std::clamp(length, 1, kMaxVarLength / bytes_per_char);
  return static_cast<std::uint32_t>(chars * bytes_per_char);
}

// What the decoder and encoder need to know about each type code.
struct TypeTraits {
  WireType type;
  LengthKind length;
  std::uint32_t fixed_size;  // kFixed types: the value size
  bool collation;
};

constexpr TypeTraits kTypeTraits[] = {
    {WireType::kNull, LengthKind::kFixed, 0, false},
    {WireType::kInt1, LengthKind::kFixed, 1, false},
    {WireType::kBit, LengthKind::kFixed, 1, false},
    {WireType::kInt2, LengthKind::kFixed, 2, false},
    {WireType::kInt4, LengthKind::kFixed, 4, false},
    {WireType::kDateTime4, LengthKind::kFixed, 4, false},
    {WireType::kFloat4, LengthKind::kFixed, 4, false},
    {WireType::kMoney, LengthKind::kFixed, 8, false},
    {WireType::kDateTime, LengthKind::kFixed, 8, false},
    {WireType::kFloat8, LengthKind::kFixed, 8, false},
    {WireType::kMoney4, LengthKind::kFixed, 4, false},
    {WireType::kInt8, LengthKind::kFixed, 8, false},
    {WireType::kDateN, LengthKind::kFixed, 3, false},  // no TYPE_INFO length; values have one
    {WireType::kDecimalLegacy, LengthKind::kByte, 0, false},
    {WireType::kNumericLegacy, LengthKind::kByte, 0, false},
    {WireType::kGuid, LengthKind::kByte, 0, false},
    {WireType::kIntN, LengthKind::kByte, 0, false},
    {WireType::kBitN, LengthKind::kByte, 0, false},
    {WireType::kDecimalN, LengthKind::kByte, 0, false},
    {WireType::kNumericN, LengthKind::kByte, 0, false},
    {WireType::kFloatN, LengthKind::kByte, 0, false},
    {WireType::kMoneyN, LengthKind::kByte, 0, false},
    {WireType::kDateTimeN, LengthKind::kByte, 0, false},
    {WireType::kCharLegacy, LengthKind::kByte, 0, false},
    {WireType::kVarCharLegacy, LengthKind::kByte, 0, false},
    {WireType::kBinaryLegacy, LengthKind::kByte, 0, false},
    {WireType::kVarBinaryLegacy, LengthKind::kByte, 0, false},
    {WireType::kTimeN, LengthKind::kScaleOnly, 0, false},
    {WireType::kDateTime2N, LengthKind::kScaleOnly, 0, false},
    {WireType::kDateTimeOffsetN, LengthKind::kScaleOnly, 0, false},
    {WireType::kBigVarBinary, LengthKind::kUShort, 0, false},
    {WireType::kBigBinary, LengthKind::kUShort, 0, false},
    {WireType::kBigVarChar, LengthKind::kUShort, 0, true},
    {WireType::kBigChar, LengthKind::kUShort, 0, true},
    {WireType::kNVarChar, LengthKind::kUShort, 0, true},
    {WireType::kNChar, LengthKind::kUShort, 0, true},
    {WireType::kText, LengthKind::kLong, 0, true},
    {WireType::kNText, LengthKind::kLong, 0, true},
    {WireType::kImage, LengthKind::kLong, 0, false},
    {WireType::kSqlVariant, LengthKind::kLong, 0, false},
};

// Position of each wire code's traits in kTypeTraits; 0 also marks an unknown code.
constexpr std::array<std::uint8_t, 256> kTraitsIndex = [] {
  std::array<std::uint8_t, 256> index{};
  for (std::size_t i = 0; i < std::size(kTypeTraits); ++i)
    index[static_cast<std::uint8_t>(kTypeTraits[i].type)] = static_cast<std::uint8_t>(i);
  return index;
}();

// Null for a code this engine does not know.
const TypeTraits* FindTraits(std::uint8_t code) {
  const TypeTraits& t = kTypeTraits[kTraitsIndex[code]];
  return static_cast<std::uint8_t>(t.type) == code ? &t : nullptr;
}

const TypeTraits& Traits(WireType type) {
  const TypeTraits* traits = FindTraits(static_cast<std::uint8_t>(type));
  return traits ? *traits : kTypeTraits[0];
}

}  // namespace

LengthKind LengthKindOf(WireType type) { return Traits(type).length; }

bool HasCollation(WireType type) { return Traits(type).collation; }

bool IsTextPointerType(WireType type) {
  return type == WireType::kText || type == WireType::kNText || type == WireType::kImage;
}

TypeInfo DescribeType(const ColumnType& type, TdsVersion version) {
  const bool max = type.length == kMaxLength;
  switch (type.type) {
    case SqlType::kTinyInt:
      return Fixed(WireType::kIntN, 1);
    case SqlType::kSmallInt:
      return Fixed(WireType::kIntN, 2);
    case SqlType::kInt:
      return Fixed(WireType::kIntN, 4);
    case SqlType::kBigInt:
      return Fixed(WireType::kIntN, 8);
    case SqlType::kBit:
      return Fixed(WireType::kBitN, 1);
    case SqlType::kReal:
      return Fixed(WireType::kFloatN, 4);
    case SqlType::kFloat:
      return Fixed(WireType::kFloatN, 8);
    case SqlType::kDecimal: {
      int precision = type.precision <= 0 ? 18 : std::min(type.precision, 38);
      TypeInfo t = Fixed(type.numeric ? WireType::kNumericN : WireType::kDecimalN,
                         DecimalSize(precision));
      t.precision = static_cast<std::uint8_t>(precision);
      t.scale = static_cast<std::uint8_t>(std::clamp(type.scale, 0, precision));
      return t;
    }
    case SqlType::kMoney:
      return Fixed(WireType::kMoneyN, 8);
    case SqlType::kSmallMoney:
      return Fixed(WireType::kMoneyN, 4);
    case SqlType::kDateTime:
      return Fixed(WireType::kDateTimeN, 8);
    case SqlType::kSmallDateTime:
      return Fixed(WireType::kDateTimeN, 4);
    case SqlType::kChar:
      return Character(WireType::kBigChar, SizedLength(type.length, 1));
    case SqlType::kVarChar:
      if (!max) return Character(WireType::kBigVarChar, SizedLength(type.length, 1));
      return HasPlp(version) ? Character(WireType::kBigVarChar, kPlpMarker)
                             : Character(WireType::kText, kTextMaxLength);
    case SqlType::kText:
      return Character(WireType::kText, kTextMaxLength);
    case SqlType::kNChar:
      return Character(WireType::kNChar, SizedLength(type.length, 2));
    case SqlType::kNVarChar:
      if (!max) return Character(WireType::kNVarChar, SizedLength(type.length, 2));
      return HasPlp(version) ? Character(WireType::kNVarChar, kPlpMarker)
                             : Character(WireType::kNText, kNTextMaxLength);
    case SqlType::kNText:
      return Character(WireType::kNText, kNTextMaxLength);
    case SqlType::kBinary:
      return Fixed(WireType::kBigBinary, SizedLength(type.length, 1));
    case SqlType::kVarBinary:
      if (!max) return Fixed(WireType::kBigVarBinary, SizedLength(type.length, 1));
      return HasPlp(version) ? Fixed(WireType::kBigVarBinary, kPlpMarker)
                             : Fixed(WireType::kImage, kTextMaxLength);
    case SqlType::kImage:
      return Fixed(WireType::kImage, kTextMaxLength);
    case SqlType::kUniqueIdentifier:
      return Fixed(WireType::kGuid, 16);
    case SqlType::kSqlVariant:
      return Fixed(WireType::kSqlVariant, kVariantMaxLength);
  }
  return Fixed(WireType::kIntN, 4);
}

ColumnType ToColumnType(const TypeInfo& info) {
  ColumnType c;
  auto sized = [&](SqlType type, int bytes_per_char) {
    c.type = type;
    c.length = IsPlp(info) ? kMaxLength : static_cast<int>(info.max_length) / bytes_per_char;
  };
  switch (info.type) {
    case WireType::kInt1:
      c.type = SqlType::kTinyInt;
      break;
    case WireType::kInt2:
      c.type = SqlType::kSmallInt;
      break;
    case WireType::kInt4:
      c.type = SqlType::kInt;
      break;
    case WireType::kInt8:
      c.type = SqlType::kBigInt;
      break;
    case WireType::kIntN:
      c.type = info.max_length == 1   ? SqlType::kTinyInt
               : info.max_length == 2 ? SqlType::kSmallInt
               : info.max_length == 8 ? SqlType::kBigInt
                                      : SqlType::kInt;
      break;
    case WireType::kBit:
    case WireType::kBitN:
      c.type = SqlType::kBit;
      break;
    case WireType::kFloat4:
      c.type = SqlType::kReal;
      break;
    case WireType::kFloat8:
      c.type = SqlType::kFloat;
      break;
    case WireType::kFloatN:
      c.type = info.max_length == 4 ? SqlType::kReal : SqlType::kFloat;
      break;
    case WireType::kDecimalN:
    case WireType::kNumericN:
    case WireType::kDecimalLegacy:
    case WireType::kNumericLegacy:
      c.type = SqlType::kDecimal;
      c.precision = info.precision;
      c.scale = info.scale;
      break;
    case WireType::kMoney:
    case WireType::kMoney4:
    case WireType::kMoneyN: {
      // Money holds four decimal places, as a declared money type does.
      bool small = info.type == WireType::kMoney4 ||
                   (info.type == WireType::kMoneyN && info.max_length == 4);
      c.type = small ? SqlType::kSmallMoney : SqlType::kMoney;
      c.precision = small ? 10 : 19;
      c.scale = 4;
      break;
    }
    case WireType::kDateTime4:
      c.type = SqlType::kSmallDateTime;
      break;
    case WireType::kDateTimeN:
      c.type = info.max_length == 4 ? SqlType::kSmallDateTime : SqlType::kDateTime;
      break;
    case WireType::kDateTime:
    case WireType::kDateN:
    case WireType::kTimeN:
    case WireType::kDateTime2N:
    case WireType::kDateTimeOffsetN:
      c.type = SqlType::kDateTime;
      break;
    case WireType::kBigChar:
    case WireType::kCharLegacy:
      sized(SqlType::kChar, 1);
      break;
    case WireType::kBigVarChar:
    case WireType::kVarCharLegacy:
      sized(SqlType::kVarChar, 1);
      break;
    case WireType::kNChar:
      sized(SqlType::kNChar, 2);
      break;
    case WireType::kNVarChar:
      sized(SqlType::kNVarChar, 2);
      break;
    case WireType::kBigBinary:
    case WireType::kBinaryLegacy:
      sized(SqlType::kBinary, 1);
      break;
    case WireType::kBigVarBinary:
    case WireType::kVarBinaryLegacy:
      sized(SqlType::kVarBinary, 1);
      break;
    case WireType::kText:
      c.type = SqlType::kText;
      break;
    case WireType::kNText:
      c.type = SqlType::kNText;
      break;
    case WireType::kImage:
      c.type = SqlType::kImage;
      break;
    case WireType::kSqlVariant:
      c.type = SqlType::kSqlVariant;
      break;
    case WireType::kGuid:
      c.type = SqlType::kUniqueIdentifier;
      break;
    case WireType::kNull:
      c.type = SqlType::kInt;
      break;
  }
  return c;
}

void WriteTypeInfo(const TypeInfo& info, ByteWriter& out) {
  out.U8(static_cast<std::uint8_t>(info.type));
  switch (LengthKindOf(info.type)) {
    case LengthKind::kFixed:
      break;
    case LengthKind::kScaleOnly:
      out.U8(info.scale);
      break;
    case LengthKind::kByte:
      out.U8(static_cast<std::uint8_t>(info.max_length));
      break;
    case LengthKind::kUShort:
      out.U16(static_cast<std::uint16_t>(info.max_length));
      break;
    case LengthKind::kLong:
      out.U32(info.max_length);
      break;
  }
  if (info.type == WireType::kDecimalN || info.type == WireType::kNumericN) {
    out.U8(info.precision);
    out.U8(info.scale);
  }
  if (HasCollation(info.type)) out.Append(info.collation);
}

namespace {

void CheckByteLength(const TypeInfo& t) {
  auto allowed = [&](std::initializer_list<std::uint32_t> sizes) {
    return std::find(sizes.begin(), sizes.end(), t.max_length) != sizes.end();
  };
  bool ok = true;
  switch (t.type) {
    case WireType::kIntN:
      ok = allowed({1, 2, 4, 8});
      break;
    case WireType::kBitN:
      ok = allowed({1});
      break;
    case WireType::kFloatN:
    case WireType::kMoneyN:
    case WireType::kDateTimeN:
      ok = allowed({4, 8});
      break;
    case WireType::kGuid:
      ok = allowed({16});
      break;
    case WireType::kDecimalN:
    case WireType::kNumericN:
    case WireType::kDecimalLegacy:
    case WireType::kNumericLegacy:
      ok = t.max_length >= 1 && t.max_length <= 17 && t.precision >= 1 && t.precision <= 38 &&
           t.scale <= t.precision;
      break;
    case WireType::kTimeN:
    case WireType::kDateTime2N:
    case WireType::kDateTimeOffsetN:
      ok = t.scale <= 7;
      break;
    default:
      break;
  }
  if (!ok) {
    throw DecodeError("invalid TYPE_INFO for type " + HexCode(static_cast<std::uint8_t>(t.type)));
  }
}

}  // namespace

std::string HexCode(std::uint8_t code) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  return std::string("0x") + kDigits[code >> 4] + kDigits[code & 0x0F];
}

TypeInfo ReadTypeInfo(ByteReader& in, TdsVersion version) {
  TypeInfo t = ReadTypeInfoUnchecked(in, version);
  CheckTypeInfo(t);
  return t;
}

void CheckTypeInfo(const TypeInfo& info) { CheckByteLength(info); }

TypeInfo ReadTypeInfoUnchecked(ByteReader& in, TdsVersion version) {
  std::uint8_t code = in.U8();
  const TypeTraits* traits = FindTraits(code);
  if (!traits) throw DecodeError("unsupported data type " + HexCode(code));
  TypeInfo t;
  t.type = static_cast<WireType>(code);
  switch (LengthKindOf(t.type)) {
    case LengthKind::kFixed:
      t.max_length = traits->fixed_size;
      break;
    case LengthKind::kScaleOnly:
      t.scale = in.U8();
      break;
    case LengthKind::kByte:
      t.max_length = in.U8();
      break;
    case LengthKind::kUShort:
      t.max_length = in.U16();
      if (t.max_length == kPlpMarker && !HasPlp(version)) {
        throw DecodeError("MAX type before TDS 7.2");
      }
      break;
    case LengthKind::kLong:
      t.max_length = in.U32();
      break;
  }
  if (t.type == WireType::kDecimalN || t.type == WireType::kNumericN ||
      t.type == WireType::kDecimalLegacy || t.type == WireType::kNumericLegacy) {
    t.precision = in.U8();
    t.scale = in.U8();
  }
  if (HasCollation(t.type)) {
    auto bytes = in.Take(5);
    std::copy(bytes.begin(), bytes.end(), t.collation.begin());
  }
  return t;
}

}  // namespace sqlengine::tds
