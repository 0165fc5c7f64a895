#include "engine/exec/integer_arithmetic.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>

#include "engine/common/error.h"
#include "engine/exec/function_registration.h"
#include "engine/exec/sqlite_errors.h"

namespace sqlengine::exec {
namespace {

struct IntegerRange {
  std::int64_t low, high;
  const char* name;
};

IntegerRange RangeOf(sqlite3_value* width) {
  switch (sqlite3_value_int(width)) {
    case 1:
      return {0, 255, "tinyint"};
    case 2:
      return {INT16_MIN, INT16_MAX, "smallint"};
    case 4:
      return {INT32_MIN, INT32_MAX, "int"};
    default:
      return {INT64_MIN, INT64_MAX, "bigint"};
  }
}

void Fail(sqlite3_context* context, int number, const IntegerRange& range) {
  SqlError error = number == 8115 ? MakeError(8115, {"expression", range.name}) : MakeError(number);
  ResultSqlError(context, error);
}

// The operand as a 64-bit integer; false when it is a number beyond that
// (a float SQLite made of an overflowing bigint operation).
bool OperandValue(sqlite3_value* value, std::int64_t& out) {
  if (sqlite3_value_numeric_type(value) != SQLITE_FLOAT) {
    out = sqlite3_value_int64(value);
    return true;
  }
  double number = std::trunc(sqlite3_value_double(value));
  // 2^63 is the first double past INT64_MAX.
  if (!(number >= -9223372036854775808.0 && number < 9223372036854775808.0)) return false;
  out = static_cast<std::int64_t>(number);
  return true;
}

// Reads both operands (NULL result when either is NULL) and hands them to
// `apply`, which returns false on an overflow of 64 bits.
template <typename Apply>
void Binary(sqlite3_context* context, sqlite3_value** args, Apply apply) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL || sqlite3_value_type(args[1]) == SQLITE_NULL)
    return sqlite3_result_null(context);
  const IntegerRange range = RangeOf(args[2]);
  std::int64_t a = 0, b = 0, result = 0;
  if (!OperandValue(args[0], a) || !OperandValue(args[1], b)) return Fail(context, 8115, range);
  if (int error = apply(a, b, result)) return Fail(context, error, range);
  if (result < range.low || result > range.high) return Fail(context, 8115, range);
  sqlite3_result_int64(context, result);
}

void Add(sqlite3_context* context, int, sqlite3_value** args) {
  Binary(context, args, [](std::int64_t a, std::int64_t b, std::int64_t& r) {
    return __builtin_add_overflow(a, b, &r) ? 8115 : 0;
  });
}

void Subtract(sqlite3_context* context, int, sqlite3_value** args) {
  Binary(context, args, [](std::int64_t a, std::int64_t b, std::int64_t& r) {
    return __builtin_sub_overflow(a, b, &r) ? 8115 : 0;
  });
}

void Multiply(sqlite3_context* context, int, sqlite3_value** args) {
  Binary(context, args, [](std::int64_t a, std::int64_t b, std::int64_t& r) {
    return __builtin_mul_overflow(a, b, &r) ? 8115 : 0;
  });
}

// Quotients are cut toward zero and remainders take the dividend's sign,
// as in C++.
void Divide(sqlite3_context* context, int, sqlite3_value** args) {
  Binary(context, args, [](std::int64_t a, std::int64_t b, std::int64_t& r) {
    if (b == 0) return 8134;
    if (a == INT64_MIN && b == -1) return 8115;
    r = a / b;
    return 0;
  });
}

void Modulo(sqlite3_context* context, int, sqlite3_value** args) {
  Binary(context, args, [](std::int64_t a, std::int64_t b, std::int64_t& r) {
    if (b == 0) return 8134;
    r = b == -1 ? 0 : a % b;
    return 0;
  });
}

void InRange(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  const IntegerRange range = RangeOf(args[1]);
  std::int64_t value = 0;
  if (!OperandValue(args[0], value) || value < range.low || value > range.high)
    return Fail(context, 8115, range);
  sqlite3_result_int64(context, value);
}

// A conversion to a narrower integer type: 220 with the value for tinyint
// and smallint, 8115 for int.
void Narrowed(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  const IntegerRange range = RangeOf(args[1]);
  std::int64_t value = 0;
  if (!OperandValue(args[0], value)) return Fail(context, 8115, range);
  if (value >= range.low && value <= range.high) return sqlite3_result_int64(context, value);
  if (range.high > INT16_MAX) return Fail(context, 8115, range);
  ResultSqlError(context, MakeError(220, {range.name, std::to_string(value)}));
}

// A float or real converted to an integer type: truncated toward zero, or
// 232 naming the type and the value when the whole part is out of its range.
void FromFloat(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  const IntegerRange range = RangeOf(args[1]);
  double value = sqlite3_value_double(args[0]);
  double whole = std::trunc(value);
  // Compared as doubles: 2^63 is the first double past INT64_MAX.
  bool fits = whole >= static_cast<double>(range.low) &&
              (range.high == INT64_MAX ? whole < 9223372036854775808.0
                                       : whole <= static_cast<double>(range.high));
  if (fits) return sqlite3_result_int64(context, static_cast<std::int64_t>(whole));
  char text[400];
  std::snprintf(text, sizeof text, "%f", value);
  ResultSqlError(context, MakeError(232, {range.name, text}));
}

constexpr FunctionDefinition kFunctions[] = {
    {"sqlengine_int_add", 3, Add, true},           {"sqlengine_int_subtract", 3, Subtract, true},
    {"sqlengine_int_multiply", 3, Multiply, true}, {"sqlengine_int_divide", 3, Divide, true},
    {"sqlengine_int_modulo", 3, Modulo, true},     {"sqlengine_int_range", 2, InRange, true},
    {"sqlengine_int_narrowed", 2, Narrowed, true}, {"sqlengine_float_integer", 2, FromFloat, true},
};

}  // namespace

void RegisterIntegerArithmetic(sqlite3* db) { RegisterFunctionTable(db, kFunctions); }

}  // namespace sqlengine::exec
