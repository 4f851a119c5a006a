#include "platform/sim/random.h"

#include <cmath>

namespace sim {
namespace {
uint64_t SplitMix64(uint64_t& x) {
  uint64_t z = (x += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}
uint64_t RotateLeft(uint64_t x, int k) {
  return (x << k) | (x >> (64 - k));
}
}  // namespace

Random::Random(uint64_t seed) {
  for (auto& word : state_) word = SplitMix64(seed);
}

uint64_t Random::Next() {
  const uint64_t result = RotateLeft(state_[1] * 5, 7) * 9;
  const uint64_t t = state_[1] << 17;
  state_[2] ^= state_[0];
  state_[3] ^= state_[1];
  state_[1] ^= state_[2];
  state_[0] ^= state_[3];
  state_[2] ^= t;
  state_[3] = RotateLeft(state_[3], 45);
  return result;
}

double Random::NextDouble() {
  return static_cast<double>(Next() >> 11) * 0x1.0p-53;
}

bool Random::Chance(double p) {
  if (p <= 0) return false;
  if (p >= 1) return true;
  return NextDouble() < p;
}

int64_t Random::UniformInt(int64_t low, int64_t high) {
  if (low >= high) return low;
  const uint64_t span = static_cast<uint64_t>(high - low) + 1;
  if (span == 0) return static_cast<int64_t>(Next());  // the whole 64-bit range
  // Rejection keeps the draw unbiased.
  const uint64_t limit = UINT64_MAX - UINT64_MAX % span;
  uint64_t value;
  do {
    value = Next();
  } while (value >= limit);
  return low + static_cast<int64_t>(value % span);
}

int64_t Random::Exponential(int64_t mean) {
  if (mean <= 0) return 0;
  const double u = NextDouble();
  return static_cast<int64_t>(-std::log1p(-u) * static_cast<double>(mean));
}

}  // namespace sim
