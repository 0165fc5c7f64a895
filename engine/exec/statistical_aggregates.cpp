#include "engine/exec/statistical_aggregates.h"

#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace sqlengine::exec {
namespace {

// The count and the sums of each value's distance from the first value and
// of its square, in SQLite's zeroed aggregate context (doubles: that memory
// is only 8-byte aligned, too little for a long double). The variance is
// taken from them in one division at the end, n * sum(d*d) - sum(d)^2 over
// n * (n - 1), so values with few digits give it to the last bit (VAR of 1,
// 1 and 2 is the double nearest 1/3); measuring from the first value keeps
// large values close together (1e12 + 1, 1e12 + 2) from cancelling each
// other's digits.
struct Moments {
  std::int64_t count;
  double origin;
  double sum;
  double squares;
};

void Step(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return;
  auto* moments = static_cast<Moments*>(sqlite3_aggregate_context(context, sizeof(Moments)));
  if (moments == nullptr) return sqlite3_result_error_nomem(context);
  double x = sqlite3_value_double(args[0]);
  if (moments->count++ == 0) moments->origin = x;
  double d = x - moments->origin;
  moments->sum += d;
  moments->squares += d * d;
}

enum class Form { kSample, kPopulation };

template <Form kForm, bool kRoot>
void Final(sqlite3_context* context) {
  auto* moments = static_cast<Moments*>(sqlite3_aggregate_context(context, 0));
  std::int64_t count = moments == nullptr ? 0 : moments->count;
  std::int64_t divisor = kForm == Form::kSample ? count - 1 : count;
  if (count == 0 || divisor <= 0) return sqlite3_result_null(context);
  double n = static_cast<double>(count);
  double spread = n * moments->squares - moments->sum * moments->sum;
  // Rounding may leave a spread of equal values a hair below zero.
  double variance = spread <= 0 ? 0.0 : spread / (n * static_cast<double>(divisor));
  sqlite3_result_double(context, kRoot ? std::sqrt(variance) : variance);
}

struct Aggregate {
  const char* name;
  void (*final)(sqlite3_context*);
};

constexpr Aggregate kAggregates[] = {
    {"sqlengine_stdev", Final<Form::kSample, true>},
    {"sqlengine_stdevp", Final<Form::kPopulation, true>},
    {"sqlengine_var", Final<Form::kSample, false>},
    {"sqlengine_varp", Final<Form::kPopulation, false>},
};

}  // namespace

void RegisterStatisticalAggregates(sqlite3* db) {
  for (const Aggregate& aggregate : kAggregates) {
    if (sqlite3_create_function_v2(db, aggregate.name, 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                   nullptr, nullptr, Step, aggregate.final, nullptr) != SQLITE_OK) {
      throw std::runtime_error(std::string("cannot register ") + aggregate.name);
    }
  }
}

}  // namespace sqlengine::exec
