#include "tools/chaos/bounds.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "tools/chaos/duration_text.h"

namespace chaos {
std::string DerivationPrecondition(const ChaosPlan& plan) {
  if (LongestDelayUs(plan.quiet_wire) >= kTickUs) {
    return "the quiet wire's delay reaches a tick";
  }
  for (const auto& window : plan.fault_wire) {
    if (LongestDelayUs(window.faults) >= kRecheckTicks * kTickUs) {
      return "a fault-phase delay reaches 31 ticks";
    }
  }
  for (const auto& restart : plan.restarts) {
    if (restart.at_us + restart.down_us > plan.quiet_from_us()) {
      return "a restart ends after the faults";
    }
  }
  for (const auto& partition : plan.partitions) {
    if (partition.heal_us > plan.quiet_from_us()) return "a partition heals after the faults";
  }
  for (const auto& device : plan.devices) {
    if (device.start_us > plan.quiet_from_us()) return "a device starts after the faults";
  }
  return {};
}

GroupBounds DeriveBounds(const ChaosPlan& plan, size_t group) {
  GroupBounds bounds;
  bounds.quiet_from_us = plan.quiet_from_us();
  bounds.delay_us = LongestDelayUs(plan.quiet_wire);
  const std::vector<size_t> members = plan.DevicesOfGroup(group);
  bounds.devices = members.size();
  bounds.other_groups = plan.groups.size() > 1;
  for (const size_t device : members) {
    bounds.drift_ppm = std::max(bounds.drift_ppm, std::fabs(plan.devices[device].drift_ppm));
  }

  const int64_t q = bounds.quiet_from_us;
  const int64_t d = bounds.delay_us;
  const auto n = static_cast<int64_t>(bounds.devices);
  bounds.sockets_by_us = q + kRecheckTicks * kTickUs;
  bounds.no_parent_timeout_us = bounds.sockets_by_us + kTickUs;
  bounds.order_from_us = bounds.no_parent_timeout_us + n * d + kMillisecondUs;
  constexpr int64_t kMarginTicks = 1;
  bounds.one_parent_by_us =
      q + (kRecheckTicks + 1 + kSearchTicks + 2 + kMarginTicks) * kTickUs + (n + 3) * d;
  bounds.spread_from_us = bounds.one_parent_by_us + kTickUs + d;

  // Two clocks' worth of drift over two ticks.
  const auto drift_us = static_cast<int64_t>(std::ceil(bounds.drift_ppm * 4 * kTickUs / 1e6));
  bounds.spread_limit_us = d + kClockGrainUs + drift_us + (bounds.other_groups ? kTickUs : 0);
  bounds.wrap_allowance_us = bounds.other_groups ? kTickUs : 0;
  bounds.wrap_window_us = kTickUs + d;
  return bounds;
}

std::string DescribeBounds(const GroupBounds& bounds) {
  return "sockets by Q + " + SecondsText(bounds.sockets_by_us - bounds.quiet_from_us) +
         "; one parent by Q + " + SecondsText(bounds.one_parent_by_us - bounds.quiet_from_us) +
         " (66 ticks + " + std::to_string(bounds.devices + 3) + " x " +
         MillisecondsText(bounds.delay_us, 2) + "); parent order from Q + " +
         SecondsText(bounds.order_from_us - bounds.quiet_from_us) + "; spread from Q + " +
         SecondsText(bounds.spread_from_us - bounds.quiet_from_us) + " at most " +
         MillisecondsText(bounds.spread_limit_us, 2) + " (" +
         MillisecondsText(bounds.spread_limit_us + bounds.wrap_allowance_us, 2) + " within " +
         MillisecondsText(bounds.wrap_window_us, 2) + " of a pass wrap)";
}

}  // namespace chaos
