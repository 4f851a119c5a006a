// The end of a Pacewire instance: destroyed while a tick, a receive and a
// sender set-up are on their way, none of them runs; a device restarted (its
// instance destroyed and a fresh one made) comes back into its group.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "scenario/module_world.h"
#include "tests/scenario/group_fixture.h"
#include "tests/scenario/monitoring_tool.h"
#include "tests/scenario/pacewire_fixture.h"

namespace scenario {
namespace {

constexpr char kDeathLine[] = "[ERR]: NaClInstance is dead.";
// Resolving takes this long here, so a sender's set-up is still on its way
// for a while after it started.
constexpr int64_t kResolveDelayUs = 50 * kMs;

// The lines that closing the sockets writes during destruction itself.
bool IsSocketClosingLine(const std::string& line) {
  for (const char* prefix :
       {"[LOG]: UDPSender: Closed connection.", "[LOG]: UDPReceiver: Closed connection.",
        "[ERR]: UDPSender: Not bound. No need to close.",
        "[ERR]: UDPReceiver: Not bound. No need to close."}) {
    if (line == prefix) return true;
  }
  return false;
}

// Everything the device's page got from the death line on: the death line,
// then only what destruction itself wrote at that same instant on the
// platform's main thread, and nothing ever after.
void ExpectNothingRanAfterDeath(const sim::Page& page, int64_t died_at,
                                const std::string& old_loops_prefix) {
  const auto& posted = page.posted();
  size_t death = posted.size();
  for (size_t k = 0; k < posted.size(); ++k) {
    if (IsLine(posted[k]) && TextOf(posted[k]) == kDeathLine && posted[k].time_us == died_at) {
      death = k;
    }
  }
  ASSERT_LT(death, posted.size()) << "no death line at " << died_at;
  EXPECT_EQ(posted[death].loop, old_loops_prefix + "platform-main");
  for (size_t k = death + 1; k < posted.size(); ++k) {
    if (posted[k].loop.rfind(old_loops_prefix, 0) != 0) continue;  // a later instance's
    EXPECT_EQ(posted[k].time_us, died_at) << posted[k].value.DebugString();
    EXPECT_EQ(posted[k].loop, old_loops_prefix + "platform-main") << posted[k].value.DebugString();
    EXPECT_TRUE(IsLine(posted[k]) && IsSocketClosingLine(TextOf(posted[k])))
        << posted[k].value.DebugString();
  }
}

struct PendingWork {
  std::string name;
  // Brings the device to the moment of destruction; returns that moment.
  std::function<int64_t(ModuleWorld&, Device&, MonitoringTool&, const TickClock&)> lead_up;
  // Lines that show what was on its way then.
  std::vector<std::string> started;
  std::vector<std::string> not_finished;
};

void PrintTo(const PendingWork& work, std::ostream* out) {
  *out << work.name;
}

class PacewireDestroyedWhilePending : public ::testing::TestWithParam<PendingWork> {};

TEST_P(PacewireDestroyedWhilePending, RunsNoneOfItAfterTheDeathLine) {
  sim::LanOptions options;
  options.resolve_delay_us = kResolveDelayUs;
  ModuleWorld world(options);
  Device& device = world.AddDevice("10.0.0.7", ModuleKind::kPacewire);
  MonitoringTool tool(world.lan(), "10.0.0.200", 50000);
  const TickClock ticks = TicksOf(device);

  const int64_t dies_at = GetParam().lead_up(world, device, tool, ticks);
  ASSERT_EQ(world.now_us(), dies_at);
  for (const auto& line : GetParam().started) {
    EXPECT_FALSE(LinesWith(device.page(), line).empty()) << "not started: " << line;
  }
  for (const auto& line : GetParam().not_finished) {
    EXPECT_TRUE(LinesWith(device.page(), line).empty()) << "already finished: " << line;
  }
  const size_t dropped_before =
      world.lan().trace().EventsOfKind(sim::TraceKind::kDroppedWork).size();

  device.DestroyInstanceNow();
  EXPECT_EQ(device.instance(), nullptr);
  tool.SetMonitoring(device.address(), true);  // nobody listens any more
  world.RunFor(10 * kSecond);

  ExpectNothingRanAfterDeath(device.page(), dies_at, "10.0.0.7 ");
  EXPECT_TRUE(PostedAfter(device.page(), dies_at).empty());
  EXPECT_EQ(device.host().SocketOnPort(kSyncPort), nullptr);
  EXPECT_TRUE(tool.arrivals().empty());
  EXPECT_GT(world.lan().trace().EventsOfKind(sim::TraceKind::kDroppedWork).size(), dropped_before)
      << "at least the next tick was on its way, and was dropped";
}

int64_t RunTo(ModuleWorld& world, int64_t time_us) {
  world.lan().RunUntil(time_us);
  return time_us;
}

INSTANTIATE_TEST_SUITE_P(
    Moments, PacewireDestroyedWhilePending,
    ::testing::Values(
        PendingWork{"BeforeTheFirstTick",
                    [](ModuleWorld& world, Device&, MonitoringTool&, const TickClock& ticks) {
                      return RunTo(world, ticks.At(1) - 1);
                    },
                    {},
                    {"[INIT]"}},
        PendingWork{"SyncSenderResolvingAndFirstReceivePending",
                    [](ModuleWorld& world, Device&, MonitoringTool&, const TickClock& ticks) {
                      return RunTo(world, ticks.At(31) + kResolveDelayUs / 2);
                    },
                    {"UDPSender: Resolving ... host name: 255.255.255.255",
                     "UDPReceiver: Successfully created."},
                    {"UDPSender: Resolved", "Start to broadcast playtime"}},
        PendingWork{
            "MonitoringSenderResolvingOnTheReceivingThread",
            [](ModuleWorld& world, Device& device, MonitoringTool& tool, const TickClock& ticks) {
              world.lan().RunUntil(ticks.At(31) + 10 * kMs);
              for (int sent = 0; sent < 30; ++sent) {
                tool.SetMonitoring(device.address(), true);
                world.RunFor(5 * kMs);
              }
              return RunTo(world, world.now_us() + kResolveDelayUs / 2);
            },
            {"UDPSender: Resolving ... host name: 10.0.0.200"},
            {"UDPSender: Resolved: 10.0.0.200"}},
        PendingWork{
            "ParentSendingEveryTick",
            [](ModuleWorld& world, Device& device, MonitoringTool&, const TickClock& ticks) {
              StartFrameSchedule(device, FrameSchedule{});
              return RunTo(world, ticks.At(50) + 10);  // its own broadcast is on its way
            },
            {"Device is set to parent", "Start to broadcast playtime"},
            {}}),
    [](const auto& info) { return info.param.name; });

// ---- Restarts ----------------------------------------------------------------

class PacewireRestart : public ::testing::Test {
 protected:
  PacewireRestart() {
    // Pages that start their schedule at Init: all three time out together and
    // meet, and .13 stays parent.
    for (const char* address : {"10.0.0.11", "10.0.0.12", "10.0.0.13"}) {
      Device& device = world_.AddDevice(address, ModuleKind::kPacewire);
      StartFrameSchedule(device, schedule_);
      group_.push_back(&device);
    }
    world_.lan().RunUntil(6 * kSecond);
  }

  // Restarts `device` at `at_us`; its reloaded page starts the schedule again
  // a second after the fresh instance's Init.
  void Restart(Device& device, int64_t at_us, int64_t downtime_us) {
    device.host().RestartAt(at_us, downtime_us);
    StartFrameScheduleAt(device, at_us + downtime_us + kSecond, schedule_);
  }

  ModuleWorld world_;
  FrameSchedule schedule_{4, 2500, 600000};
  std::vector<Device*> group_;
};

// A child posts what its parent's packet carried, one-way delay (0.2 ms) and
// whole milliseconds (1 ms) later.
constexpr double kRestartFollowToleranceMs = 0.2 + 1.0;

TEST_F(PacewireRestart, RestartedChildComesBackAsAChildOfTheSameParent) {
  Device& child = *group_[1];
  Device& parent = *group_[2];
  ASSERT_EQ(Parents(group_), std::vector<Device*>{&parent});

  Restart(child, 8 * kSecond, 500 * kMs);
  world_.lan().RunUntil(20 * kSecond);

  EXPECT_EQ(child.instances_started(), 2);
  ExpectNothingRanAfterDeath(child.page(), 8 * kSecond, "10.0.0.12 ");
  const int64_t fresh_init = InitTime(child.page(), 8 * kSecond);
  EXPECT_EQ(fresh_init, 8 * kSecond + 500 * kMs);
  EXPECT_EQ(LinesWith(child.page(), "Device is set to", fresh_init).size(), 0u)
      << "it hears the parent before its own search times out";
  EXPECT_EQ(Parents(group_), std::vector<Device*>{&parent});

  // The fresh instance's receiver comes up 31 ticks after its Init.
  const int64_t hearing = fresh_init + 31 * kTick;
  int compared = 0;
  EXPECT_TRUE(FollowsParent(world_.lan(), child, parent, hearing, kRestartFollowToleranceMs,
                            Answering::kParentPackets, &compared));
  EXPECT_GE(compared, 80);
  for (const auto& play_time : PlayTimes(child.page(), hearing)) {
    EXPECT_EQ(play_time.loop.rfind("10.0.0.12/2 ", 0), 0u) << "posted by the fresh instance";
  }
}

TEST_F(PacewireRestart, RestartedParentComesBackAsAChildOfTheParentElectedMeanwhile) {
  Device& parent = *group_[2];
  ASSERT_EQ(Parents(group_), std::vector<Device*>{&parent});

  Restart(parent, 8 * kSecond, 2 * kSecond);
  world_.lan().RunUntil(25 * kSecond);

  ExpectNothingRanAfterDeath(parent.page(), 8 * kSecond, "10.0.0.13 ");
  // The two that were left found no parent for 31 ticks, both took the role,
  // and the higher one stayed.
  for (Device* device : {group_[0], group_[1]}) {
    EXPECT_TRUE(BecameParentSince(device->page(), 8 * kSecond)) << device->address();
  }
  Device* elected = HighestParentSince(group_, 8 * kSecond);
  ASSERT_NE(elected, nullptr);
  EXPECT_EQ(elected->address(), "10.0.0.12");
  EXPECT_EQ(Parents(group_), std::vector<Device*>{elected});

  const int64_t hearing = InitTime(parent.page(), 8 * kSecond) + 31 * kTick;
  int compared = 0;
  EXPECT_TRUE(FollowsParent(world_.lan(), parent, *elected, hearing, kRestartFollowToleranceMs,
                            Answering::kParentPackets, &compared));
  EXPECT_GE(compared, 80);
  EXPECT_TRUE(FollowsParent(world_.lan(), *group_[0], *elected, hearing, kRestartFollowToleranceMs,
                            Answering::kParentPackets));
}

}  // namespace
}  // namespace scenario
