#include "engine/values/variant_value.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>

#include "engine/values/number_text.h"

namespace sqlengine::values {
namespace {

constexpr std::uint8_t kMarker[2] = {0xF5, 0x56};
constexpr std::size_t kDateTimeBytes = 9;
// numeric is decimal kept apart by its own type id; values stored before
// it was kept apart read as decimal.
constexpr int kNumericTypeId = 108;

struct BaseTypeId {
  SqlType type;
  int id;
};

constexpr BaseTypeId kBaseTypes[] = {{SqlType::kUniqueIdentifier, 36},
                                     {SqlType::kTinyInt, 48},
                                     {SqlType::kSmallInt, 52},
                                     {SqlType::kInt, 56},
                                     {SqlType::kSmallDateTime, 58},
                                     {SqlType::kReal, 59},
                                     {SqlType::kMoney, 60},
                                     {SqlType::kDateTime, 61},
                                     {SqlType::kFloat, 62},
                                     {SqlType::kBit, 104},
                                     {SqlType::kDecimal, 106},
                                     {SqlType::kDecimal, 108},  // numeric
                                     {SqlType::kSmallMoney, 122},
                                     {SqlType::kBigInt, 127},
                                     {SqlType::kVarBinary, 165},
                                     {SqlType::kVarChar, 167},
                                     {SqlType::kBinary, 173},
                                     {SqlType::kChar, 175},
                                     {SqlType::kNVarChar, 231},
                                     {SqlType::kNChar, 239}};

std::optional<SqlType> TypeOfId(int id) {
  for (const BaseTypeId& entry : kBaseTypes) {
    if (entry.id == id) return entry.type;
  }
  return std::nullopt;
}

enum class Shape { kInteger, kFloat, kExact, kDateTime, kText, kBinary, kGuid };

Shape ShapeOf(SqlType type) {
  switch (type) {
    case SqlType::kTinyInt:
    case SqlType::kSmallInt:
    case SqlType::kInt:
    case SqlType::kBigInt:
    case SqlType::kBit:
      return Shape::kInteger;
    case SqlType::kReal:
    case SqlType::kFloat:
      return Shape::kFloat;
    case SqlType::kDecimal:
    case SqlType::kMoney:
    case SqlType::kSmallMoney:
      return Shape::kExact;
    case SqlType::kDateTime:
    case SqlType::kSmallDateTime:
      return Shape::kDateTime;
    case SqlType::kChar:
    case SqlType::kVarChar:
    case SqlType::kNChar:
    case SqlType::kNVarChar:
      return Shape::kText;
    case SqlType::kBinary:
    case SqlType::kVarBinary:
      return Shape::kBinary;
    default:
      return Shape::kGuid;
  }
}

bool HasLength(SqlType type) {
  Shape shape = ShapeOf(type);
  return shape == Shape::kText || shape == Shape::kBinary;
}

void AppendLittleEndian(unsigned __int128 value, std::size_t bytes, Bytes& out) {
  for (std::size_t i = 0; i < bytes; ++i)
    out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

unsigned __int128 ReadLittleEndian(std::span<const std::uint8_t> bytes) {
  unsigned __int128 value = 0;
  for (std::size_t i = bytes.size(); i-- > 0;) value = (value << 8) | bytes[i];
  return value;
}

std::string TextOf(const Value& value) {
  if (const auto* text = std::get_if<std::string>(&value)) return *text;
  if (const auto* bytes = std::get_if<Bytes>(&value))
    return std::string(bytes->begin(), bytes->end());
  if (const auto* number = std::get_if<std::int64_t>(&value)) return std::to_string(*number);
  if (const auto* number = std::get_if<Decimal>(&value)) return DecimalText(*number);
  if (const auto* number = std::get_if<double>(&value)) return std::to_string(*number);
  return {};
}

std::int64_t IntegerOf(const Value& value) {
  if (const auto* number = std::get_if<std::int64_t>(&value)) return *number;
  if (const auto* number = std::get_if<double>(&value)) return static_cast<std::int64_t>(*number);
  if (const auto* number = std::get_if<Decimal>(&value)) {
    __int128 whole = number->unscaled;
    for (int i = 0; i < number->scale; ++i) whole /= 10;
    return static_cast<std::int64_t>(whole);
  }
  return WholeNumberFromText(TextOf(value)).value_or(0);
}

double FloatOf(const Value& value) {
  if (const auto* number = std::get_if<double>(&value)) return *number;
  if (const auto* number = std::get_if<std::int64_t>(&value)) return static_cast<double>(*number);
  return FloatFromText(TextOf(value)).value_or(0);
}

Decimal ExactOf(const Value& value, int scale) {
  if (const auto* number = std::get_if<Decimal>(&value)) return Rescaled(*number, scale);
  if (const auto* number = std::get_if<std::int64_t>(&value))
    return Rescaled(Decimal{*number, 0}, scale);
  std::string text = TextOf(value);
  if (const auto* number = std::get_if<double>(&value)) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", scale, *number);
    text = buffer;
  }
  return DecimalFromText(text, scale).value_or(Decimal{0, scale});
}

int ScaleOf(const ColumnType& base) { return base.type == SqlType::kDecimal ? base.scale : 4; }

}  // namespace

bool IsVariantBaseType(const ColumnType& type) {
  if (!TypeOfId(SystemTypeId(type.type))) return false;
  return !HasLength(type.type) || type.length != kMaxLength;
}

int SystemTypeId(SqlType type) {
  for (const BaseTypeId& entry : kBaseTypes) {
    if (entry.type == type) return entry.id;
  }
  return 0;
}

int VariantFamily(SqlType base) {
  switch (ShapeOf(base)) {
    case Shape::kGuid:
      return 0;
    case Shape::kBinary:
      return 1;
    case Shape::kText:
      return 2;
    case Shape::kInteger:
    case Shape::kExact:
      return 3;
    case Shape::kFloat:
      return 4;
    case Shape::kDateTime:
      return 5;
  }
  return 0;
}

Bytes EncodeVariant(const ColumnType& base, const Value& value) {
  if (!IsVariantBaseType(base))
    throw std::invalid_argument("no sql_variant base type: " +
                                std::to_string(SystemTypeId(base.type)));
  Bytes out(std::begin(kMarker), std::end(kMarker));
  out.push_back(static_cast<std::uint8_t>(base.numeric && base.type == SqlType::kDecimal
                                              ? kNumericTypeId
                                              : SystemTypeId(base.type)));
  if (base.type == SqlType::kDecimal) {
    out.push_back(static_cast<std::uint8_t>(base.precision));
    out.push_back(static_cast<std::uint8_t>(base.scale));
  } else if (HasLength(base.type)) {
    AppendLittleEndian(static_cast<unsigned>(base.length), 2, out);
  }
  switch (ShapeOf(base.type)) {
    case Shape::kInteger:
      AppendLittleEndian(static_cast<std::uint64_t>(IntegerOf(value)), 8, out);
      break;
    case Shape::kFloat: {
      double number = FloatOf(value);
      std::uint64_t bits;
      std::memcpy(&bits, &number, sizeof bits);
      AppendLittleEndian(bits, 8, out);
      break;
    }
    case Shape::kExact:
      AppendLittleEndian(static_cast<unsigned __int128>(ExactOf(value, ScaleOf(base)).unscaled), 16,
                         out);
      break;
    case Shape::kDateTime: {
      DateTime when;
      if (const auto* given = std::get_if<DateTime>(&value)) when = *given;
      AppendLittleEndian(static_cast<unsigned>(when.year), 2, out);
      for (int part : {when.month, when.day, when.hour, when.minute, when.second})
        out.push_back(static_cast<std::uint8_t>(part));
      AppendLittleEndian(static_cast<unsigned>(when.millisecond), 2, out);
      break;
    }
    case Shape::kBinary:
      if (const auto* bytes = std::get_if<Bytes>(&value)) {
        out.insert(out.end(), bytes->begin(), bytes->end());
        break;
      }
      [[fallthrough]];
    case Shape::kText:
    case Shape::kGuid: {
      std::string text = TextOf(value);
      out.insert(out.end(), text.begin(), text.end());
      break;
    }
  }
  return out;
}

std::optional<VariantValue> DecodeVariant(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 3 || bytes[0] != kMarker[0] || bytes[1] != kMarker[1]) return std::nullopt;
  std::optional<SqlType> type = TypeOfId(bytes[2]);
  if (!type) return std::nullopt;
  VariantValue variant;
  variant.base.type = *type;
  variant.base.numeric = bytes[2] == kNumericTypeId;
  std::span<const std::uint8_t> rest = bytes.subspan(3);
  if (*type == SqlType::kDecimal) {
    if (rest.size() < 2 || rest[0] < 1 || rest[0] > 38 || rest[1] > rest[0]) return std::nullopt;
    variant.base.precision = rest[0];
    variant.base.scale = rest[1];
    rest = rest.subspan(2);
  } else if (HasLength(*type)) {
    if (rest.size() < 2) return std::nullopt;
    variant.base.length = static_cast<int>(ReadLittleEndian(rest.first(2)));
    if (variant.base.length < 1 || variant.base.length > 8000) return std::nullopt;
    rest = rest.subspan(2);
  }
  switch (ShapeOf(*type)) {
    case Shape::kInteger:
      if (rest.size() != 8) return std::nullopt;
      variant.value = static_cast<std::int64_t>(static_cast<std::uint64_t>(ReadLittleEndian(rest)));
      break;
    case Shape::kFloat: {
      if (rest.size() != 8) return std::nullopt;
      auto bits = static_cast<std::uint64_t>(ReadLittleEndian(rest));
      double number;
      std::memcpy(&number, &bits, sizeof number);
      variant.value = number;
      break;
    }
    case Shape::kExact:
      if (rest.size() != 16) return std::nullopt;
      variant.value = Decimal{static_cast<__int128>(ReadLittleEndian(rest)), ScaleOf(variant.base)};
      break;
    case Shape::kDateTime: {
      if (rest.size() != kDateTimeBytes) return std::nullopt;
      DateTime when;
      when.year = static_cast<int>(ReadLittleEndian(rest.first(2)));
      when.month = rest[2];
      when.day = rest[3];
      when.hour = rest[4];
      when.minute = rest[5];
      when.second = rest[6];
      when.millisecond = static_cast<int>(ReadLittleEndian(rest.subspan(7, 2)));
      variant.value = when;
      break;
    }
    case Shape::kText:
      variant.value = std::string(rest.begin(), rest.end());
      break;
    case Shape::kBinary:
      variant.value = Bytes(rest.begin(), rest.end());
      break;
    case Shape::kGuid:
      if (rest.size() != 36) return std::nullopt;
      variant.value = std::string(rest.begin(), rest.end());
      break;
  }
  return variant;
}

VariantValue NaturalVariant(const Value& value) {
  VariantValue variant{ColumnType{SqlType::kInt}, value};
  if (const auto* number = std::get_if<std::int64_t>(&value)) {
    if (*number > std::numeric_limits<std::int32_t>::max() ||
        *number < std::numeric_limits<std::int32_t>::min())
      variant.base.type = SqlType::kBigInt;
  } else if (std::holds_alternative<double>(value)) {
    variant.base.type = SqlType::kFloat;
  } else if (const auto* number = std::get_if<Decimal>(&value)) {
    variant.base = ColumnType{SqlType::kDecimal, 0, 38, number->scale};
  } else if (const auto* text = std::get_if<std::string>(&value)) {
    std::size_t characters = 0;
    for (char c : *text) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    variant.base = ColumnType{SqlType::kNVarChar,
                              static_cast<int>(std::clamp<std::size_t>(characters, 1, 4000))};
  } else if (const auto* bytes = std::get_if<Bytes>(&value)) {
    variant.base = ColumnType{SqlType::kVarBinary,
                              static_cast<int>(std::clamp<std::size_t>(bytes->size(), 1, 8000))};
  } else if (std::holds_alternative<DateTime>(value)) {
    variant.base.type = SqlType::kDateTime;
  }
  return variant;
}

Value AsVariant(const Value& value) {
  if (IsNull(value)) return value;
  if (const auto* bytes = std::get_if<Bytes>(&value)) {
    if (DecodeVariant(*bytes)) return value;
  }
  VariantValue natural = NaturalVariant(value);
  return EncodeVariant(natural.base, natural.value);
}

}  // namespace sqlengine::values
