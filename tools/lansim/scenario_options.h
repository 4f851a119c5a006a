// What one simulator run is made of: the devices and their groups, the frame
// schedule their pages play, how long the run lasts, the seed, and the faults.
// Devices are numbered from 0 here; device k has address 10.0.0.(k+1), and
// groups take consecutive devices in the order they are given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace lansim {

constexpr int64_t kMillisecondUs = 1000;
constexpr int64_t kSecondUs = 1000 * kMillisecondUs;
// Addresses 10.0.0.1 to 10.0.0.254 on one /24.
constexpr size_t kMaxDevices = 254;

struct GroupOptions {
  int32_t sync_id = 1;
  size_t devices = 1;
};

// Between from_us and until_us no datagram passes between the two sides.
struct PartitionSpec {
  int64_t from_us = 0;
  int64_t until_us = 0;
  std::vector<size_t> side_a;
  std::vector<size_t> side_b;
};

// The device's instance is destroyed at at_us and a fresh one starts down_us later.
struct RestartSpec {
  size_t device = 0;
  int64_t at_us = 0;
  int64_t down_us = 0;
};

// The device's wall clock is set delta_us ahead (behind when negative) at at_us.
struct ClockStepSpec {
  size_t device = 0;
  int64_t at_us = 0;
  int64_t delta_us = 0;
};

struct ScenarioOptions {
  std::vector<GroupOptions> groups = {{1, 6}};
  std::vector<int64_t> schedule_ms = {10000, 15000, 5000};
  int64_t duration_us = 60 * kSecondUs;
  uint64_t seed = 1;

  // The wire: a one-way delay plus a uniform jitter in [0, jitter], and
  // per-copy probabilities.
  int64_t delay_us = 200;
  int64_t jitter_us = 0;
  double loss = 0;
  double duplicate = 0;
  double reorder = 0;

  // Each device's clock drift is drawn from [-drift_ppm, drift_ppm] and its
  // offset from [-clock_offset_us, clock_offset_us], by the seed.
  double drift_ppm = 0;
  int64_t clock_offset_us = 0;

  std::vector<PartitionSpec> partitions;
  std::vector<RestartSpec> restarts;
  std::vector<ClockStepSpec> clock_steps;

  size_t device_count() const;
};

// "10.0.0.(index+1)".
std::string DeviceAddress(size_t index);

}  // namespace lansim
