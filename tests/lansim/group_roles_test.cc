#include "tools/lansim/group_roles.h"

#include <gtest/gtest.h>

namespace lansim {
namespace {

using scenario::DeviceRole;
using scenario::RoleEvent;

constexpr int64_t kMs = 1000;
constexpr int64_t kS = 1000 * kMs;

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
  const auto roles = Analyse({{Start(0), Parent(3100 * kMs), Child(3200 * kMs)},
                              {Start(0), Parent(3100 * kMs), Child(3200 * kMs)},
                              {Start(0), Parent(3100 * kMs)}},
                             20 * kS);
  ASSERT_TRUE(roles.settled_us);
  EXPECT_EQ(*roles.settled_us, 3200 * kMs);
  EXPECT_EQ(roles.role_changes, 5u);
  EXPECT_EQ(roles.parents_at_end, 1u);
  EXPECT_DOUBLE_EQ(roles.one_parent_share, 1.0);
}

TEST(GroupRoles, ALoneParentThatIsJoinedWithinTheHoldHasNotSettledTheGroup) {
  const auto roles = Analyse(
      {{Start(0), Parent(3100 * kMs)}, {Start(0), Parent(3500 * kMs), Child(3600 * kMs)}}, 20 * kS);
  ASSERT_TRUE(roles.settled_us);
  EXPECT_EQ(*roles.settled_us, 3600 * kMs);
}

TEST(GroupRoles, TwoParentsForEverNeverSettle) {
  const auto roles =
      Analyse({{Start(0), Parent(3100 * kMs)}, {Start(0), Parent(3100 * kMs)}}, 20 * kS);
  EXPECT_FALSE(roles.settled_us);
  EXPECT_EQ(roles.parents_at_end, 2u);
  EXPECT_EQ(roles.one_parent_share, 0);
}

TEST(GroupRoles, ALoneParentUntilTheEndOfAShortRunCounts) {
  const auto roles = Analyse({{Start(0), Parent(3100 * kMs)}, {Start(0)}}, 3500 * kMs);
  ASSERT_TRUE(roles.settled_us);
  EXPECT_EQ(*roles.settled_us, 3100 * kMs);
}

TEST(GroupRoles, ShareOfOneParentCountsTheSplitAndTheParentGoingDown) {
  // Settled at 4 s; a split gives two parents from 10 s to 12 s; the parent
  // is down from 16 s to 18 s (no parent); 20 s in all.
  const auto roles = Analyse({{Start(0), Parent(4 * kS), Down(16 * kS), Start(18 * kS)},
                              {Start(0), Parent(10 * kS), Child(12 * kS), Parent(18 * kS)}},
                             20 * kS);
  ASSERT_TRUE(roles.settled_us);
  EXPECT_EQ(*roles.settled_us, 4 * kS);
  EXPECT_DOUBLE_EQ(roles.one_parent_share, 12.0 / 16.0);
  EXPECT_EQ(roles.role_changes, 4u);  // announced ones only
  EXPECT_EQ(roles.change_times_us, (std::vector<int64_t>{4 * kS, 10 * kS, 12 * kS, 18 * kS}));
  EXPECT_EQ(roles.parents_at_end, 1u);
}

}  // namespace
}  // namespace lansim
