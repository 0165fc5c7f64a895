#include "engine/exec/exact_functions.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>

#include "engine/common/error.h"
#include "engine/exec/exact_values.h"
#include "engine/exec/function_registration.h"
#include "engine/exec/sqlite_errors.h"
#include "engine/exec/value_conversion.h"
#include "engine/tsql/type_name.h"
#include "engine/values/exact_arithmetic.h"
#include "engine/values/exact_storage.h"
#include "engine/values/number_text.h"

namespace sqlengine::exec {
namespace {

using values::ArithmeticFault;
using values::ExactResult;

constexpr int kMaxDigits = 38;

__int128 PowerOfTen(int exponent) {
  __int128 power = 1;
  for (int i = 0; i < exponent; ++i) power *= 10;
  return power;
}

// Each function reads its arguments through this: the type arguments once,
// the raw ones as values; on a failure the context's error is set and the
// function returns at once.
struct Call {
  sqlite3_context* context;
  sqlite3_value** args;

  bool AnyNull(std::initializer_list<int> indexes) const {
    for (int index : indexes)
      if (sqlite3_value_type(args[index]) == SQLITE_NULL) return true;
    return false;
  }
  std::optional<ColumnType> Type(int index) const {
    return ExactTypeArgument(context, args, index);
  }
  std::optional<Decimal> Raw(int index, const ColumnType& type) const {
    return RawArgument(context, args[index], type);
  }
  void Fail(const SqlError& error) const { ResultSqlError(context, error); }

  // A function of one exact value (raw at 0, its type at 1) with a result
  // type at `result_index`: nullopt when a NULL among `nulls` made the
  // result NULL, or an argument was refused (its error set).
  struct OneValue {
    Decimal value;
    ColumnType type, result;
  };
  std::optional<OneValue> Unary(std::initializer_list<int> nulls, int result_index) const {
    if (AnyNull(nulls)) {
      sqlite3_result_null(context);
      return std::nullopt;
    }
    std::optional<ColumnType> type = Type(1), result = Type(result_index);
    if (!type || !result) return std::nullopt;
    std::optional<Decimal> value = Raw(0, *type);
    if (!value) return std::nullopt;
    return OneValue{*value, *type, *result};
  }
  void Result(const ExactResult& result, const ColumnType& type) const {
    if (result.fault == ArithmeticFault::kDivideByZero) return Fail(MakeError(8134));
    if (result.fault == ArithmeticFault::kOverflow) return Fail(OverflowError(type));
    ResultRaw(context, result.value, type);
  }
};

void From(sqlite3_context* context, int, sqlite3_value** args) {
  Call call{context, args};
  if (call.AnyNull({0})) return sqlite3_result_null(context);
  std::optional<ColumnType> type = call.Type(1);
  if (!type) return;
  try {
    ResultRaw(context, FitDecimal(PlainValue(args[0]), *type), *type);
  } catch (const SqlError& error) {
    call.Fail(error);
  }
}

void Rescale(sqlite3_context* context, int, sqlite3_value** args) {
  if (auto one = Call{context, args}.Unary({0}, 2)) ResultRaw(context, one->value, one->result);
}

void ToFloat(sqlite3_context* context, int, sqlite3_value** args) {
  if (auto one = Call{context, args}.Unary({0}, 1))
    sqlite3_result_double(context, std::stod(values::DecimalText(one->value)));
}

void ToText(sqlite3_context* context, int, sqlite3_value** args) {
  auto one = Call{context, args}.Unary({0}, 1);
  if (!one) return;
  std::string text = values::DecimalText(one->value);
  sqlite3_result_text(context, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

// The integer range of a whole-number type; bit takes any value (non-zero is 1).
std::pair<__int128, __int128> IntegerRange(SqlType type) {
  switch (type) {
    case SqlType::kTinyInt:
      return {0, 255};
    case SqlType::kSmallInt:
      return {INT16_MIN, INT16_MAX};
    case SqlType::kInt:
      return {INT32_MIN, INT32_MAX};
    default:
      return {INT64_MIN, INT64_MAX};
  }
}

// `value` with its last `drop` digits gone: rounded half away from zero,
// truncated toward zero, or to the next whole unit toward -inf / +inf.
enum class Rounding { kHalfAway, kTruncate, kFloor, kCeiling };

__int128 DropDigits(__int128 value, int drop, Rounding rounding) {
  if (drop <= 0) return value;
  if (drop > kMaxDigits) {
    if (rounding == Rounding::kFloor && value < 0) return -1;
    if (rounding == Rounding::kCeiling && value > 0) return 1;
    return 0;
  }
  __int128 divisor = PowerOfTen(drop);
  __int128 quotient = value / divisor, remainder = value % divisor;
  switch (rounding) {
    case Rounding::kHalfAway:
      if (remainder * 2 >= divisor) ++quotient;
      if (remainder * 2 <= -divisor) --quotient;
      break;
    case Rounding::kTruncate:
      break;
    case Rounding::kFloor:
      if (remainder < 0) --quotient;
      break;
    case Rounding::kCeiling:
      if (remainder > 0) ++quotient;
      break;
  }
  return quotient;
}

void ToInteger(sqlite3_context* context, int, sqlite3_value** args) {
  Call call{context, args};
  auto one = call.Unary({0}, 1);
  if (!one) return;
  const Decimal* value = &one->value;
  const unsigned char* target_text = sqlite3_value_text(args[2]);
  std::optional<ColumnType> target =
      target_text ? tsql::ParseDeclaredType(reinterpret_cast<const char*>(target_text))
                  : std::nullopt;
  if (!target) return sqlite3_result_error(context, "sqlengine_exact_to_integer: not a type", -1);
  // A decimal's fraction is cut; money and smallmoney round to the whole
  // number, half away from zero ($2.5 is 3), as SQL Server converts them.
  bool money = one->type.type != SqlType::kDecimal;
  __int128 whole = money ? DropDigits(value->unscaled, value->scale, Rounding::kHalfAway)
                         : value->unscaled / PowerOfTen(value->scale);
  if (target->type == SqlType::kBit) return sqlite3_result_int64(context, value->unscaled != 0);
  auto [low, high] = IntegerRange(target->type);
  if (whole < low || whole > high)
    return call.Fail(MakeError(8115, {"expression", tsql::TypeName(target->type)}));
  sqlite3_result_int64(context, static_cast<sqlite3_int64>(whole));
}

using Operation = ExactResult (*)(const Decimal&, const Decimal&, int, int);

template <Operation kOperation>
void Binary(sqlite3_context* context, int, sqlite3_value** args) {
  Call call{context, args};
  if (call.AnyNull({0, 2})) return sqlite3_result_null(context);
  std::optional<ColumnType> left_type = call.Type(1), right_type = call.Type(3),
                            result_type = call.Type(4);
  if (!left_type || !right_type || !result_type) return;
  std::optional<Decimal> left = call.Raw(0, *left_type);
  if (!left) return;
  std::optional<Decimal> right = call.Raw(2, *right_type);
  if (!right) return;
  // Computed at the result's scale to 38 digits; the result type's own
  // range is checked as the value is stored.
  call.Result(kOperation(*left, *right, kMaxDigits, values::RawScale(*result_type)), *result_type);
}

void Compare(sqlite3_context* context, int, sqlite3_value** args) {
  Call call{context, args};
  if (call.AnyNull({0, 2})) return sqlite3_result_null(context);
  std::optional<ColumnType> left_type = call.Type(1), right_type = call.Type(3);
  if (!left_type || !right_type) return;
  std::optional<Decimal> left = call.Raw(0, *left_type);
  if (!left) return;
  std::optional<Decimal> right = call.Raw(2, *right_type);
  if (right) sqlite3_result_int(context, values::Compare(*left, *right));
}


void Round(sqlite3_context* context, int, sqlite3_value** args) {
  Call call{context, args};
  auto one = call.Unary({0, 2}, 4);
  if (!one) return;
  const Decimal* value = &one->value;
  const ColumnType* result_type = &one->result;
  sqlite3_int64 length = sqlite3_value_int64(args[2]);
  bool truncate = sqlite3_value_type(args[3]) != SQLITE_NULL && sqlite3_value_int64(args[3]) != 0;
  sqlite3_int64 drop = value->scale - length;
  if (drop <= 0) return ResultRaw(context, *value, *result_type);
  int dropped = drop > kMaxDigits + 1 ? kMaxDigits + 1 : static_cast<int>(drop);
  __int128 kept =
      DropDigits(value->unscaled, dropped, truncate ? Rounding::kTruncate : Rounding::kHalfAway);
  // Back at the argument's scale; a carry into a new digit can pass the
  // type's precision, which SQL Server reports as an overflow.
  Decimal rounded{dropped > kMaxDigits ? 0 : kept * PowerOfTen(dropped), value->scale};
  if (!values::FitsPrecision(rounded, kMaxDigits)) return call.Fail(OverflowError(*result_type));
  ResultRaw(context, rounded, *result_type);
}

template <Rounding kRounding>
void WholePart(sqlite3_context* context, int, sqlite3_value** args) {
  if (auto one = Call{context, args}.Unary({0}, 2)) {
    ResultRaw(context, Decimal{DropDigits(one->value.unscaled, one->value.scale, kRounding), 0},
              one->result);
  }
}

void Absolute(sqlite3_context* context, int, sqlite3_value** args) {
  if (auto one = Call{context, args}.Unary({0}, 2)) {
    if (one->value.unscaled < 0) one->value.unscaled = -one->value.unscaled;
    ResultRaw(context, one->value, one->result);
  }
}

void Sign(sqlite3_context* context, int, sqlite3_value** args) {
  if (auto one = Call{context, args}.Unary({0}, 2)) {
    __int128 unscaled = one->value.unscaled;
    ResultRaw(context, Decimal{(unscaled > 0) - (unscaled < 0), 0}, one->result);
  }
}

// base^exponent with every product rounded at `scale`; nullopt past 38 digits.
std::optional<Decimal> ExactPower(const Decimal& base, sqlite3_int64 exponent, int scale) {
  Decimal result{1, 0}, factor = base;
  while (exponent > 0) {
    if (exponent & 1) {
      ExactResult product = values::Multiply(result, factor, kMaxDigits, scale);
      if (product.fault != ArithmeticFault::kNone) return std::nullopt;
      result = product.value;
    }
    exponent >>= 1;
    if (exponent > 0) {
      ExactResult squared = values::Multiply(factor, factor, kMaxDigits, scale);
      if (squared.fault != ArithmeticFault::kNone) return std::nullopt;
      factor = squared.value;
    }
  }
  return result;
}

void Power(sqlite3_context* context, int, sqlite3_value** args) {
  Call call{context, args};
  auto one = call.Unary({0, 2}, 3);
  if (!one) return;
  const Decimal* base = &one->value;
  const ColumnType* result_type = &one->result;
  int scale = values::RawScale(*result_type);
  if (sqlite3_value_type(args[2]) == SQLITE_INTEGER && sqlite3_value_int64(args[2]) >= 0) {
    // Square-and-multiply with digits to spare beyond the result's scale,
    // rounded once at the end; fewer spare digits when the value needs them.
    for (int working = std::min(kMaxDigits - 1, scale + 20); working >= scale; --working) {
      if (std::optional<Decimal> power = ExactPower(*base, sqlite3_value_int64(args[2]), working)) {
        return call.Result(values::Add(*power, Decimal{}, kMaxDigits, scale), *result_type);
      }
    }
    return call.Fail(OverflowError(*result_type));
  }
  double value = std::pow(std::stod(values::DecimalText(*base)), sqlite3_value_double(args[2]));
  if (std::isnan(value) || std::isinf(value)) return call.Fail(MakeError(3623));
  try {
    ResultRaw(context, FitDecimal(Value(value), *result_type), *result_type);
  } catch (const SqlError& error) {
    call.Fail(error);
  }
}

// How SQL Server names a type in 8115: decimal as "numeric".
std::string OverflowName(const ColumnType& type) {
  return type.type == SqlType::kDecimal ? "numeric" : std::string(tsql::TypeName(type.type));
}

void Cast(sqlite3_context* context, int, sqlite3_value** args) {
  Call call{context, args};
  auto one = call.Unary({0}, 2);
  if (!one) return;
  if (values::ToRaw(one->value, one->result).fault != values::ExactFault::kNone)
    return call.Fail(MakeError(8115, {OverflowName(one->type), OverflowName(one->result)}));
  ResultRaw(context, one->value, one->result);
}

// "1234567.5" as "1,234,567.5".
std::string WithThousands(const std::string& text) {
  size_t digits_begin = text.starts_with("-") ? 1 : 0;
  size_t point = std::min(text.find('.'), text.size());
  std::string grouped = text.substr(point);
  for (size_t k = point, n = 0; k > digits_begin; --k, ++n) {
    if (n > 0 && n % 3 == 0) grouped.insert(0, 1, ',');
    grouped.insert(0, 1, text[k - 1]);
  }
  return text.substr(0, digits_begin) + grouped;
}

// CONVERT to character data: a decimal with every digit of its scale; money
// and smallmoney to two decimals (style 0), with thousands separators
// (style 1), or to four (style 2).
void Style(sqlite3_context* context, int count, sqlite3_value** args) {
  auto one = Call{context, args}.Unary({0}, 1);
  if (!one) return;
  std::string text;
  if (one->type.type == SqlType::kDecimal) {
    text = values::DecimalText(one->value);
  } else {
    sqlite3_int64 style =
        sqlite3_value_type(args[2]) == SQLITE_NULL ? 0 : sqlite3_value_int64(args[2]);
    if (style == 2) {
      text = values::DecimalText(one->value);
    } else {
      int drop = one->value.scale - 2;
      text = values::DecimalText(
          Decimal{DropDigits(one->value.unscaled, drop, Rounding::kHalfAway), 2});
      if (style == 1) text = WithThousands(text);
    }
  }
  // (..., length, 'target type'): a text past the target's length is no
  // value of it.
  if (count == 5 && sqlite3_value_type(args[3]) != SQLITE_NULL &&
      static_cast<sqlite3_int64>(text.size()) > sqlite3_value_int64(args[3])) {
    std::string target(reinterpret_cast<const char*>(sqlite3_value_text(args[4])));
    if (one->type.type == SqlType::kDecimal)
      return Call{context, args}.Fail(MakeError(8115, {"numeric", target}));
    return Call{context, args}.Fail(MakeError(234, {target}));
  }
  sqlite3_result_text(context, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

void Check(sqlite3_context* context, int, sqlite3_value** args) {
  Call call{context, args};
  if (call.AnyNull({0})) return sqlite3_result_null(context);
  std::optional<ColumnType> type = call.Type(1);
  if (!type) return;
  if (std::optional<SqlError> refused = StoredFormError(args[0], *type)) return call.Fail(*refused);
  sqlite3_result_value(context, args[0]);
}

constexpr FunctionDefinition kExactFunctions[] = {
    {"sqlengine_exact_from", 2, From, true},
    {"sqlengine_exact_rescale", 3, Rescale, true},
    {"sqlengine_exact_to_float", 2, ToFloat, true},
    {"sqlengine_exact_to_text", 2, ToText, true},
    {"sqlengine_exact_to_integer", 3, ToInteger, true},
    {"sqlengine_exact_add", 5, Binary<values::Add>, true},
    {"sqlengine_exact_subtract", 5, Binary<values::Subtract>, true},
    {"sqlengine_exact_multiply", 5, Binary<values::Multiply>, true},
    {"sqlengine_exact_divide", 5, Binary<values::Divide>, true},
    {"sqlengine_exact_modulo", 5, Binary<values::Remainder>, true},
    {"sqlengine_exact_compare", 4, Compare, true},
    {"sqlengine_exact_round", 5, Round, true},
    {"sqlengine_exact_ceiling", 3, WholePart<Rounding::kCeiling>, true},
    {"sqlengine_exact_floor", 3, WholePart<Rounding::kFloor>, true},
    {"sqlengine_exact_abs", 3, Absolute, true},
    {"sqlengine_exact_sign", 3, Sign, true},
    {"sqlengine_exact_power", 4, Power, true},
    {"sqlengine_exact_check", 2, Check, true},
    {"sqlengine_exact_cast", 3, Cast, true},
    {"sqlengine_exact_style", 3, Style, true},
    {"sqlengine_exact_style", 5, Style, true},
};

}  // namespace

void RegisterExactFunctions(sqlite3* db) { RegisterFunctionTable(db, kExactFunctions); }

}  // namespace sqlengine::exec
