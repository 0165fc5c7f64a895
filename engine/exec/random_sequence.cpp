#include "engine/exec/random_sequence.h"

#include <random>

namespace sqlengine::exec {
namespace {

constexpr std::int64_t kFirstModulus = 2147483563;
constexpr std::int64_t kFirstMultiplier = 40014;
constexpr std::int64_t kSecondModulus = 2147483399;
constexpr std::int64_t kSecondMultiplier = 40692;
// Where the second sequence starts after every seed.
constexpr std::int64_t kSecondStart = 67890;
// A zero seed would hold the first sequence at zero; it starts here instead.
constexpr std::int64_t kZeroSeedStart = 12345;
// The divisor that scales the difference of the sequences into (0, 1).
constexpr double kScale = 2147483589.4672801884116202;

std::int64_t Modulo(std::int64_t value, std::int64_t modulus) {
  std::int64_t rest = value % modulus;
  return rest < 0 ? rest + modulus : rest;
}

}  // namespace

RandomSequence::RandomSequence() {
  std::random_device entropy;
  Start(static_cast<std::int64_t>(entropy() % (kFirstModulus - 1)) + 1);
}

void RandomSequence::Start(std::int64_t seed) {
  first_ = seed == 0 ? kZeroSeedStart : Modulo(seed, kFirstModulus);
  if (first_ == 0) first_ = kZeroSeedStart;
  second_ = kSecondStart;
}

double RandomSequence::Step() {
  first_ = first_ * kFirstMultiplier % kFirstModulus;
  second_ = second_ * kSecondMultiplier % kSecondModulus;
  std::int64_t difference = first_ - second_;
  if (difference < 1) difference += kFirstModulus - 1;
  return static_cast<double>(difference) / kScale;
}

double RandomSequence::Seed(std::int64_t seed) {
  std::lock_guard lock(mutex_);
  Start(seed);
  return Step();
}

double RandomSequence::Next() {
  std::lock_guard lock(mutex_);
  return Step();
}

}  // namespace sqlengine::exec
