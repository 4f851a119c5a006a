// What a seed's plan may hold: the ranges the bounds' derivation relies on.
#include "tools/chaos/plan.h"

#include <gtest/gtest.h>

#include <set>

#include "platform/sim/address.h"
#include "tools/chaos/bounds.h"

namespace chaos {
namespace {

TEST(ChaosPlan, TheSameSeedGivesTheSamePlanAndAnotherSeedAnother) {
  EXPECT_EQ(DescribePlan(MakePlan(42)), DescribePlan(MakePlan(42)));
  EXPECT_NE(DescribePlan(MakePlan(42)), DescribePlan(MakePlan(43)));
}

TEST(ChaosPlan, EverySeedStaysWithinTheRangesTheBoundsAssume) {
  for (uint64_t seed = 1; seed <= 300; ++seed) {
    SCOPED_TRACE(DescribePlan(MakePlan(seed)));
    const ChaosPlan plan = MakePlan(seed);
    ASSERT_GE(plan.devices.size(), 3u);
    ASSERT_LE(plan.devices.size(), 12u);
    ASSERT_GE(plan.groups.size(), 1u);
    ASSERT_LE(plan.groups.size(), 3u);
    EXPECT_EQ(DerivationPrecondition(plan), "");

    std::set<uint32_t> addresses;
    std::set<int32_t> sync_ids;
    for (const auto& group : plan.groups) sync_ids.insert(group.sync_id);
    EXPECT_EQ(sync_ids.size(), plan.groups.size());
    for (size_t group = 0; group < plan.groups.size(); ++group) {
      EXPECT_FALSE(plan.DevicesOfGroup(group).empty());
    }
    for (const auto& device : plan.devices) {
      const auto address = sim::ParseIpv4(device.address);
      ASSERT_TRUE(address);
      EXPECT_TRUE(sim::SameSubnet24(*address, *sim::ParseIpv4("10.0.0.0")));
      EXPECT_TRUE(addresses.insert(*address).second) << "one address per device";
    }

    EXPECT_LT(LongestDelayUs(plan.quiet_wire), 10 * kMillisecondUs);
    EXPECT_EQ(plan.quiet_wire.loss_probability, 0);
    for (const auto& refusal : plan.refusals) EXPECT_LT(refusal.at_us, plan.quiet_from_us());
    for (const auto& step : plan.clock_steps) EXPECT_LE(step.at_us, plan.quiet_from_us());
    for (const auto& partition : plan.partitions) {
      EXPECT_FALSE(partition.side_a.empty());
      EXPECT_FALSE(partition.side_b.empty());
    }
    for (const auto& restart : plan.restarts) {
      EXPECT_GT(restart.at_us, plan.devices[restart.device].start_us);
    }
  }
}

TEST(ChaosPlan, SeedsTogetherCoverEveryKindOfFault) {
  std::set<Operation> operations;
  bool partition = false, restart = false, step_back = false, step_ahead = false;
  bool loss = false, duplicates = false, reordering = false, several_groups = false;
  for (uint64_t seed = 1; seed <= 100; ++seed) {
    const ChaosPlan plan = MakePlan(seed);
    for (const auto& refusal : plan.refusals) operations.insert(refusal.operation);
    partition |= !plan.partitions.empty();
    restart |= !plan.restarts.empty();
    for (const auto& step : plan.clock_steps) {
      step_back |= step.delta_us < 0;
      step_ahead |= step.delta_us > 0;
    }
    for (const auto& window : plan.fault_wire) {
      loss |= window.faults.loss_probability > 0.3;
      duplicates |= window.faults.duplicate_probability > 0;
      reordering |= window.faults.reorder_probability > 0;
    }
    several_groups |= plan.groups.size() > 1;
  }
  EXPECT_EQ(operations.size(), 7u);
  EXPECT_TRUE(partition && restart && step_back && step_ahead);
  EXPECT_TRUE(loss && duplicates && reordering && several_groups);
}

}  // namespace
}  // namespace chaos
