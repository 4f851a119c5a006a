#include "tools/chaos/plan.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>

#include "platform/pp_errors.h"
#include "platform/sim/random.h"
#include "tools/chaos/duration_text.h"

namespace chaos {
namespace {

// The plan draws from a generator of its own, so that it never shares draws
// with the LAN's generator (seeded with the same number).
constexpr uint64_t kPlanSalt = 0xC4A05C4A05C4A05Dull;

class Draw {
 public:
  explicit Draw(uint64_t seed) : random_(seed ^ kPlanSalt) {}

  int64_t Int(int64_t low, int64_t high) { return random_.UniformInt(low, high); }
  size_t Index(size_t count) {
    return static_cast<size_t>(Int(0, static_cast<int64_t>(count) - 1));
  }
  bool Chance(double p) { return random_.NextDouble() < p; }
  double Real(double low, double high) { return low + (high - low) * random_.NextDouble(); }
  // Whole milliseconds in [low_us, high_us].
  int64_t TimeUs(int64_t low_us, int64_t high_us) {
    return Int(low_us / kMillisecondUs, high_us / kMillisecondUs) * kMillisecondUs;
  }
  template <typename T>
  const T& Pick(const std::vector<T>& items) {
    return items[Index(items.size())];
  }

 private:
  sim::Random random_;
};

std::vector<int64_t> DrawSchedule(Draw& draw) {
  std::vector<int64_t> schedule(static_cast<size_t>(draw.Int(1, 4)));
  for (auto& page : schedule) page = draw.Int(500, 15000);
  return schedule;
}

sim::NetworkFaults DrawFaultWire(Draw& draw) {
  sim::NetworkFaults faults;
  faults.one_way_delay_min_us = draw.Int(0, 20 * kMillisecondUs);
  faults.one_way_delay_mean_us = faults.one_way_delay_min_us;
  faults.jitter_us = draw.Chance(0.2) ? 0 : draw.Int(0, 100 * kMillisecondUs);
  faults.loss_probability = draw.Chance(0.2) ? 0 : draw.Real(0, 0.5);
  faults.duplicate_probability = draw.Chance(0.4) ? 0 : draw.Real(0, 0.3);
  faults.reorder_probability = draw.Chance(0.4) ? 0 : draw.Real(0, 0.3);
  faults.reorder_delay_us = draw.Int(0, 200 * kMillisecondUs);
  return faults;
}

// What is left of a LAN once the faults are over: a short delay, a little
// jitter and, in half the runs, some duplicates and some reordering.
sim::NetworkFaults DrawQuietWire(Draw& draw) {
  sim::NetworkFaults faults;
  faults.one_way_delay_min_us = draw.Int(50, 5 * kMillisecondUs);
  faults.one_way_delay_mean_us = faults.one_way_delay_min_us;
  faults.jitter_us = draw.Int(0, 3 * kMillisecondUs);
  if (draw.Chance(0.5)) {
    faults.duplicate_probability = draw.Real(0, 0.1);
    faults.reorder_probability = draw.Real(0, 0.1);
    faults.reorder_delay_us = draw.Int(0, 2 * kMillisecondUs);
  } else {
    faults.reorder_delay_us = 0;
  }
  return faults;
}

std::vector<size_t> Complement(size_t count, const std::vector<size_t>& side) {
  std::vector<size_t> rest;
  for (size_t device = 0; device < count; ++device) {
    if (std::find(side.begin(), side.end(), device) == side.end()) rest.push_back(device);
  }
  return rest;
}

PartitionPlan DrawPartition(Draw& draw, size_t devices, int64_t fault_phase_us) {
  PartitionPlan partition;
  // A proper, non-empty side: one device alone, or a random share of them.
  const size_t side_size = static_cast<size_t>(draw.Int(1, static_cast<int64_t>(devices) - 1));
  std::vector<size_t> order(devices);
  for (size_t i = 0; i < devices; ++i) order[i] = i;
  for (size_t i = devices - 1; i > 0; --i) std::swap(order[i], order[draw.Index(i + 1)]);
  partition.side_a.assign(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(side_size));
  std::sort(partition.side_a.begin(), partition.side_a.end());
  partition.side_b = Complement(devices, partition.side_a);
  // Now and then only part of the rest is cut off from the first side.
  if (partition.side_b.size() > 1 && draw.Chance(0.3)) {
    partition.side_b.resize(
        static_cast<size_t>(draw.Int(1, static_cast<int64_t>(partition.side_b.size()) - 1)));
  }
  partition.from_us = draw.TimeUs(0, fault_phase_us - kSecondUs);
  partition.heal_us = draw.TimeUs(partition.from_us + 500 * kMillisecondUs, fault_phase_us);
  return partition;
}

bool Overlaps(const std::vector<RestartPlan>& restarts, const RestartPlan& candidate) {
  return std::any_of(restarts.begin(), restarts.end(), [&](const RestartPlan& other) {
    return other.device == candidate.device &&
           candidate.at_us <= other.at_us + other.down_us + kMillisecondUs &&
           other.at_us <= candidate.at_us + candidate.down_us + kMillisecondUs;
  });
}

int64_t DrawClockStep(Draw& draw) {
  // From a millisecond to ten minutes, evenly over the orders of magnitude.
  const double magnitude_ms = std::pow(10.0, draw.Real(0, std::log10(600000.0)));
  const auto step_us = static_cast<int64_t>(magnitude_ms * kMillisecondUs);
  return draw.Chance(0.5) ? step_us : -step_us;
}

int32_t DrawRefusalCode(Draw& draw, Operation operation) {
  switch (operation) {
    case Operation::kCreateSocket:
    case Operation::kCreateResolver:
      return PP_ERROR_FAILED;  // the object is simply not made
    case Operation::kBind:
      return draw.Pick<int32_t>(
          {PP_ERROR_ADDRESS_IN_USE, PP_ERROR_NOACCESS, PP_ERROR_FAILED, PP_ERROR_ADDRESS_INVALID});
    case Operation::kResolve:
      return draw.Pick<int32_t>({PP_ERROR_NAME_NOT_RESOLVED, PP_ERROR_FAILED});
    case Operation::kSendImmediate:
      return draw.Pick<int32_t>({PP_ERROR_FAILED, PP_ERROR_NOMEMORY, PP_ERROR_INPROGRESS});
    case Operation::kSendCompletion:
      return draw.Pick<int32_t>({PP_ERROR_ADDRESS_UNREACHABLE, PP_ERROR_FAILED, PP_ERROR_NOACCESS,
                                 PP_ERROR_MESSAGE_TOO_BIG, PP_ERROR_BADARGUMENT,
                                 PP_ERROR_BADRESOURCE});
    case Operation::kReceive:
      return draw.Pick<int32_t>({PP_ERROR_FAILED, PP_ERROR_ABORTED, PP_ERROR_NOMEMORY});
  }
  return PP_ERROR_FAILED;
}

std::string DeviceList(const ChaosPlan& plan, const std::vector<size_t>& devices) {
  std::string text;
  for (const size_t device : devices) {
    if (!text.empty()) text += " ";
    text += plan.devices[device].address;
  }
  return text;
}

std::string WireText(const sim::NetworkFaults& faults) {
  char text[160];
  std::snprintf(text, sizeof text,
                "delay %.1f ms + jitter %.1f ms, loss %.0f%%, duplicates %.0f%%, reorder %.0f%% "
                "by %.1f ms",
                faults.one_way_delay_min_us / 1000.0, faults.jitter_us / 1000.0,
                faults.loss_probability * 100, faults.duplicate_probability * 100,
                faults.reorder_probability * 100, faults.reorder_delay_us / 1000.0);
  return text;
}

}  // namespace

const char* OperationName(Operation operation) {
  switch (operation) {
    case Operation::kCreateSocket:
      return "create_socket";
    case Operation::kCreateResolver:
      return "create_resolver";
    case Operation::kBind:
      return "bind";
    case Operation::kResolve:
      return "resolve";
    case Operation::kSendImmediate:
      return "send_immediate";
    case Operation::kSendCompletion:
      return "send_completion";
    case Operation::kReceive:
      return "receive";
  }
  return "?";
}

sim::Injection& InjectionFor(sim::FaultPlan& plan, Operation operation) {
  switch (operation) {
    case Operation::kCreateSocket:
      return plan.create_socket;
    case Operation::kCreateResolver:
      return plan.create_resolver;
    case Operation::kBind:
      return plan.bind;
    case Operation::kResolve:
      return plan.resolve;
    case Operation::kSendImmediate:
      return plan.send_immediate;
    case Operation::kSendCompletion:
      return plan.send_completion;
    case Operation::kReceive:
      return plan.receive;
  }
  return plan.bind;
}

std::vector<size_t> ChaosPlan::DevicesOfGroup(size_t group) const {
  std::vector<size_t> members;
  for (size_t device = 0; device < devices.size(); ++device) {
    if (devices[device].group == group) members.push_back(device);
  }
  return members;
}

int64_t LongestDelayUs(const sim::NetworkFaults& faults) {
  return std::max(faults.one_way_delay_min_us, faults.one_way_delay_mean_us) + faults.jitter_us +
         (faults.reorder_probability > 0 ? faults.reorder_delay_us : 0);
}

int LastAddressNumber(const std::string& address) {
  const size_t dot = address.rfind('.');
  return dot == std::string::npos ? 0 : std::atoi(address.c_str() + dot + 1);
}

ChaosPlan MakePlan(uint64_t seed, const PlanSettings& settings) {
  Draw draw(seed);
  ChaosPlan plan;
  plan.seed = seed;

  const size_t device_count = static_cast<size_t>(draw.Int(
      static_cast<int64_t>(settings.min_devices), static_cast<int64_t>(settings.max_devices)));
  const size_t group_count = static_cast<size_t>(
      draw.Int(1, static_cast<int64_t>(std::min(settings.max_groups, device_count))));
  std::set<int32_t> sync_ids;
  for (size_t group = 0; group < group_count; ++group) {
    GroupPlan drawn;
    do {
      drawn.sync_id = static_cast<int32_t>(draw.Int(0, 999));
    } while (!sync_ids.insert(drawn.sync_id).second);
    drawn.schedule_ms = DrawSchedule(draw);
    plan.groups.push_back(std::move(drawn));
  }

  // Half the runs start every device at once, so that they all time out
  // together; the others spread the starts over three seconds.
  const bool together = draw.Chance(0.5);
  const double drift_limit_ppm = static_cast<double>(draw.Int(0, 300));
  std::set<int> last_numbers;
  for (size_t index = 0; index < device_count; ++index) {
    DevicePlan device;
    int last = 0;
    do {
      last = static_cast<int>(draw.Int(1, 254));
    } while (!last_numbers.insert(last).second);
    device.address = "10.0.0." + std::to_string(last);
    // Every group gets at least one device.
    device.group = index < group_count ? index : draw.Index(group_count);
    device.start_us = together ? 0 : draw.TimeUs(0, 3 * kSecondUs);
    device.clock_offset_us = draw.Int(-10 * kSecondUs, 10 * kSecondUs);
    device.drift_ppm = draw.Real(-drift_limit_ppm, drift_limit_ppm);
    plan.devices.push_back(std::move(device));
  }

  plan.fault_phase_us = draw.TimeUs(settings.min_fault_phase_us, settings.max_fault_phase_us);
  plan.quiet_phase_us = settings.quiet_phase_us;
  for (int64_t from = 0; from < plan.fault_phase_us;
       from += draw.TimeUs(kSecondUs, 8 * kSecondUs)) {
    plan.fault_wire.push_back({from, DrawFaultWire(draw)});
  }
  plan.quiet_wire = DrawQuietWire(draw);

  for (int64_t count = draw.Int(0, 3); count > 0; --count) {
    plan.partitions.push_back(DrawPartition(draw, device_count, plan.fault_phase_us));
  }
  for (int64_t count = draw.Int(0, 3); count > 0; --count) {
    RestartPlan restart;
    restart.device = draw.Index(device_count);
    restart.down_us = draw.TimeUs(0, 3 * kSecondUs);
    const int64_t earliest = plan.devices[restart.device].start_us + kMillisecondUs;
    const int64_t latest = plan.fault_phase_us - restart.down_us;
    if (latest <= earliest) continue;
    restart.at_us = draw.TimeUs(earliest, latest);
    if (!Overlaps(plan.restarts, restart)) plan.restarts.push_back(restart);
  }
  for (int64_t count = draw.Int(0, 3); count > 0; --count) {
    ClockStepPlan step;
    step.device = draw.Index(device_count);
    step.at_us = draw.TimeUs(0, plan.fault_phase_us);
    step.delta_us = DrawClockStep(draw);
    plan.clock_steps.push_back(step);
  }
  for (int64_t count = draw.Int(0, 6); count > 0; --count) {
    RefusalPlan refusal;
    refusal.device = draw.Index(device_count);
    refusal.at_us = draw.TimeUs(0, plan.fault_phase_us - kMillisecondUs);
    refusal.operation = static_cast<Operation>(draw.Int(0, 6));
    refusal.successes = draw.Chance(0.5) ? 0 : static_cast<int>(draw.Int(1, 3));
    refusal.count = static_cast<int>(draw.Int(1, 10));
    refusal.code = DrawRefusalCode(draw, refusal.operation);
    plan.refusals.push_back(refusal);
  }
  return plan;
}

std::string DescribePlan(const ChaosPlan& plan) {
  std::string text;
  const auto line = [&](const std::string& content) { text += content + "\n"; };
  char seed[32];
  std::snprintf(seed, sizeof seed, "0x%llx", static_cast<unsigned long long>(plan.seed));
  line(std::string("seed ") + seed + ": " + std::to_string(plan.devices.size()) + " devices in " +
       std::to_string(plan.groups.size()) + " group(s); faults until " +
       SecondsText(plan.fault_phase_us) + ", quiet until " + SecondsText(plan.end_us()));
  for (size_t group = 0; group < plan.groups.size(); ++group) {
    std::string schedule;
    for (const int64_t page : plan.groups[group].schedule_ms) {
      if (!schedule.empty()) schedule += ',';
      schedule += std::to_string(page);
    }
    line("  group " + std::to_string(group) + " (sync ID " +
         std::to_string(plan.groups[group].sync_id) + ", pages " + schedule +
         " ms): " + DeviceList(plan, plan.DevicesOfGroup(group)));
  }
  for (const auto& device : plan.devices) {
    char clock[96];
    std::snprintf(clock, sizeof clock, " starts %s, clock %+.3f s, drift %+.1f ppm",
                  SecondsText(device.start_us).c_str(),
                  static_cast<double>(device.clock_offset_us) / kSecondUs, device.drift_ppm);
    line("  " + device.address + clock);
  }
  for (const auto& window : plan.fault_wire) {
    line("  wire from " + SecondsText(window.from_us) + ": " + WireText(window.faults));
  }
  line("  quiet wire: " + WireText(plan.quiet_wire));
  for (const auto& partition : plan.partitions) {
    line("  partition " + SecondsText(partition.from_us) + " to " + SecondsText(partition.heal_us) +
         ": {" + DeviceList(plan, partition.side_a) + "} | {" + DeviceList(plan, partition.side_b) +
         "}");
  }
  for (const auto& restart : plan.restarts) {
    line("  restart " + plan.devices[restart.device].address + " at " + SecondsText(restart.at_us) +
         ", down " + SecondsText(restart.down_us));
  }
  for (const auto& step : plan.clock_steps) {
    char delta[32];
    std::snprintf(delta, sizeof delta, "%+.3f s", static_cast<double>(step.delta_us) / kSecondUs);
    line("  clock step " + plan.devices[step.device].address + " at " + SecondsText(step.at_us) +
         ": " + delta);
  }
  for (const auto& refusal : plan.refusals) {
    line("  refuse " + std::string(OperationName(refusal.operation)) + " on " +
         plan.devices[refusal.device].address + " from " + SecondsText(refusal.at_us) + ": " +
         std::to_string(refusal.count) + "x " + pp::ResultName(refusal.code) + " after " +
         std::to_string(refusal.successes) + " passing");
  }
  return text;
}

}  // namespace chaos
