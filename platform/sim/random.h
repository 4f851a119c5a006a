// The one source of randomness of a simulated LAN: xoshiro256** seeded through
// splitmix64 from a single 64-bit seed. The generator and every distribution
// are written out here (not taken from <random>) so that a seed replays the
// same run with any compiler and standard library.
#pragma once

#include <cstdint>

namespace sim {

class Random {
 public:
  explicit Random(uint64_t seed);

  uint64_t Next();
  // Uniform in [0, 1).
  double NextDouble();
  // True with probability `p`; draws nothing when p <= 0 or p >= 1.
  bool Chance(double p);
  // Uniform in [low, high], both included; draws nothing when low >= high.
  int64_t UniformInt(int64_t low, int64_t high);
  // Exponentially distributed with the given mean, rounded down; 0 for mean <= 0.
  int64_t Exponential(int64_t mean);

 private:
  uint64_t state_[4];
};

}  // namespace sim
