#include "engine/exec/statistical_aggregates.h"

#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace sqlengine::exec {
namespace {

// Welford's running mean and sum of squared deviations, in SQLite's zeroed
// aggregate context.
struct Moments {
  std::int64_t count;
  double mean;
  double squares;
};

void Step(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return;
  auto* moments = static_cast<Moments*>(sqlite3_aggregate_context(context, sizeof(Moments)));
  if (moments == nullptr) return sqlite3_result_error_nomem(context);
  double x = sqlite3_value_double(args[0]);
  ++moments->count;
  double delta = x - moments->mean;
  moments->mean += delta / static_cast<double>(moments->count);
  moments->squares += delta * (x - moments->mean);
}

enum class Form { kSample, kPopulation };

template <Form kForm, bool kRoot>
void Final(sqlite3_context* context) {
  auto* moments = static_cast<Moments*>(sqlite3_aggregate_context(context, 0));
  std::int64_t count = moments == nullptr ? 0 : moments->count;
  std::int64_t divisor = kForm == Form::kSample ? count - 1 : count;
  if (count == 0 || divisor <= 0) return sqlite3_result_null(context);
  double variance = moments->squares / static_cast<double>(divisor);
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
