#include "engine/exec/variant_functions.h"

#include <cctype>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>

#include "engine/common/error.h"
#include "engine/exec/function_registration.h"
#include "engine/exec/sqlite_errors.h"
#include "engine/exec/sqlite_value_text.h"
#include "engine/exec/text_comparison.h"
#include "engine/exec/value_conversion.h"
#include "engine/tsql/type_name.h"
#include "engine/values/date_style_text.h"
#include "engine/values/exact_arithmetic.h"
#include "engine/values/variant_value.h"

namespace sqlengine::exec {
namespace {

constexpr std::string_view kCollation = "SQL_Latin1_General_CP1_CI_AS";

values::VariantValue VariantOf(sqlite3_value* value) {
  Value plain = PlainValue(value);
  if (const auto* bytes = std::get_if<Bytes>(&plain)) {
    if (std::optional<values::VariantValue> stored = values::DecodeVariant(*bytes)) return *stored;
  }
  return values::NaturalVariant(plain);
}

std::optional<ColumnType> DeclaredArgument(sqlite3_value* value) {
  return tsql::ParseDeclaredType(SqliteValueText(value));
}

void ResultBlob(sqlite3_context* context, const Bytes& bytes) {
  sqlite3_result_blob(context, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
}

// An engine value as SQLite holds a value of its type.
void ResultValue(sqlite3_context* context, const Value& value) {
  if (const auto* number = std::get_if<std::int64_t>(&value)) {
    sqlite3_result_int64(context, *number);
  } else if (const auto* number = std::get_if<double>(&value)) {
    sqlite3_result_double(context, *number);
  } else if (const auto* text = std::get_if<std::string>(&value)) {
    SqliteResultText(context, *text);
  } else if (const auto* bytes = std::get_if<Bytes>(&value)) {
    ResultBlob(context, *bytes);
  } else if (const auto* number = std::get_if<Decimal>(&value)) {
    if (number->scale == 0 && number->unscaled <= std::numeric_limits<std::int64_t>::max() &&
        number->unscaled >= std::numeric_limits<std::int64_t>::min()) {
      sqlite3_result_int64(context, static_cast<std::int64_t>(number->unscaled));
    } else {
      // As text, every digit kept: a double holds only about 15 of them.
      SqliteResultText(context, DecimalText(*number));
    }
  } else if (const auto* when = std::get_if<DateTime>(&value)) {
    SqliteResultText(context, DateTimeText(*when));
  } else {
    sqlite3_result_null(context);
  }
}

void ToVariant(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  std::optional<ColumnType> base = DeclaredArgument(args[1]);
  if (!base) return sqlite3_result_error(context, "sqlengine_variant: not a type", -1);
  if (base->type == SqlType::kSqlVariant || !values::IsVariantBaseType(*base)) {
    return ResultBlob(context, std::get<Bytes>(values::AsVariant(PlainValue(args[0]))));
  }
  try {
    // ConvertForType blank-pads a fixed-length value, as the column held it.
    Value typed = ConvertForType(PlainValue(args[0]), *base);
    ResultBlob(context, values::EncodeVariant(*base, typed));
  } catch (const SqlError& error) {
    ResultSqlError(context, error);
  }
}

bool IsCharacter(SqlType type) {
  return type == SqlType::kChar || type == SqlType::kVarChar || type == SqlType::kNChar ||
         type == SqlType::kNVarChar;
}

void VariantValueAs(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  std::optional<ColumnType> target = DeclaredArgument(args[1]);
  if (!target) return sqlite3_result_error(context, "sqlengine_variant_value: not a type", -1);
  values::VariantValue variant = VariantOf(args[0]);
  if (target->type == SqlType::kSqlVariant)
    return ResultBlob(context, values::EncodeVariant(variant.base, variant.value));
  try {
    const auto* when = std::get_if<DateTime>(&variant.value);
    if (when && IsCharacter(target->type)) {
      // CONVERT's default style for a datetime: "Feb 29 2024  1:14PM".
      variant.value = values::DateTimeStyled(*when, 0);
    }
    ResultValue(context, ConvertForType(variant.value, *target));
  } catch (const SqlError& error) {
    ResultSqlError(context, error);
  }
}

int Sign(auto difference) { return difference < 0 ? -1 : difference > 0 ? 1 : 0; }

double AsDouble(const Value& value) {
  if (const auto* number = std::get_if<double>(&value)) return *number;
  if (const auto* number = std::get_if<std::int64_t>(&value)) return static_cast<double>(*number);
  if (const auto* number = std::get_if<Decimal>(&value)) return std::stod(DecimalText(*number));
  return 0;
}

Decimal AsDecimal(const Value& value) {
  if (const auto* number = std::get_if<Decimal>(&value)) return *number;
  return Decimal{std::get<std::int64_t>(value), 0};
}

long long DateKey(const DateTime& when) {
  return ((((static_cast<long long>(when.year) * 13 + when.month) * 32 + when.day) * 24 +
           when.hour) *
              60 +
          when.minute) *
             60000LL +
         when.second * 1000LL + when.millisecond;
}

int CompareBytes(const Bytes& a, const Bytes& b) {
  // Binary data compares byte by byte, a shorter value padded with zeros.
  std::size_t size = std::max(a.size(), b.size());
  for (std::size_t k = 0; k < size; ++k) {
    int x = k < a.size() ? a[k] : 0, y = k < b.size() ? b[k] : 0;
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

int CompareVariants(const values::VariantValue& a, const values::VariantValue& b) {
  int family_a = values::VariantFamily(a.base.type), family_b = values::VariantFamily(b.base.type);
  if (family_a != family_b) return family_a < family_b ? -1 : 1;
  if (const auto* when = std::get_if<DateTime>(&a.value))
    return Sign(DateKey(*when) - DateKey(std::get<DateTime>(b.value)));
  if (std::holds_alternative<double>(a.value) || std::holds_alternative<double>(b.value))
    return Sign(AsDouble(a.value) - AsDouble(b.value));
  if (std::holds_alternative<std::string>(a.value)) {
    const std::string& x = std::get<std::string>(a.value);
    const std::string& y = std::get<std::string>(b.value);
    return CompareIgnoringCase(x, y);
  }
  if (const auto* bytes = std::get_if<Bytes>(&a.value))
    return CompareBytes(*bytes, std::get<Bytes>(b.value));
  return values::Compare(AsDecimal(a.value), AsDecimal(b.value));
}

// Appends `bits` big-endian: byte order is then numeric order.
void AppendBigEndian(std::uint64_t bits, Bytes& out) {
  for (int shift = 56; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(bits >> shift));
}

// A double as 8 bytes that sort as the numbers do.
void AppendOrderedDouble(double number, Bytes& out) {
  std::uint64_t bits;
  std::memcpy(&bits, &number, sizeof bits);
  bits = (bits >> 63) ? ~bits : bits | (std::uint64_t{1} << 63);
  AppendBigEndian(bits, out);
}

// An exact number as bytes that sort as the numbers do, however many digits
// it has: a sign byte (0 negative, 1 zero, 2 positive), then for a nonzero
// value 0.d1d2...dn x 10^e (d1 not 0, no trailing zeros) the exponent e and
// the digits, both inverted for a negative value, and a closing byte that
// makes a shorter run of digits the nearer to zero.
void AppendOrderedExact(const Value& value, Bytes& out) {
  std::string text = std::holds_alternative<Decimal>(value)
                         ? DecimalText(std::get<Decimal>(value))
                         : std::to_string(std::get<std::int64_t>(value));
  const bool negative = !text.empty() && text[0] == '-';
  if (negative) text.erase(0, 1);
  std::size_t point = text.find('.');
  std::string whole = text.substr(0, point);
  std::string fraction = point == std::string::npos ? "" : text.substr(point + 1);
  std::string digits = whole + fraction;
  int exponent = static_cast<int>(whole.size());
  std::size_t first = digits.find_first_not_of('0');
  if (first == std::string::npos) {
    out.push_back(1);
    return;
  }
  exponent -= static_cast<int>(first);
  digits.erase(0, first);
  digits.erase(digits.find_last_not_of('0') + 1);
  const auto flip = [negative](int byte) {
    return static_cast<std::uint8_t>(negative ? 255 - byte : byte);
  };
  out.push_back(negative ? 0 : 2);
  out.push_back(flip(exponent + 128));
  for (char digit : digits) out.push_back(flip(static_cast<unsigned char>(digit)));
  out.push_back(flip(0));
}

// sqlengine_variant_key(v): a blob whose byte order is the sql_variant order
// CompareVariants gives (exact numbers by their exact values, character data
// by its lower-cased text without trailing spaces), for ORDER BY.
void SortKey(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  values::VariantValue variant = VariantOf(args[0]);
  Bytes key;
  key.reserve(64);
  key.push_back(static_cast<std::uint8_t>(values::VariantFamily(variant.base.type)));
  if (const auto* when = std::get_if<DateTime>(&variant.value)) {
    AppendBigEndian(static_cast<std::uint64_t>(DateKey(*when)) ^ (std::uint64_t{1} << 63), key);
  } else if (const auto* text = std::get_if<std::string>(&variant.value)) {
    std::string_view kept(*text);
    while (!kept.empty() && kept.back() == ' ') kept.remove_suffix(1);
    for (char c : kept) key.push_back(static_cast<std::uint8_t>(std::tolower(static_cast<unsigned char>(c))));
  } else if (const auto* bytes = std::get_if<Bytes>(&variant.value)) {
    key.insert(key.end(), bytes->begin(), bytes->end());
  } else if (std::holds_alternative<double>(variant.value)) {
    AppendOrderedDouble(AsDouble(variant.value), key);
  } else {
    AppendOrderedExact(variant.value, key);
  }
  ResultBlob(context, key);
}

// The sql_variant order of a and b; nullopt when either is NULL.
std::optional<int> CompareValues(sqlite3_value* a, sqlite3_value* b) {
  if (sqlite3_value_type(a) == SQLITE_NULL || sqlite3_value_type(b) == SQLITE_NULL)
    return std::nullopt;
  return CompareVariants(VariantOf(a), VariantOf(b));
}

void ResultTruth(sqlite3_context* context, std::optional<bool> truth) {
  if (!truth) return sqlite3_result_null(context);
  sqlite3_result_int(context, *truth ? 1 : 0);
}

void Compare(sqlite3_context* context, int, sqlite3_value** args) {
  std::optional<int> order = CompareValues(args[0], args[1]);
  if (!order) return sqlite3_result_null(context);
  sqlite3_result_int(context, *order);
}

// sqlengine_variant_between(v, low, high): v >= low AND v <= high in the
// sql_variant order, with AND's answer when a comparison is unknown.
void Between(sqlite3_context* context, int, sqlite3_value** args) {
  std::optional<int> low = CompareValues(args[0], args[1]);
  std::optional<int> high = CompareValues(args[0], args[2]);
  if ((low && *low < 0) || (high && *high > 0)) return ResultTruth(context, false);
  ResultTruth(context, low && high ? std::optional<bool>(true) : std::nullopt);
}

// sqlengine_variant_in(v, x1, x2, ...): v = x1 OR v = x2 ... in the
// sql_variant order, with OR's answer when a comparison is unknown.
void In(sqlite3_context* context, int count, sqlite3_value** args) {
  bool unknown = false;
  for (int k = 1; k < count; ++k) {
    std::optional<int> order = CompareValues(args[0], args[k]);
    if (order && *order == 0) return ResultTruth(context, true);
    unknown = unknown || !order;
  }
  ResultTruth(context, unknown ? std::nullopt : std::optional<bool>(false));
}

int Precision(const ColumnType& base) {
  switch (base.type) {
    case SqlType::kDateTime:
      return 23;
    case SqlType::kSmallDateTime:
      return 16;
    case SqlType::kFloat:
      return 53;
    case SqlType::kReal:
      return 24;
    case SqlType::kDecimal:
      return base.precision;
    case SqlType::kMoney:
      return 19;
    case SqlType::kSmallMoney:
      return 10;
    case SqlType::kBigInt:
      return 19;
    case SqlType::kInt:
      return 10;
    case SqlType::kSmallInt:
      return 5;
    case SqlType::kTinyInt:
      return 3;
    case SqlType::kBit:
      return 1;
    default:
      return 0;
  }
}

int Scale(const ColumnType& base) {
  switch (base.type) {
    case SqlType::kDecimal:
      return base.scale;
    case SqlType::kMoney:
    case SqlType::kSmallMoney:
      return 4;
    case SqlType::kDateTime:
      return 3;
    default:
      return 0;
  }
}

bool IsNational(SqlType type) { return type == SqlType::kNChar || type == SqlType::kNVarChar; }

// Bytes of the base type: its fixed size, or its declared length (twice the
// characters for national types).
int MaxLength(const ColumnType& base) {
  switch (base.type) {
    case SqlType::kTinyInt:
    case SqlType::kBit:
      return 1;
    case SqlType::kSmallInt:
      return 2;
    case SqlType::kInt:
    case SqlType::kReal:
    case SqlType::kSmallMoney:
    case SqlType::kSmallDateTime:
      return 4;
    case SqlType::kBigInt:
    case SqlType::kFloat:
    case SqlType::kMoney:
    case SqlType::kDateTime:
      return 8;
    case SqlType::kUniqueIdentifier:
      return 16;
    case SqlType::kDecimal:
      return base.precision <= 9 ? 5 : base.precision <= 19 ? 9 : base.precision <= 28 ? 13 : 17;
    default:
      return base.length * (IsNational(base.type) ? 2 : 1);
  }
}

// Bytes the value's own data takes: the fixed size, or the text or bytes held.
int DataBytes(const values::VariantValue& variant) {
  if (const auto* text = std::get_if<std::string>(&variant.value);
      text && IsCharacter(variant.base.type)) {
    return static_cast<int>(IsNational(variant.base.type) ? Utf8CharacterCount(*text) * 2
                                                          : Utf8CharacterCount(*text));
  }
  if (const auto* bytes = std::get_if<Bytes>(&variant.value))
    return static_cast<int>(bytes->size());
  return MaxLength(variant.base);
}

// A header of two bytes (type, version), then the properties SQL Server
// keeps: precision and scale, a binary length, or a length and collation.
int TotalBytes(const values::VariantValue& variant) {
  int header = 2;
  if (variant.base.type == SqlType::kDecimal) header += 2;
  if (variant.base.type == SqlType::kBinary || variant.base.type == SqlType::kVarBinary)
    header += 2;
  if (IsCharacter(variant.base.type)) header += 6;
  return header + DataBytes(variant);
}

bool Is(std::string text, std::string_view name) {
  if (text.size() != name.size()) return false;
  for (std::size_t k = 0; k < text.size(); ++k) {
    if (std::tolower(static_cast<unsigned char>(text[k])) !=
        std::tolower(static_cast<unsigned char>(name[k])))
      return false;
  }
  return true;
}

void Property(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL || sqlite3_value_type(args[1]) == SQLITE_NULL)
    return sqlite3_result_null(context);
  values::VariantValue variant = VariantOf(args[0]);
  std::string property = SqliteValueText(args[1]);
  const ColumnType& base = variant.base;
  if (Is(property, "basetype")) return SqliteResultText(context, tsql::DeclaredTypeName(base));
  if (Is(property, "precision")) return sqlite3_result_int(context, Precision(base));
  if (Is(property, "scale")) return sqlite3_result_int(context, Scale(base));
  if (Is(property, "totalbytes")) return sqlite3_result_int(context, TotalBytes(variant));
  if (Is(property, "maxlength")) return sqlite3_result_int(context, MaxLength(base));
  if (Is(property, "collation")) {
    if (!IsCharacter(base.type)) return sqlite3_result_null(context);
    return SqliteResultText(context, kCollation);
  }
  sqlite3_result_null(context);
}

constexpr FunctionDefinition kFunctions[] = {
    {"sqlengine_variant", 2, ToVariant, true},
    {"sqlengine_variant_value", 2, VariantValueAs, true},
    {"sqlengine_variant_compare", 2, Compare, true},
    {"sqlengine_variant_between", 3, Between, true},
    {"sqlengine_variant_in", -1, In, true},
    {"sqlengine_variant_key", 1, SortKey, true},
    {"sql_variant_property", 2, Property, true},
};

// sqlengine_variant_min(v) / sqlengine_variant_max(v): MIN and MAX of
// sql_variant values in the sql_variant order (the family first, then the
// value); the first of equal values stays. NULLs are skipped.
struct VariantExtreme {
  sqlite3_value* best;
};

template <int kSign>
void ExtremeStep(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return;
  auto* state = static_cast<VariantExtreme*>(sqlite3_aggregate_context(context, sizeof(VariantExtreme)));
  if (state == nullptr) return sqlite3_result_error_nomem(context);
  try {
    if (state->best != nullptr && *CompareValues(args[0], state->best) * kSign <= 0) return;
  } catch (const SqlError& error) {
    return ResultSqlError(context, error);
  }
  sqlite3_value* copy = sqlite3_value_dup(args[0]);
  if (copy == nullptr) return sqlite3_result_error_nomem(context);
  sqlite3_value_free(state->best);
  state->best = copy;
}

void ExtremeFinal(sqlite3_context* context) {
  auto* state = static_cast<VariantExtreme*>(sqlite3_aggregate_context(context, 0));
  if (state == nullptr || state->best == nullptr) return sqlite3_result_null(context);
  sqlite3_result_value(context, state->best);
  sqlite3_value_free(state->best);
  state->best = nullptr;
}

}  // namespace

void RegisterVariantFunctions(sqlite3* db) {
  RegisterFunctionTable(db, kFunctions);
  struct Extreme {
    const char* name;
    void (*step)(sqlite3_context*, int, sqlite3_value**);
  };
  for (Extreme extreme : {Extreme{"sqlengine_variant_min", ExtremeStep<-1>},
                          Extreme{"sqlengine_variant_max", ExtremeStep<1>}}) {
    if (sqlite3_create_function_v2(db, extreme.name, 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                   nullptr, nullptr, extreme.step, ExtremeFinal,
                                   nullptr) != SQLITE_OK)
      throw std::runtime_error(std::string("cannot register ") + extreme.name);
  }
}

}  // namespace sqlengine::exec
