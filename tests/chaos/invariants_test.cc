// The checks on hand-made records: what they let through and what they catch.
#include "tools/chaos/invariants.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace chaos {
namespace {

using scenario::DeviceRole;
using ::testing::HasSubstr;

constexpr int64_t kQ = 20 * kSecondUs;
constexpr int64_t kEnd = 50 * kSecondUs;
constexpr int64_t kMs = kMillisecondUs;

GroupBounds Bounds() {
  GroupBounds bounds;
  bounds.quiet_from_us = kQ;
  bounds.delay_us = 4 * kMs;
  bounds.devices = 3;
  bounds.order_from_us = kQ + 3300 * kMs;
  bounds.one_parent_by_us = kQ + 6700 * kMs;
  bounds.spread_from_us = kQ + 6900 * kMs;
  bounds.spread_limit_us = 6 * kMs;
  bounds.wrap_allowance_us = 0;
  bounds.wrap_window_us = 104 * kMs;
  return bounds;
}

scenario::RoleEvent Event(int64_t time_us, DeviceRole role) {
  return {time_us, role, time_us > 0};
}

std::vector<DeviceRecord> Group(std::vector<std::vector<scenario::RoleEvent>> roles) {
  std::vector<DeviceRecord> group;
  const char* addresses[] = {"10.0.0.5", "10.0.0.9", "10.0.0.200"};
  for (size_t i = 0; i < roles.size(); ++i) group.push_back({addresses[i], roles[i], {}});
  return group;
}

std::vector<std::string> Invariants(const std::vector<Violation>& violations) {
  std::vector<std::string> names;
  for (const auto& violation : violations) names.push_back(violation.invariant);
  return names;
}

// ---- election ------------------------------------------------------------------

TEST(ChaosElection, OneParentFromTheBoundOnPasses) {
  std::vector<Violation> violations;
  const auto outcome = CheckElection(
      Group({{Event(0, DeviceRole::kChild)},
             {Event(0, DeviceRole::kChild), Event(kQ + 5 * kSecondUs, DeviceRole::kParent)},
             {Event(0, DeviceRole::kChild)}}),
      Bounds(), kEnd, violations);
  EXPECT_TRUE(violations.empty());
  EXPECT_EQ(outcome.parent_at_end, 1u);
  EXPECT_EQ(outcome.settled_us, kQ + 5 * kSecondUs);
}

TEST(ChaosElection, ALowerParentIsFineWhenNoHigherDeviceHeldTheRoleSinceTheOrderBound) {
  // .200 was the parent before the faults ended, came back from a restart as
  // a child and heard .9 in place: the protocol keeps .9.
  std::vector<Violation> violations;
  const auto outcome = CheckElection(
      Group({{Event(0, DeviceRole::kChild)},
             {Event(0, DeviceRole::kChild), Event(kQ - 3 * kSecondUs, DeviceRole::kParent)},
             {Event(0, DeviceRole::kParent), Event(kQ - 5 * kSecondUs, DeviceRole::kDown),
              Event(kQ - 4 * kSecondUs, DeviceRole::kChild)}}),
      Bounds(), kEnd, violations);
  EXPECT_TRUE(violations.empty()) << violations.front().detail;
  EXPECT_EQ(outcome.parent_at_end, 1u);
}

struct ElectionCase {
  const char* name;
  std::vector<std::vector<scenario::RoleEvent>> roles;
  std::vector<std::string> invariants;
  const char* detail;
};

void PrintTo(const ElectionCase& election, std::ostream* out) {
  *out << election.name;
}

class ChaosElectionCatches : public ::testing::TestWithParam<ElectionCase> {};

TEST_P(ChaosElectionCatches, Violations) {
  std::vector<Violation> violations;
  CheckElection(Group(GetParam().roles), Bounds(), kEnd, violations);
  EXPECT_EQ(Invariants(violations), GetParam().invariants);
  ASSERT_FALSE(violations.empty());
  EXPECT_THAT(violations.front().detail, HasSubstr(GetParam().detail));
}

INSTANTIATE_TEST_SUITE_P(
    Records, ChaosElectionCatches,
    ::testing::Values(
        ElectionCase{"TwoParentsToTheEnd",
                     {{Event(0, DeviceRole::kChild), Event(kQ, DeviceRole::kParent)},
                      {Event(0, DeviceRole::kChild), Event(kQ, DeviceRole::kParent)},
                      {Event(0, DeviceRole::kChild)}},
                     {"one-parent"},
                     "2 parents at the bound"},
        ElectionCase{"NoParent",
                     {{Event(0, DeviceRole::kChild)},
                      {Event(0, DeviceRole::kChild)},
                      {Event(0, DeviceRole::kChild)}},
                     {"one-parent"},
                     "0 parents at the bound"},
        ElectionCase{"ARoleFlipAfterTheBound",
                     {{Event(0, DeviceRole::kChild), Event(kQ, DeviceRole::kParent)},
                      {Event(0, DeviceRole::kChild)},
                      {Event(0, DeviceRole::kChild), Event(kQ + 9 * kSecondUs, DeviceRole::kParent),
                       Event(kQ + 12100 * kMs, DeviceRole::kChild)}},
                     {"one-parent", "parent-order"},
                     "2 role changes after the bound"},
        // .200 held the role after the order bound and gave it to .9: only
        // a higher parent's packet can do that.
        ElectionCase{
            "AHigherParentGaveWay",
            {{Event(0, DeviceRole::kChild)},
             {Event(0, DeviceRole::kChild), Event(kQ + 3 * kSecondUs, DeviceRole::kParent)},
             {Event(0, DeviceRole::kChild), Event(kQ + 3400 * kMs, DeviceRole::kParent),
              Event(kQ + 3500 * kMs, DeviceRole::kChild)}},
            {"parent-order"},
            "the parent at the end is 10.0.0.9, but 10.0.0.200 was a parent"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- spread --------------------------------------------------------------------

// Positions told to each page every 100 ms from `from_us` to the end, as a
// parent on a clean wire would tell them: position = time since `zero_us`,
// each page `late_us` after the parent's tick, in passes of `pass_ms`.
std::vector<scenario::PositionSample> Told(int64_t late_us, int64_t pass_ms, int64_t zero_us = 0) {
  std::vector<scenario::PositionSample> samples;
  for (int64_t tick = kQ; tick <= kEnd; tick += 100 * kMs) {
    const int64_t position_ms = ((tick - zero_us) / kMs) % pass_ms;
    samples.push_back({tick + late_us, position_ms});
  }
  return samples;
}

std::vector<DeviceRecord> Pages(std::vector<std::vector<scenario::PositionSample>> told) {
  std::vector<DeviceRecord> group;
  for (size_t i = 0; i < told.size(); ++i) {
    group.push_back({"10.0.0." + std::to_string(i + 1), {}, std::move(told[i])});
  }
  return group;
}

TEST(ChaosSpread, PagesADelayApartPassEvenAcrossPassesLongerThanTheSchedule) {
  // Passes of 7.3 s for a schedule of 7 s: the wrap jumps 7.3 s.
  std::vector<Violation> violations;
  const auto outcome =
      CheckSpread(Pages({Told(20, 7300), Told(3 * kMs, 7300), Told(4 * kMs, 7300)}), 0, 7000,
                  Bounds(), kEnd, violations);
  EXPECT_TRUE(violations.empty()) << violations.front().detail;
  EXPECT_EQ(outcome.max_spread_us, 4 * kMs - 20);
  EXPECT_GE(outcome.wraps, 3u);
  EXPECT_LE(outcome.longest_silence_us, 100 * kMs);
}

TEST(ChaosSpread, APageBehindByMoreThanTheLimitIsCaught) {
  std::vector<Violation> violations;
  CheckSpread(Pages({Told(20, 7300), Told(3 * kMs, 7300, 7 * kMs)}), 0, 7000, Bounds(), kEnd,
              violations);
  ASSERT_EQ(Invariants(violations), std::vector<std::string>{"sync-spread"});
  EXPECT_THAT(violations.front().detail, HasSubstr("spread 9.980 ms over the limit 6.000 ms"));
}

TEST(ChaosSpread, APageThatHearsNothingForTooLongIsCaught) {
  auto deaf = Told(3 * kMs, 7300);
  deaf.erase(deaf.begin() + 100, deaf.begin() + 103);  // three ticks missing
  std::vector<Violation> violations;
  const auto outcome =
      CheckSpread(Pages({Told(20, 7300), deaf}), 0, 7000, Bounds(), kEnd, violations);
  ASSERT_EQ(Invariants(violations), std::vector<std::string>{"page-freshness"});
  EXPECT_EQ(outcome.longest_silence_us, 400 * kMs);
}

// ---- memory ------------------------------------------------------------------

TEST(ChaosMemory, GrowthBeyondTheAllowanceIsCaught) {
  const MemoryAllowance allowance{16 * 1024, 64};
  std::vector<Violation> violations;
  CheckMemory({10, 100000, 40}, {30, 100000 + 16 * 1024, 104}, allowance, violations);
  EXPECT_TRUE(violations.empty());
  CheckMemory({10, 100000, 40}, {30, 100001 + 16 * 1024, 105}, allowance, violations);
  EXPECT_EQ(Invariants(violations), (std::vector<std::string>{"memory", "memory"}));
}

}  // namespace
}  // namespace chaos
