// One chaos run, drawn from a seed: Pacewire devices in sync groups on one /24,
// each with a reference page, a fault phase in which the wire, the partitions,
// restarts, clock steps and refused platform operations come and go, and a
// quiet phase in which only a benign wire is left (a small delay, jitter and,
// in some runs, duplicates and reordering).
//
// The plan is a pure function of the seed and the settings: the same seed
// gives the same plan on any machine (every draw goes through sim::Random).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/sim/faults.h"

namespace chaos {

constexpr int64_t kMillisecondUs = 1000;
constexpr int64_t kSecondUs = 1000 * kMillisecondUs;

struct PlanSettings {
  size_t min_devices = 3;
  size_t max_devices = 12;
  size_t max_groups = 3;
  int64_t min_fault_phase_us = 10 * kSecondUs;
  int64_t max_fault_phase_us = 40 * kSecondUs;
  // Long enough for the election bound (under 7 s) and a spread and memory
  // check over most of it.
  int64_t quiet_phase_us = 30 * kSecondUs;
};

struct GroupPlan {
  int32_t sync_id = 0;
  std::vector<int64_t> schedule_ms;  // the pages every device of the group plays
};

struct DevicePlan {
  std::string address;  // on 10.0.0.0/24, last numbers drawn without repeats
  size_t group = 0;
  int64_t start_us = 0;  // the instance's first Init
  int64_t clock_offset_us = 0;
  double drift_ppm = 0;
};

// From `from_us` until the next window (or the quiet phase), the wire behaves so.
struct WireWindow {
  int64_t from_us = 0;
  sim::NetworkFaults faults;
};

struct PartitionPlan {
  int64_t from_us = 0;
  int64_t heal_us = 0;
  std::vector<size_t> side_a;  // device indices
  std::vector<size_t> side_b;
};

struct RestartPlan {
  size_t device = 0;
  int64_t at_us = 0;
  int64_t down_us = 0;
};

struct ClockStepPlan {
  size_t device = 0;
  int64_t at_us = 0;
  int64_t delta_us = 0;
};

enum class Operation {
  kCreateSocket,
  kCreateResolver,
  kBind,
  kResolve,
  kSendImmediate,
  kSendCompletion,
  kReceive,
};
const char* OperationName(Operation operation);
// The host's injection point for `operation`.
sim::Injection& InjectionFor(sim::FaultPlan& plan, Operation operation);

// From `at_us` the device's platform lets `successes` attempts of the
// operation through, then refuses `count` with `code`. Whatever is left of it
// is cleared when the quiet phase starts.
struct RefusalPlan {
  size_t device = 0;
  int64_t at_us = 0;
  Operation operation = Operation::kBind;
  int successes = 0;
  int count = 1;
  int32_t code = 0;
};

struct ChaosPlan {
  uint64_t seed = 0;
  std::vector<GroupPlan> groups;
  std::vector<DevicePlan> devices;
  int64_t fault_phase_us = 0;  // the quiet phase starts here
  int64_t quiet_phase_us = 0;
  std::vector<WireWindow> fault_wire;  // the first starts at 0
  sim::NetworkFaults quiet_wire;
  std::vector<PartitionPlan> partitions;
  std::vector<RestartPlan> restarts;
  std::vector<ClockStepPlan> clock_steps;
  std::vector<RefusalPlan> refusals;

  int64_t quiet_from_us() const { return fault_phase_us; }
  int64_t end_us() const { return fault_phase_us + quiet_phase_us; }
  std::vector<size_t> DevicesOfGroup(size_t group) const;
};

ChaosPlan MakePlan(uint64_t seed, const PlanSettings& settings = {});

// The longest a datagram can take on `faults` (no exponential tail is drawn:
// the plan keeps the mean at the minimum, so every delay is bounded).
int64_t LongestDelayUs(const sim::NetworkFaults& faults);

// A few lines a person can read: devices, groups and every fault with its time.
std::string DescribePlan(const ChaosPlan& plan);

// The last number of a dotted address ("10.0.0.23" -> 23).
int LastAddressNumber(const std::string& address);

}  // namespace chaos
