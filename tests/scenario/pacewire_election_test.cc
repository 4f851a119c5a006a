// Devices of one group elect one parent, and every child's page shows the
// parent's play position; two groups on one LAN keep to themselves.
//
// The devices start at scattered moments, with wall clocks set seconds apart
// and drifting, and their pages start the schedule at scattered moments too,
// so some devices time out and take the parent role while others find a
// parent already broadcasting. The LAN delays each datagram by a bounded,
// random amount.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "scenario/module_world.h"
#include "tests/scenario/group_fixture.h"
#include "tests/scenario/pacewire_fixture.h"

namespace scenario {
namespace {

constexpr int64_t kDelayMinUs = 300;
constexpr int64_t kJitterUs = 1500;
constexpr int kMaxDriftPpm = 50;

// A child posts the play time that the parent put into its packet; by then the
// parent has moved on by the packet's one-way delay (at most kDelayMinUs +
// kJitterUs). Both devices count whole milliseconds (1 ms more), and their
// clocks drift apart by at most 2 * kMaxDriftPpm over the tick between two
// packets (0.01 ms).
constexpr double kFollowToleranceMs =
    static_cast<double>(kDelayMinUs + kJitterUs) / kMs + 1.0 + 2 * kMaxDriftPpm * 1e-6 * 100;

sim::LanOptions JitteryLan(uint64_t seed) {
  sim::LanOptions options;
  options.seed = sim::SeedFromEnvironment(seed);
  options.faults.one_way_delay_min_us = kDelayMinUs;
  options.faults.one_way_delay_mean_us = kDelayMinUs;  // no unbounded tail
  options.faults.jitter_us = kJitterUs;
  return options;
}

struct Member {
  std::string address;
  FrameSchedule schedule;
};

// Adds each member at a random moment within `spread_us`, with its own wall
// clock, and has its page start the schedule within `page_delay_us` of Init
// (or exactly `page_delay_us` later when `exact_page_delay`).
std::vector<Device*> StartDevices(ModuleWorld& world, const std::vector<Member>& members,
                                  int64_t spread_us, int64_t page_delay_us,
                                  bool exact_page_delay = false) {
  sim::Random& random = world.lan().random();
  std::vector<std::pair<int64_t, const Member*>> starts;
  for (const Member& member : members) {
    starts.emplace_back(random.UniformInt(0, spread_us), &member);
  }
  std::stable_sort(starts.begin(), starts.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<Device*> devices;
  for (const auto& [start, member] : starts) {
    world.lan().RunUntil(start);
    sim::HostOptions host;
    host.address = member->address;
    host.clock_offset_us = random.UniformInt(-5 * kSecond, 5 * kSecond);
    host.clock_drift_ppm = static_cast<double>(random.UniformInt(-kMaxDriftPpm, kMaxDriftPpm));
    Device& device = world.AddDevice(host, ModuleKind::kPacewire);
    const int64_t delay = exact_page_delay ? page_delay_us : random.UniformInt(0, page_delay_us);
    StartFrameScheduleAt(device, start + delay, member->schedule);
    devices.push_back(&device);
  }
  return devices;
}

std::vector<Member> OneGroup(int count, int sync_id) {
  std::vector<Member> members;
  for (int k = 0; k < count; ++k) {
    // Scattered last numbers, so that the order of addresses is not the order of starts.
    members.push_back({"10.0.0." + std::to_string(11 + (k * 37) % 200), {sync_id}});
  }
  return members;
}

// `alone`: no other group shares the LAN, so a child hears nobody but its parent.
void ExpectOneParentFollowedByAll(ModuleWorld& world, const std::vector<Device*>& group,
                                  int64_t converged_by, bool alone = true) {
  const int64_t converged = LastRoleChange(group);
  EXPECT_LE(converged, converged_by) << "roles still changing late";

  const auto parents = Parents(group);
  ASSERT_EQ(parents.size(), 1u);
  Device& parent = *parents.front();
  Device* expected = HighestParentSince(group, 0);
  ASSERT_NE(expected, nullptr);
  EXPECT_EQ(parent.address(), expected->address())
      << "the parent is the highest last address number among the parents that met";

  // From here on every device is in sync mode and keeps its role.
  const int64_t settled = std::max(converged, LastScheduleStart(group)) + kTick;
  std::set<std::string> senders;
  for (const auto& sender : SyncSenders(world.lan().trace(), settled)) {
    for (Device* device : group) {
      if (device->address() == sender) senders.insert(sender);
    }
  }
  EXPECT_EQ(senders, std::set<std::string>({parent.address()})) << "only the parent broadcasts";

  const int64_t seconds_watched = (world.now_us() - settled) / kSecond;
  for (Device* child : group) {
    if (child == &parent) continue;
    int compared = 0;
    EXPECT_TRUE(FollowsParent(world.lan(), *child, parent, settled, kFollowToleranceMs,
                              Answering::kParentPackets, &compared))
        << child->address();
    EXPECT_GE(compared, seconds_watched * 8) << child->address() << " hears its parent every tick";
    if (alone) {
      EXPECT_EQ(PlayTimes(child->page(), settled).size(), static_cast<size_t>(compared))
          << child->address() << " posts the play time only for its parent's packets";
    }
  }
}

struct ElectionCase {
  int devices;
  double loss;       // probability that a copy of a datagram is lost
  double duplicate;  // probability that a copy arrives twice
};

void PrintTo(const ElectionCase& election, std::ostream* out) {
  *out << election.devices << " devices, loss " << election.loss << ", duplicates "
       << election.duplicate;
}

class PacewireElection : public ::testing::TestWithParam<ElectionCase> {};

TEST_P(PacewireElection, OneGroupEndsWithOneParentWhosePlayPositionEveryChildShows) {
  const ElectionCase& election = GetParam();
  sim::LanOptions options = JitteryLan(0x5eed0000u + static_cast<uint64_t>(election.devices));
  options.faults.loss_probability = election.loss;
  options.faults.duplicate_probability = election.duplicate;
  ModuleWorld world(options);
  SCOPED_TRACE(world.lan().SeedText());
  const auto group = StartDevices(world, OneGroup(election.devices, 7), 2 * kSecond, 3 * kSecond);
  world.lan().RunUntil(25 * kSecond);
  ExpectOneParentFollowedByAll(world, group, 12 * kSecond);
}

// A lost packet only leaves a child on its own clock for one more tick; a
// duplicate carries the same play time again.
INSTANTIATE_TEST_SUITE_P(Groups, PacewireElection,
                         ::testing::Values(ElectionCase{3, 0, 0}, ElectionCase{20, 0, 0},
                                           ElectionCase{20, 0.05, 0.05}),
                         [](const auto& info) {
                           return std::to_string(info.param.devices) + "Devices" +
                                  (info.param.loss > 0 ? "OnALossyLan" : "");
                         });

TEST(PacewireElection, DevicesThatAllTimeOutTogetherLeaveTheHighestAsParent) {
  ModuleWorld world(JitteryLan(0x5eed0100u));
  SCOPED_TRACE(world.lan().SeedText());
  // Pages that start at Init: every device times out on the tick that makes its
  // receiver, before it can hear anybody, so all take the role and meet.
  const auto group = StartDevices(world, OneGroup(6, 3), 300 * kMs, 0, true);
  world.lan().RunUntil(15 * kSecond);
  for (Device* device : group) EXPECT_TRUE(BecameParentSince(device->page(), 0));
  ExpectOneParentFollowedByAll(world, group, 8 * kSecond);
  EXPECT_EQ(Parents(group).front()->address(), "10.0.0.196");
}

TEST(PacewireElection, TwoGroupsOnOneLanDoNotDisturbEachOther) {
  ModuleWorld world(JitteryLan(0x5eed0200u));
  SCOPED_TRACE(world.lan().SeedText());
  // Interleaved addresses; the highest address of all belongs to group 2.
  std::vector<Member> first, second;
  for (int k = 0; k < 4; ++k) {
    first.push_back({"10.0.0." + std::to_string(21 + 2 * k), {1}});
    second.push_back({"10.0.0." + std::to_string(22 + 2 * k), {2}});
  }
  const auto group1 = StartDevices(world, first, 500 * kMs, 0, true);
  world.lan().RunUntil(7 * kSecond);  // group 2's schedule starts 7 s into group 1's
  const auto group2 = StartDevices(world, second, 500 * kMs, 0, true);
  world.lan().RunUntil(30 * kSecond);

  ExpectOneParentFollowedByAll(world, group1, 20 * kSecond, false);
  ExpectOneParentFollowedByAll(world, group2, 20 * kSecond, false);
  EXPECT_EQ(Parents(group1).front()->address(), "10.0.0.27");
  EXPECT_EQ(Parents(group2).front()->address(), "10.0.0.28");

  // Each group's tie-breaks name only its own members.
  for (Device* device : group1) {
    EXPECT_TRUE(LinesWith(device->page(), "Equal SID: 2,").empty()) << device->address();
  }
  for (Device* device : group2) {
    EXPECT_TRUE(LinesWith(device->page(), "Equal SID: 1,").empty()) << device->address();
  }

  // A packet of the other group makes a child post its own clock as of its
  // last tick, at most one tick old: still its own parent's position, seconds
  // away from the other group's.
  const int64_t settled = std::max({LastRoleChange(group1), LastRoleChange(group2),
                                    LastScheduleStart(group1), LastScheduleStart(group2)}) +
                          kTick;
  Device& parent1 = *Parents(group1).front();
  Device& parent2 = *Parents(group2).front();
  for (Device* child : group1) {
    if (child == &parent1) continue;
    int compared = 0;
    EXPECT_TRUE(FollowsParent(world.lan(), *child, parent1, settled,
                              kFollowToleranceMs + static_cast<double>(kTick) / kMs,
                              Answering::kOtherDatagrams, &compared))
        << child->address();
    EXPECT_GT(compared, 0) << child->address() << " heard the other group";
    EXPECT_FALSE(
        FollowsParent(world.lan(), *child, parent2, settled, 1000, Answering::kOtherDatagrams));
  }
}

}  // namespace
}  // namespace scenario
