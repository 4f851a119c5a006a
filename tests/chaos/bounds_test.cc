// The bounds follow from the plan by the derivation in bounds.h.
#include "tools/chaos/bounds.h"

#include <gtest/gtest.h>

namespace chaos {
namespace {

// Four devices in group 0 (and, when asked, one in group 1), quiet from 20 s on
// a wire of 3 ms plus 1 ms of jitter.
ChaosPlan SmallPlan(bool second_group) {
  ChaosPlan plan;
  plan.groups = {{7, {1000, 2000}}};
  for (int i = 1; i <= 4; ++i) plan.devices.push_back({"10.0.0." + std::to_string(i), 0, 0, 0, 0});
  plan.devices[2].drift_ppm = -250;
  if (second_group) {
    plan.groups.push_back({8, {5000}});
    plan.devices.push_back({"10.0.0.9", 1, 0, 0, 0});
  }
  plan.fault_phase_us = 20 * kSecondUs;
  plan.quiet_phase_us = 30 * kSecondUs;
  plan.fault_wire.push_back({0, {}});
  plan.quiet_wire.one_way_delay_min_us = 3000;
  plan.quiet_wire.one_way_delay_mean_us = 3000;
  plan.quiet_wire.jitter_us = 1000;
  return plan;
}

TEST(ChaosBounds, FollowFromTheTicksTheDelayAndTheGroupsSize) {
  const GroupBounds bounds = DeriveBounds(SmallPlan(false), 0);
  const int64_t q = 20 * kSecondUs;
  EXPECT_EQ(bounds.delay_us, 4000);
  EXPECT_EQ(bounds.devices, 4u);
  EXPECT_EQ(bounds.sockets_by_us, q + 3100 * kMillisecondUs);
  EXPECT_EQ(bounds.no_parent_timeout_us, q + 3200 * kMillisecondUs);
  EXPECT_EQ(bounds.order_from_us, q + 3200 * kMillisecondUs + 4 * 4000 + 1000);
  // 31 ticks for sockets, 1 more for every parent's first tick, 31 to the
  // first time-out, 2 to resolve, 1 of margin; N + 3 one-way delays.
  EXPECT_EQ(bounds.one_parent_by_us, q + 6600 * kMillisecondUs + 7 * 4000);
  EXPECT_EQ(bounds.spread_from_us, bounds.one_parent_by_us + 100 * kMillisecondUs + 4000);
  // D + 2 ms + 2 x 250 ppm x 200 ms.
  EXPECT_EQ(bounds.spread_limit_us, 4000 + 2000 + 100);
  EXPECT_EQ(bounds.wrap_allowance_us, 0);
  EXPECT_EQ(bounds.wrap_window_us, 100 * kMillisecondUs + 4000);
}

TEST(ChaosBounds, AnotherGroupOnTheLanAddsATickToTheSpread) {
  const GroupBounds alone = DeriveBounds(SmallPlan(false), 0);
  const GroupBounds shared = DeriveBounds(SmallPlan(true), 0);
  EXPECT_EQ(shared.spread_limit_us, alone.spread_limit_us + 100 * kMillisecondUs);
  EXPECT_EQ(shared.wrap_allowance_us, 100 * kMillisecondUs);
  EXPECT_EQ(shared.one_parent_by_us, alone.one_parent_by_us) << "groups elect on their own";
}

TEST(ChaosBounds, ApplyOnlyToPlansThatKeepTheirAssumptions) {
  ChaosPlan plan = SmallPlan(false);
  EXPECT_EQ(DerivationPrecondition(plan), "");

  plan.quiet_wire.jitter_us = 100 * kMillisecondUs;
  EXPECT_NE(DerivationPrecondition(plan), "");
  plan = SmallPlan(false);
  plan.restarts.push_back({1, 19 * kSecondUs, 2 * kSecondUs});
  EXPECT_NE(DerivationPrecondition(plan), "");
  plan = SmallPlan(false);
  plan.partitions.push_back({kSecondUs, 21 * kSecondUs, {0}, {1}});
  EXPECT_NE(DerivationPrecondition(plan), "");
}

}  // namespace
}  // namespace chaos
