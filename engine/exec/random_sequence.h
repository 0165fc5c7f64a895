#pragma once
// The generator behind RAND: a combined linear congruential generator of two
// multiplicative sequences (multipliers 40014 and 40692, prime moduli
// 2147483563 and 2147483399), their difference scaled into (0, 1). RAND(seed)
// starts the first sequence at the seed and the second at a fixed value, so
// a seed gives SQL Server's first value and the values RAND() gives after
// it; until then the sequence starts from a seed of its own.

#include <cstdint>
#include <mutex>

namespace sqlengine::exec {

class RandomSequence {
 public:
  // Starts from a seed taken from the system's entropy source.
  RandomSequence();
  RandomSequence(const RandomSequence&) = delete;
  RandomSequence& operator=(const RandomSequence&) = delete;

  // RAND(seed): starts the sequence again from `seed` and returns its first value.
  double Seed(std::int64_t seed);
  // RAND(): the next value of the sequence. Thread-safe.
  double Next();

 private:
  void Start(std::int64_t seed);
  double Step();

  std::mutex mutex_;
  std::int64_t first_ = 1;
  std::int64_t second_ = 1;
};

}  // namespace sqlengine::exec
