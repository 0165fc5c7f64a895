#include "engine/tds/variant_codec.h"

#include <algorithm>
#include <optional>

#include "engine/tds/decode_error.h"
#include "engine/tds/type_info.h"
#include "engine/tds/value_codec.h"
#include "engine/values/variant_value.h"

namespace sqlengine::tds {
namespace {

// The fixed-length code a nullable "N" form stands for inside a variant,
// which has no NULL of its own.
WireType FixedForm(const TypeInfo& info) {
  switch (info.type) {
    case WireType::kIntN:
      return info.max_length == 1   ? WireType::kInt1
             : info.max_length == 2 ? WireType::kInt2
             : info.max_length == 8 ? WireType::kInt8
                                    : WireType::kInt4;
    case WireType::kBitN:
      return WireType::kBit;
    case WireType::kFloatN:
      return info.max_length == 4 ? WireType::kFloat4 : WireType::kFloat8;
    case WireType::kMoneyN:
      return info.max_length == 4 ? WireType::kMoney4 : WireType::kMoney;
    case WireType::kDateTimeN:
      return info.max_length == 4 ? WireType::kDateTime4 : WireType::kDateTime;
    default:
      return info.type;
  }
}

struct FixedBase {
  WireType code;
  std::uint32_t size;
};

constexpr FixedBase kFixedBases[] = {
    {WireType::kInt1, 1},      {WireType::kInt2, 2},     {WireType::kInt4, 4},
    {WireType::kInt8, 8},      {WireType::kBit, 1},      {WireType::kFloat4, 4},
    {WireType::kFloat8, 8},    {WireType::kMoney4, 4},   {WireType::kMoney, 8},
    {WireType::kDateTime4, 4}, {WireType::kDateTime, 8}, {WireType::kGuid, 16}};

std::uint16_t LittleEndian16(std::span<const std::uint8_t> bytes) {
  return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

}  // namespace

Value ReadVariantValue(ByteReader& in) {
  const std::uint32_t length = in.U32();
  if (length == 0) return std::monostate{};
  ByteReader body(in.Take(length));
  const auto code = static_cast<WireType>(body.U8());
  std::span<const std::uint8_t> properties = body.Take(body.U8());
  std::span<const std::uint8_t> data = body.Take(length - 2 - properties.size());

  TypeInfo info;
  info.type = code;
  ByteWriter framed;
  ColumnType base;
  bool known = false;
  for (const FixedBase& fixed : kFixedBases) {
    if (fixed.code != code) continue;
    if (!properties.empty() || data.size() != fixed.size) throw DecodeError("variant data size");
    info.max_length = fixed.size;
    if (code == WireType::kGuid) framed.U8(16);
    known = true;
  }
  if (code == WireType::kDecimalN || code == WireType::kNumericN) {
    if (properties.size() != 2) throw DecodeError("variant decimal properties");
    info.precision = properties[0];
    info.scale = properties[1];
    info.max_length = static_cast<std::uint32_t>(data.size());
    if (info.precision < 1 || info.precision > 38 || info.scale > info.precision)
      throw DecodeError("variant decimal precision");
    framed.U8(static_cast<std::uint8_t>(data.size()));
    known = true;
  }
  const bool character = code == WireType::kBigVarChar || code == WireType::kBigChar ||
                         code == WireType::kNVarChar || code == WireType::kNChar;
  const bool binary = code == WireType::kBigVarBinary || code == WireType::kBigBinary;
  if (character || binary) {
    if (properties.size() != (character ? 7u : 2u)) throw DecodeError("variant properties");
    info.max_length = LittleEndian16(properties.last(2));
    if (character) std::copy(properties.begin(), properties.begin() + 5, info.collation.begin());
    if (info.max_length == 0 || info.max_length > 8000 || data.size() > info.max_length)
      throw DecodeError("variant length");
    framed.U16(static_cast<std::uint16_t>(data.size()));
    known = true;
  }
  if (!known) throw DecodeError("type a sql_variant cannot hold");
  framed.Append(data);
  ByteReader value_bytes(framed.Bytes());
  Value value = ReadValue(info, value_bytes);
  base = ToColumnType(info);
  // A fixed-length value holds its whole length, as the engine sends it.
  if (auto* text = std::get_if<std::string>(&value);
      text && (code == WireType::kBigChar || code == WireType::kNChar)) {
    std::size_t characters = 0;
    for (char c : *text) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    if (characters < static_cast<std::size_t>(base.length))
      text->append(static_cast<std::size_t>(base.length) - characters, ' ');
  }
  if (auto* bytes = std::get_if<Bytes>(&value); bytes && code == WireType::kBigBinary)
    bytes->resize(std::max(bytes->size(), static_cast<std::size_t>(base.length)), 0);
  if (code == WireType::kGuid) base.type = SqlType::kUniqueIdentifier;
  if (!values::IsVariantBaseType(base)) throw DecodeError("type a sql_variant cannot hold");
  return values::EncodeVariant(base, value);
}

void WriteVariantValue(const Value& value, ByteWriter& out) {
  if (IsNull(value)) {
    out.U32(0);
    return;
  }
  std::optional<values::VariantValue> variant;
  if (const auto* bytes = std::get_if<Bytes>(&value)) variant = values::DecodeVariant(*bytes);
  if (!variant) variant = values::NaturalVariant(value);
  // Base types are never MAX types, so the TYPE_INFO is the same for every version.
  TypeInfo info = DescribeType(variant->base, TdsVersion::k71);
  ByteWriter data;
  WriteValue(info, variant->value, ValueContext::kReturnValue, data);
  LengthKind length = LengthKindOf(info.type);
  std::size_t prefix = length == LengthKind::kUShort ? 2 : length == LengthKind::kByte ? 1 : 0;

  ByteWriter properties;
  if (info.type == WireType::kDecimalN || info.type == WireType::kNumericN) {
    properties.U8(info.precision);
    properties.U8(info.scale);
  } else if (length == LengthKind::kUShort) {
    if (HasCollation(info.type)) properties.Append(info.collation);
    properties.U16(static_cast<std::uint16_t>(info.max_length));
  }
  const Bytes& body = data.Bytes();
  out.U32(static_cast<std::uint32_t>(2 + properties.Size() + body.size() - prefix));
  out.U8(static_cast<std::uint8_t>(FixedForm(info)));
  out.U8(static_cast<std::uint8_t>(properties.Size()));
  out.Append(properties.Bytes());
  out.Append(std::span<const std::uint8_t>(body).subspan(prefix));
}

}  // namespace sqlengine::tds
