#include "engine/exec/exact_aggregates.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>

#include "engine/common/error.h"
#include "engine/exec/exact_values.h"
#include "engine/exec/sqlite_errors.h"
#include "engine/exec/value_conversion.h"
#include "engine/tsql/type_name.h"
#include "engine/values/exact_arithmetic.h"
#include "engine/values/exact_storage.h"
#include "engine/values/number_text.h"

namespace sqlengine::exec {
namespace {

// Lives in SQLite's aggregate context, which SQLite zeroes and frees: it is
// made in place on the first row that is not NULL and must stay trivially
// destructible. The result type comes from that row's constant argument.
// SQLite aligns the context to 8 bytes only; the total's __int128 needs 16.
struct Running {
  bool started;
  bool overflowed;
  bool money;
  int result_scale;
  values::DecimalSum sum;
  // Set for sqlengine_exact_sum/avg: the argument's type, and the result's,
  // in whose stored form the result is handed on.
  bool raw;
  ColumnType argument;
  ColumnType result;
  // The argument's stored form: 16-byte keys, or integers.
  bool keys;
};

// The running state in `context`; nullptr when there is none yet and
// `create` is false, or when SQLite has no memory for it.
Running* RunningOf(sqlite3_context* context, bool create) {
  void* raw = sqlite3_aggregate_context(
      context, create ? static_cast<int>(sizeof(Running) + alignof(Running)) : 0);
  if (raw == nullptr) return nullptr;
  auto address = reinterpret_cast<std::uintptr_t>(raw);
  address = (address + alignof(Running) - 1) & ~(std::uintptr_t{alignof(Running)} - 1);
  return reinterpret_cast<Running*>(address);
}

// Powers of ten up to 10^18: exact in a long double's 64-bit mantissa, as
// std::pow gives them, without its cost on every row.
constexpr std::array<long double, 19> kPowersOfTen = [] {
  std::array<long double, 19> powers{};
  powers[0] = 1;
  for (size_t i = 1; i < powers.size(); ++i) powers[i] = powers[i - 1] * 10;
  return powers;
}();

// A stored value at `scale`, as a reader of the column sees it.
Decimal AtScale(sqlite3_value* value, int scale) {
  if (scale >= 0 && static_cast<size_t>(scale) < kPowersOfTen.size()) {
    auto factor = static_cast<std::int64_t>(kPowersOfTen[static_cast<size_t>(scale)]);
    if (sqlite3_value_type(value) == SQLITE_INTEGER) {
      __int128 scaled = 0;
      if (!__builtin_mul_overflow(static_cast<__int128>(sqlite3_value_int64(value)), factor,
                                  &scaled))
        return Decimal{scaled, scale};
    } else if (sqlite3_value_type(value) == SQLITE_FLOAT) {
      // The reader's own rounding (value_conversion's), without a text form
      // while the scaled value is well inside 64 bits.
      long double scaled = std::roundl(static_cast<long double>(sqlite3_value_double(value)) *
                                       kPowersOfTen[static_cast<size_t>(scale)]);
      if (std::fabs(scaled) < 1e18L) return Decimal{static_cast<__int128>(scaled), scale};
    }
  }
  ColumnType type{SqlType::kDecimal};
  type.precision = 38;
  type.scale = scale;
  return FitDecimal(PlainValue(value), type);
}

void Step(sqlite3_context* context, int, sqlite3_value** arguments) {
  if (sqlite3_value_type(arguments[0]) == SQLITE_NULL) return;
  Running* running = RunningOf(context, true);
  if (running == nullptr) return sqlite3_result_error_nomem(context);
  if (!running->started) {
    const unsigned char* declared = sqlite3_value_text(arguments[2]);
    std::optional<ColumnType> type =
        declared ? tsql::ParseDeclaredType(reinterpret_cast<const char*>(declared)) : std::nullopt;
    if (!type) return sqlite3_result_error(context, "sqlengine_decimal_sum: not a type", -1);
    new (running)
        Running{true, false, type->type == SqlType::kMoney, type->scale, {}, false, {}, {}, false};
  }
  if (running->overflowed) return;
  try {
    if (!running->sum.Add(AtScale(arguments[0], sqlite3_value_int(arguments[1]))))
      running->overflowed = true;
  } catch (const SqlError& error) {
    ResultSqlError(context, error);
  }
}

// The unscaled value a stored integer or 16-byte key (of SQLite type
// `kind`) stands for; nullopt for anything else.
std::optional<__int128> StoredUnscaled(sqlite3_value* value, int kind) {
  if (kind == SQLITE_INTEGER) return sqlite3_value_int64(value);
  if (kind == SQLITE_BLOB && sqlite3_value_bytes(value) == sizeof(values::ExactKey))
    return values::OrderedKeyValue(static_cast<const std::uint8_t*>(sqlite3_value_blob(value)));
  return std::nullopt;
}

void NotStoredForm(sqlite3_context* context) {
  sqlite3_result_error(context, "an exact function's argument is not in the stored form", -1);
}

// The stored-form aggregates: (raw value, 'argument type', 'result type').
// Every row of one column shares the argument's form and scale, so a row
// costs one addition: an integer as it is, a key once decoded.
void RawStep(sqlite3_context* context, int, sqlite3_value** arguments) {
  int kind = sqlite3_value_type(arguments[0]);
  if (kind == SQLITE_NULL) return;
  Running* running = RunningOf(context, true);
  if (running == nullptr) return sqlite3_result_error_nomem(context);
  if (!running->started) {
    std::optional<ColumnType> argument = ExactTypeArgument(context, arguments, 1);
    std::optional<ColumnType> result = ExactTypeArgument(context, arguments, 2);
    if (!argument || !result) return;
    new (running) Running{
        true,      false,  result->type == SqlType::kMoney, values::RawScale(*result), {}, true,
        *argument, *result, false};
    running->sum.SetScale(values::RawScale(*argument));
    running->keys = !values::StoredAsInteger(*argument);
  }
  if (running->overflowed) return;
  std::optional<__int128> value = StoredUnscaled(arguments[0], kind);
  if (!value || (kind == SQLITE_BLOB) != running->keys) return NotStoredForm(context);
  if (!running->sum.AddAtScale(*value)) running->overflowed = true;
}

// The result of SUM (`average` false) or AVG over `count` values adding up
// to `total` (nullopt: past 38 digits): money's average rounded to its four
// decimals, a decimal's cut at its scale; 8115 past the result's range. In
// the stored form of `raw_result` when given, else as a plain number.
void ResultTotal(sqlite3_context* context, std::optional<Decimal> total, std::int64_t count,
                 bool average, bool money, int result_scale, const ColumnType* raw_result) {
  std::optional<Decimal> result = total;
  if (total && average) {
    values::ExactResult quotient =
        values::Divide(*total, Decimal{count, 0}, 38, money ? result_scale + 6 : result_scale);
    result = quotient.fault == values::ArithmeticFault::kNone
                 ? std::optional<Decimal>(quotient.value)
                 : std::nullopt;
  }
  if (result && money) *result = values::Rescaled(*result, 4);
  if (!result || (money && !values::FitsMoney(*result)))
    return ResultSqlError(context, MakeError(8115, {"expression", money ? "money" : "numeric"}));
  if (raw_result != nullptr) return ResultRaw(context, *result, *raw_result);
  if (result->scale == 0 && result->unscaled >= INT64_MIN && result->unscaled <= INT64_MAX)
    return sqlite3_result_int64(context, static_cast<sqlite3_int64>(result->unscaled));
  sqlite3_result_double(context, std::strtod(values::DecimalText(*result).c_str(), nullptr));
}

void Finish(sqlite3_context* context, bool average) {
  Running* running = RunningOf(context, false);
  if (running == nullptr || !running->started) return sqlite3_result_null(context);
  std::optional<Decimal> total = running->overflowed ? std::nullopt : running->sum.Total();
  ResultTotal(context, total, running->sum.Count(), average, running->money,
              running->result_scale, running->raw ? &running->result : nullptr);
}

// sqlengine_exact_collect(raw): the total and count of the stored values of
// one column it is handed (SQLite hands it each distinct one for DISTINCT,
// which it allows with one argument alone), as text "total:count" in units
// of the column's scale, or "overflow" past 38 digits; NULL for none.
void CollectStep(sqlite3_context* context, int, sqlite3_value** arguments) {
  int kind = sqlite3_value_type(arguments[0]);
  if (kind == SQLITE_NULL) return;
  Running* running = RunningOf(context, true);
  if (running == nullptr) return sqlite3_result_error_nomem(context);
  if (!running->started) {
    new (running) Running{true, false, false, 0, {}, true, {}, {}, false};
    running->sum.SetScale(0);
  }
  std::optional<__int128> value = StoredUnscaled(arguments[0], kind);
  if (!value) return NotStoredForm(context);
  if (!running->sum.AddAtScale(*value)) running->overflowed = true;
}

void CollectFinish(sqlite3_context* context) {
  Running* running = RunningOf(context, false);
  if (running == nullptr || !running->started) return sqlite3_result_null(context);
  std::optional<Decimal> total = running->overflowed ? std::nullopt : running->sum.Total();
  std::string text = total ? values::DecimalText(*total) + ":" +
                                 std::to_string(running->sum.Count())
                           : std::string("overflow");
  sqlite3_result_text(context, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

// sqlengine_exact_collected(collected, 'argument type', 'result type',
// average): SUM (0) or AVG (1) in the result's stored form from what
// sqlengine_exact_collect gave.
void Collected(sqlite3_context* context, int, sqlite3_value** arguments) {
  if (sqlite3_value_type(arguments[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  std::optional<ColumnType> argument = ExactTypeArgument(context, arguments, 1);
  std::optional<ColumnType> result = ExactTypeArgument(context, arguments, 2);
  if (!argument || !result) return;
  std::string text(reinterpret_cast<const char*>(sqlite3_value_text(arguments[0])));
  std::size_t colon = text.find(':');
  std::optional<Decimal> total;
  std::int64_t count = 0;
  if (colon != std::string::npos) {
    total = values::DecimalFromText(std::string_view(text).substr(0, colon), 0);
    count = std::stoll(text.substr(colon + 1));
    if (total) total->scale = values::RawScale(*argument);
  }
  ResultTotal(context, total, count, sqlite3_value_int(arguments[3]) != 0,
              result->type == SqlType::kMoney, values::RawScale(*result), &*result);
}

void FinishSum(sqlite3_context* context) { Finish(context, false); }
void FinishAverage(sqlite3_context* context) { Finish(context, true); }

}  // namespace

ExactTotal::ExactTotal(const ColumnType& argument, const ColumnType& result, bool average)
    : keys_(!values::StoredAsInteger(argument)), average_(average), result_(result) {
  sum_.SetScale(values::RawScale(argument));
}

bool ExactTotal::Add(sqlite3_value* value) {
  int kind = sqlite3_value_type(value);
  if (kind == SQLITE_NULL) return true;
  std::optional<__int128> unscaled = StoredUnscaled(value, kind);
  if (!unscaled || (kind == SQLITE_BLOB) != keys_) return false;
  if (!overflowed_ && !sum_.AddAtScale(*unscaled)) overflowed_ = true;
  return true;
}

void ExactTotal::Result(sqlite3_context* context) const {
  // The count stops with an overflow; the result is 8115 then whatever it is.
  if (!overflowed_ && sum_.Count() == 0) return sqlite3_result_null(context);
  std::optional<Decimal> total = overflowed_ ? std::nullopt : sum_.Total();
  ResultTotal(context, total, sum_.Count(), average_, result_.type == SqlType::kMoney,
              values::RawScale(result_), &result_);
}

void RegisterExactAggregates(sqlite3* db) {
  struct Aggregate {
    const char* name;
    void (*step)(sqlite3_context*, int, sqlite3_value**);
    void (*finish)(sqlite3_context*);
  };
  for (const Aggregate& aggregate : {Aggregate{"sqlengine_decimal_sum", Step, FinishSum},
                                     Aggregate{"sqlengine_decimal_avg", Step, FinishAverage},
                                     Aggregate{"sqlengine_exact_sum", RawStep, FinishSum},
                                     Aggregate{"sqlengine_exact_avg", RawStep, FinishAverage}}) {
    if (sqlite3_create_function_v2(db, aggregate.name, 3, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                   nullptr, nullptr, aggregate.step, aggregate.finish,
                                   nullptr) != SQLITE_OK) {
      throw std::runtime_error(std::string("cannot register ") + aggregate.name);
    }
  }
  if (sqlite3_create_function_v2(db, "sqlengine_exact_collect", 1,
                                 SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, nullptr, CollectStep,
                                 CollectFinish, nullptr) != SQLITE_OK ||
      sqlite3_create_function_v2(db, "sqlengine_exact_collected", 4,
                                 SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, Collected, nullptr,
                                 nullptr, nullptr) != SQLITE_OK) {
    throw std::runtime_error("cannot register sqlengine_exact_collect");
  }
}

}  // namespace sqlengine::exec
