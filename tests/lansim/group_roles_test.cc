#include "tools/lansim/group_roles.h"

#include <gtest/gtest.h>

#include "tools/lansim/scenario_options.h"

namespace lansim {
namespace {

using scenario::DeviceRole;
using scenario::RoleEvent;

RoleEvent Start(int64_t time_us) {
  return {time_us, DeviceRole::kChild, false};
}
RoleEvent Parent(int64_t time_us) {
  return {time_us, DeviceRole::kParent, true};
}
RoleEvent Child(int64_t time_us) {
  return {time_us, DeviceRole::kChild, true};
}
RoleEvent Down(int64_t time_us) {
  return {time_us, DeviceRole::kDown, false};
}

GroupRoles Analyse(const std::vector<std::vector<RoleEvent>>& devices, int64_t end_us) {
  std::vector<const std::vector<RoleEvent>*> pointers;
  for (const auto& events : devices) pointers.push_back(&events);
  return AnalyseGroupRoles(pointers, end_us);
}

TEST(GroupRoles, AllTimingOutTogetherSettlesWhenTheTieBreakLeavesOne) {
  // Three devices become parents at the same instant; two yield 100 ms later.
  const auto roles =
      Analyse({{Start(0), Parent(3100 * kMillisecondUs), Child(3200 * kMillisecondUs)},
               {Start(0), Parent(3100 * kMillisecondUs), Child(3200 * kMillisecondUs)},
               {Start(0), Parent(3100 * kMillisecondUs)}},
              20 * kSecondUs);
  ASSERT_TRUE(roles.settled_us);
  EXPECT_EQ(*roles.settled_us, 3200 * kMillisecondUs);
  EXPECT_EQ(roles.role_changes, 5u);
  EXPECT_EQ(roles.parents_at_end, 1u);
  EXPECT_DOUBLE_EQ(roles.one_parent_share, 1.0);
}

TEST(GroupRoles, ALoneParentThatIsJoinedWithinTheHoldHasNotSettledTheGroup) {
  const auto roles =
      Analyse({{Start(0), Parent(3100 * kMillisecondUs)},
               {Start(0), Parent(3500 * kMillisecondUs), Child(3600 * kMillisecondUs)}},
              20 * kSecondUs);
  ASSERT_TRUE(roles.settled_us);
  EXPECT_EQ(*roles.settled_us, 3600 * kMillisecondUs);
}

TEST(GroupRoles, TwoParentsForEverNeverSettle) {
  const auto roles = Analyse(
      {{Start(0), Parent(3100 * kMillisecondUs)}, {Start(0), Parent(3100 * kMillisecondUs)}},
      20 * kSecondUs);
  EXPECT_FALSE(roles.settled_us);
  EXPECT_EQ(roles.parents_at_end, 2u);
  EXPECT_EQ(roles.one_parent_share, 0);
}

TEST(GroupRoles, ALoneParentUntilTheEndOfAShortRunCounts) {
  const auto roles =
      Analyse({{Start(0), Parent(3100 * kMillisecondUs)}, {Start(0)}}, 3500 * kMillisecondUs);
  ASSERT_TRUE(roles.settled_us);
  EXPECT_EQ(*roles.settled_us, 3100 * kMillisecondUs);
}

TEST(GroupRoles, ShareOfOneParentCountsTheSplitAndTheParentGoingDown) {
  // Settled at 4 s; a split gives two parents from 10 s to 12 s; the parent
  // is down from 16 s to 18 s (no parent); 20 s in all.
  const auto roles =
      Analyse({{Start(0), Parent(4 * kSecondUs), Down(16 * kSecondUs), Start(18 * kSecondUs)},
               {Start(0), Parent(10 * kSecondUs), Child(12 * kSecondUs), Parent(18 * kSecondUs)}},
              20 * kSecondUs);
  ASSERT_TRUE(roles.settled_us);
  EXPECT_EQ(*roles.settled_us, 4 * kSecondUs);
  EXPECT_DOUBLE_EQ(roles.one_parent_share, 12.0 / 16.0);
  EXPECT_EQ(roles.role_changes, 4u);  // announced ones only
  EXPECT_EQ(roles.change_times_us,
            (std::vector<int64_t>{4 * kSecondUs, 10 * kSecondUs, 12 * kSecondUs, 18 * kSecondUs}));
  EXPECT_EQ(roles.parents_at_end, 1u);
}

}  // namespace
}  // namespace lansim
