#include "engine/exec/math_functions.h"

#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

#include "engine/common/error.h"
#include "engine/exec/function_registration.h"
#include "engine/exec/random_sequence.h"
#include "engine/exec/sqlite_errors.h"

namespace sqlengine::exec {
namespace {

bool AnyNull(int count, sqlite3_value** args) {
  for (int k = 0; k < count; ++k) {
    if (sqlite3_value_type(args[k]) == SQLITE_NULL) return true;
  }
  return false;
}

// What an infinite result means: an argument outside the domain (3623),
// as the C library answers a pole (LOG(0)), or a result past float's range
// (8115), as POWER(10e0, 400) and SQUARE(1e200) leave it.
enum class Infinity { kDomain, kOverflow };

// A float result, or 3623 when the arguments were outside the domain.
void ResultFloat(sqlite3_context* context, double value, Infinity infinity = Infinity::kDomain) {
  if (std::isinf(value) && infinity == Infinity::kOverflow)
    return ResultSqlError(context, MakeError(8115, {"expression", "float"}));
  if (std::isnan(value) || std::isinf(value)) return ResultSqlError(context, MakeError(3623));
  sqlite3_result_double(context, value);
}

template <double (*kFunction)(double), Infinity kInfinity = Infinity::kDomain>
void Unary(sqlite3_context* context, int, sqlite3_value** args) {
  if (AnyNull(1, args)) return sqlite3_result_null(context);
  ResultFloat(context, kFunction(sqlite3_value_double(args[0])), kInfinity);
}

double Square(double x) { return x * x; }
double Cotangent(double x) { return 1.0 / std::tan(x); }
// The C library answers a pole or a zero argument with an infinity, which
// ResultFloat turns into the domain error SQL Server reports.
double NaturalLog(double x) { return std::log(x); }
double CommonLog(double x) { return std::log10(x); }
double SquareRoot(double x) { return std::sqrt(x); }
double ArcSine(double x) { return std::asin(x); }
double ArcCosine(double x) { return std::acos(x); }

void ArcTangent2(sqlite3_context* context, int, sqlite3_value** args) {
  if (AnyNull(2, args)) return sqlite3_result_null(context);
  ResultFloat(context, std::atan2(sqlite3_value_double(args[0]), sqlite3_value_double(args[1])));
}

// POWER(x, y [, integer type]) as a float; the binder converts it to x's
// type. A negative base with a fractional exponent is outside the domain;
// a result an integer x's type ('int', 'bigint') cannot hold is 232, as
// SQL Server reports POWER(2, 32).
void Power(sqlite3_context* context, int count, sqlite3_value** args) {
  if (AnyNull(2, args)) return sqlite3_result_null(context);
  double base = sqlite3_value_double(args[0]), exponent = sqlite3_value_double(args[1]);
  if (base == 0 && exponent < 0) return ResultSqlError(context, MakeError(3623));
  double result = std::pow(base, exponent);
  if (count == 3 && std::isfinite(result)) {
    std::string type(reinterpret_cast<const char*>(sqlite3_value_text(args[2])));
    double limit = type == "int" ? 2147483648.0 : 9223372036854775808.0;
    if (std::trunc(result) >= limit || std::trunc(result) < -limit) {
      char value[64];
      std::snprintf(value, sizeof value, "%f", result);
      return ResultSqlError(context, MakeError(232, {type, value}));
    }
  }
  ResultFloat(context, result, Infinity::kOverflow);
}

// SQLite's two-argument log takes the base first; SQL Server 2000's LOG
// takes one argument, so a second is refused rather than read either way.
void LogOfTwo(sqlite3_context* context, int, sqlite3_value**) {
  ResultSqlError(context, MakeError(174, {"log", "1"}));
}

// The sequence a connection's RAND draws from, shared with the other
// connections of its owner.
struct SequenceHolder {
  std::shared_ptr<RandomSequence> sequence;
};

RandomSequence& SequenceOf(sqlite3_context* context) {
  return *static_cast<SequenceHolder*>(sqlite3_user_data(context))->sequence;
}

// RAND([seed]): the session's sequence, started again by a seed. Registered
// as deterministic, so that SQLite works out a call without column arguments
// once per statement, before the first row: every row then reads the same
// value, as SQL Server's RAND() in a query over many rows gives it. A seed
// read from each row starts the sequence again on each row.
void Rand(sqlite3_context* context, int count, sqlite3_value** args) {
  RandomSequence& sequence = SequenceOf(context);
  if (count == 1 && sqlite3_value_type(args[0]) != SQLITE_NULL)
    return sqlite3_result_double(context, sequence.Seed(sqlite3_value_int64(args[0])));
  sqlite3_result_double(context, sequence.Next());
}

// RAND() of a computed column (see sqlengine_row_getdate): the argument is
// no seed.
void RowRand(sqlite3_context* context, int, sqlite3_value**) {
  RandomSequence& sequence = SequenceOf(context);
  sqlite3_result_double(context, sequence.Next());
}

constexpr FunctionDefinition kFunctions[] = {
    {"log", 1, Unary<NaturalLog>, true},
    {"log", 2, LogOfTwo, true},
    {"log10", 1, Unary<CommonLog>, true},
    {"sqrt", 1, Unary<SquareRoot>, true},
    {"square", 1, Unary<Square, Infinity::kOverflow>, true},
    {"asin", 1, Unary<ArcSine>, true},
    {"acos", 1, Unary<ArcCosine>, true},
    {"cot", 1, Unary<Cotangent>, true},
    {"atn2", 2, ArcTangent2, true},
    {"power", 2, Power, true},
    {"power", 3, Power, true},
};

void DeleteSequence(void* holder) { delete static_cast<SequenceHolder*>(holder); }

// The owners' sequences, each kept alive by its connections' holders.
std::shared_ptr<RandomSequence> SharedSequence(const void* owner) {
  static std::mutex mutex;
  static std::map<const void*, std::weak_ptr<RandomSequence>> sequences;
  std::lock_guard lock(mutex);
  std::erase_if(sequences, [](const auto& entry) { return entry.second.expired(); });
  std::weak_ptr<RandomSequence>& kept = sequences[owner];
  std::shared_ptr<RandomSequence> sequence = kept.lock();
  if (!sequence) {
    sequence = std::make_shared<RandomSequence>();
    kept = sequence;
  }
  return sequence;
}

void RegisterRand(sqlite3* db, int arguments, SequenceHolder* sequence,
                  void (*destroy)(void*)) {
  if (sqlite3_create_function_v2(db, "rand", arguments, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                 sequence, Rand, nullptr, nullptr, destroy) != SQLITE_OK) {
    throw std::runtime_error("cannot register rand");
  }
}

}  // namespace

void RegisterMathFunctions(sqlite3* db, const void* owner) {
  RegisterFunctionTable(db, kFunctions);
  // One holder for both arities and computed columns, owned by the
  // connection (released with the registration of the second arity).
  auto* sequence = new SequenceHolder{SharedSequence(owner)};
  RegisterRand(db, 0, sequence, nullptr);
  RegisterRand(db, 1, sequence, DeleteSequence);
  if (sqlite3_create_function_v2(db, "sqlengine_row_rand", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                 sequence, RowRand, nullptr, nullptr, nullptr) != SQLITE_OK) {
    throw std::runtime_error("cannot register sqlengine_row_rand");
  }
}

}  // namespace sqlengine::exec
