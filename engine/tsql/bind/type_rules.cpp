#include "engine/tsql/bind/type_rules.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

#include "engine/tsql/type_name.h"

namespace sqlengine::tsql::bind {
namespace {

constexpr int kMaxPrecision = 38;
constexpr int kMinDivisionScale = 6;
constexpr int kMaxCharacterBytes = 8000;

bool IsInteger(SqlType type) {
  return type == SqlType::kTinyInt || type == SqlType::kSmallInt || type == SqlType::kInt ||
         type == SqlType::kBigInt || type == SqlType::kBit;
}

// A precision past 38 gives up scale first, keeping at least 6 digits of it,
// so the whole part is not cut. A literal is numeric; see NamedNumeric for
// what arithmetic gives.
ColumnType Decimal(int precision, int scale) {
  ColumnType type{SqlType::kDecimal};
  type.numeric = true;
  if (precision > kMaxPrecision) {
    int whole = precision - scale;
    scale = std::max(kMaxPrecision - whole, std::min(scale, kMinDivisionScale));
    precision = kMaxPrecision;
  }
  type.precision = std::max(precision, 1);
  type.scale = std::clamp(scale, 0, type.precision);
  return type;
}

// Whether the exact result of `a` and `b` is named numeric: only a
// declaration (a column, CAST, a variable) says decimal, so the result is
// decimal where every decimal-typed operand was declared so, and numeric
// where one is numeric (a literal included) or none is decimal-typed.
bool NamedNumeric(const ColumnType& a, const ColumnType& b) {
  bool a_decimal = a.type == SqlType::kDecimal, b_decimal = b.type == SqlType::kDecimal;
  if (!a_decimal && !b_decimal) return true;
  return (a_decimal && a.numeric) || (b_decimal && b.numeric);
}

}  // namespace

TypeClass ClassOf(SqlType type) {
  if (IsInteger(type)) return TypeClass::kInteger;
  switch (type) {
    case SqlType::kDecimal:
    case SqlType::kMoney:
    case SqlType::kSmallMoney:
      return TypeClass::kExactDecimal;
    case SqlType::kFloat:
    case SqlType::kReal:
      return TypeClass::kApproximate;
    case SqlType::kDateTime:
    case SqlType::kSmallDateTime:
      return TypeClass::kDateTime;
    case SqlType::kChar:
    case SqlType::kVarChar:
    case SqlType::kNChar:
    case SqlType::kNVarChar:
      return TypeClass::kCharacter;
    default:
      return TypeClass::kOther;
  }
}

int IntegerTextWidth(SqlType type) {
  switch (type) {
    case SqlType::kBit:
      return 1;
    case SqlType::kTinyInt:
      return 3;
    case SqlType::kSmallInt:
      return 6;
    case SqlType::kInt:
      return 11;
    default:
      return 20;
  }
}

bool IsNumeric(SqlType type) {
  TypeClass type_class = ClassOf(type);
  return type_class == TypeClass::kInteger || type_class == TypeClass::kExactDecimal ||
         type_class == TypeClass::kApproximate;
}

bool IsNational(SqlType type) {
  return type == SqlType::kNChar || type == SqlType::kNVarChar || type == SqlType::kNText;
}

int Precedence(SqlType type) {
  // SQL Server 2000's order, lowest first.
  static constexpr SqlType kOrder[] = {SqlType::kBinary,
                                       SqlType::kVarBinary,
                                       SqlType::kChar,
                                       SqlType::kVarChar,
                                       SqlType::kNChar,
                                       SqlType::kNVarChar,
                                       SqlType::kUniqueIdentifier,
                                       SqlType::kImage,
                                       SqlType::kText,
                                       SqlType::kNText,
                                       SqlType::kBit,
                                       SqlType::kTinyInt,
                                       SqlType::kSmallInt,
                                       SqlType::kInt,
                                       SqlType::kBigInt,
                                       SqlType::kSmallMoney,
                                       SqlType::kMoney,
                                       SqlType::kDecimal,
                                       SqlType::kReal,
                                       SqlType::kFloat,
                                       SqlType::kSmallDateTime,
                                       SqlType::kDateTime,
                                       SqlType::kSqlVariant};
  for (size_t k = 0; k < std::size(kOrder); ++k) {
    if (kOrder[k] == type) return static_cast<int>(k);
  }
  return -1;
}

ColumnType Higher(const ColumnType& a, const ColumnType& b) {
  return Precedence(a.type) >= Precedence(b.type) ? a : b;
}

ColumnType AsDecimal(const ColumnType& type) {
  switch (type.type) {
    case SqlType::kBit:
      return Decimal(1, 0);
    case SqlType::kTinyInt:
      return Decimal(3, 0);
    case SqlType::kSmallInt:
      return Decimal(5, 0);
    case SqlType::kInt:
      return Decimal(10, 0);
    case SqlType::kBigInt:
      return Decimal(19, 0);
    case SqlType::kSmallMoney:
      return Decimal(10, 4);
    case SqlType::kMoney:
      return Decimal(19, 4);
    default:
      return type;
  }
}

std::optional<ColumnType> ArithmeticType(char op, const ColumnType& a, const ColumnType& b) {
  if (!IsNumeric(a.type) || !IsNumeric(b.type)) return std::nullopt;
  if (a.type == SqlType::kBit && b.type == SqlType::kBit) return std::nullopt;
  TypeClass a_class = ClassOf(a.type), b_class = ClassOf(b.type);
  ColumnType result;
  if (a_class == TypeClass::kApproximate || b_class == TypeClass::kApproximate) {
    if (op == '%') return std::nullopt;
    result = Higher(a, b);
  } else if (a.type == SqlType::kDecimal || b.type == SqlType::kDecimal) {
    ColumnType x = AsDecimal(a), y = AsDecimal(b);
    int p1 = x.precision, s1 = x.scale, p2 = y.precision, s2 = y.scale;
    switch (op) {
      case '+':
      case '-':
        result = Decimal(std::max(s1, s2) + std::max(p1 - s1, p2 - s2) + 1, std::max(s1, s2));
        break;
      case '*':
        result = Decimal(p1 + p2 + 1, s1 + s2);
        break;
      case '/': {
        int scale = std::max(kMinDivisionScale, s1 + p2 + 1);
        result = Decimal(p1 - s1 + s2 + scale, scale);
        break;
      }
      default:
        result = Decimal(std::min(p1 - s1, p2 - s2) + std::max(s1, s2), std::max(s1, s2));
    }
    result.numeric = NamedNumeric(a, b);
  } else {
    // tinyint + tinyint stays tinyint, and overflows as one.
    result = Higher(a, b);
  }
  result.nullable = a.nullable || b.nullable;
  result.identity = false;
  return result;
}

ColumnType ConcatenationType(const ColumnType& a, const ColumnType& b) {
  bool national = IsNational(a.type) || IsNational(b.type);
  bool fixed = (a.type == SqlType::kChar || a.type == SqlType::kNChar) &&
               (b.type == SqlType::kChar || b.type == SqlType::kNChar);
  ColumnType result{national ? (fixed ? SqlType::kNChar : SqlType::kNVarChar)
                             : (fixed ? SqlType::kChar : SqlType::kVarChar)};
  int limit = national ? kMaxCharacterBytes / 2 : kMaxCharacterBytes;
  if (a.length == kMaxLength || b.length == kMaxLength) {
    result.length = kMaxLength;
  } else {
    result.length = std::min(a.length + b.length, limit);
  }
  result.nullable = a.nullable || b.nullable;
  return result;
}

ColumnType CommonType(const ColumnType& a, const ColumnType& b) {
  ColumnType result = Higher(a, b);
  if (ClassOf(a.type) == TypeClass::kCharacter && ClassOf(b.type) == TypeClass::kCharacter) {
    bool national = IsNational(a.type) || IsNational(b.type);
    result.type = national ? SqlType::kNVarChar : SqlType::kVarChar;
    if (a.type == b.type) result.type = a.type;
    result.length = a.length == kMaxLength || b.length == kMaxLength ? kMaxLength
                                                                     : std::max(a.length, b.length);
  } else if (result.type == SqlType::kDecimal) {
    ColumnType x = AsDecimal(a), y = AsDecimal(b);
    int scale = std::max(x.scale, y.scale);
    result = Decimal(scale + std::max(x.precision - x.scale, y.precision - y.scale), scale);
    result.numeric = NamedNumeric(a, b);
  }
  result.nullable = a.nullable || b.nullable;
  result.identity = false;
  return result;
}

ColumnType IntegerLiteralType(std::string_view digits) {
  std::int64_t value = 0;
  auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error == std::errc() && end == digits.data() + digits.size() && value <= INT32_MAX) {
    ColumnType type{SqlType::kInt};
    type.nullable = false;
    return type;
  }
  size_t first = std::min(digits.find_first_not_of('0'), digits.size());
  ColumnType type = Decimal(static_cast<int>(digits.size() - first), 0);
  type.nullable = false;
  return type;
}

ColumnType DecimalLiteralType(std::string_view text) {
  size_t point = text.find('.');
  size_t first = std::min(text.find_first_not_of('0'), point);
  int whole = static_cast<int>(point - first);
  int scale = static_cast<int>(text.size() - point - 1);
  ColumnType type = Decimal(whole + scale, scale);
  type.nullable = false;
  return type;
}

ColumnType StringLiteralType(std::string_view value, bool national) {
  ColumnType type{national ? SqlType::kNVarChar : SqlType::kVarChar};
  size_t characters = 0;
  for (unsigned char c : value) characters += (c & 0xC0) != 0x80;
  type.length = std::max<int>(1, static_cast<int>(characters));
  // Longer than the type holds: the large-value type.
  if (type.length > (national ? 4000 : 8000)) type.length = kMaxLength;
  type.nullable = false;
  return type;
}

std::string_view NameOf(SqlType type) { return TypeName(type); }

}  // namespace sqlengine::tsql::bind
