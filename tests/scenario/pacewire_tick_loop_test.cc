// The tick loop of a Pacewire device: how it follows a change of the sync
// port, and how it reports the failures that end it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/pp_errors.h"
#include "scenario/module_world.h"
#include "tests/scenario/pacewire_fixture.h"

namespace scenario {
namespace {

constexpr char kNewPort[] = "47000";
constexpr uint16_t kNewPortNumber = 47000;
constexpr char kListenPortChanged[] =
    "[LOG]: Listen Port is changed. Receiver Socket will be closed.";
constexpr char kIpPortChanged[] = "[LOG]: IP Port is changed. Sender Socket will be closed.";
constexpr char kReceiverOnNewPort[] = "[LOG]: UDPReceiver: Binding ...: 0.0.0.0:47000";
constexpr char kSenderOnNewPort[] =
    "[LOG]: UDPSender: Resolving ... host name: 255.255.255.255, port: 47000 0";

// ---- A change of the sync port ---------------------------------------------

// The tick on which the device first sees the new port.
class PacewirePortChange : public ::testing::TestWithParam<int> {};

TEST_P(PacewirePortChange, ChangeLinesOnTheTickThatSeesItSenderThirtyTicksLaterReceiverAtRecheck) {
  const int seen_on = GetParam();
  ModuleWorld world;
  Device& device = world.AddDevice("10.0.0.7", ModuleKind::kPacewire);
  world.RunFor(0);
  const TickClock ticks = TicksOf(device);
  device.SendAt(ticks.At(seen_on) - 40 * kMs, "SET_PORT", kNewPort);

  const int sender_tick = seen_on + 30;
  const int receiver_tick = TickClock::RecheckAtOrAfter(seen_on);
  world.lan().RunUntil(ticks.At(std::max(sender_tick, receiver_tick) + 1));

  const sim::Page& page = device.page();
  const auto listen_changed = LinesWith(page, kListenPortChanged);
  const auto ip_changed = LinesWith(page, kIpPortChanged);
  ASSERT_EQ(listen_changed.size(), 1u);
  ASSERT_EQ(ip_changed.size(), 1u);
  EXPECT_EQ(listen_changed[0].time_us, ticks.At(seen_on));
  EXPECT_EQ(ip_changed[0].time_us, ticks.At(seen_on));
  EXPECT_TRUE(PostedBy(listen_changed[0], "mainThread"));

  const auto sender_made = LinesWith(page, kSenderOnNewPort);
  ASSERT_EQ(sender_made.size(), 1u);
  EXPECT_EQ(sender_made[0].time_us, ticks.At(sender_tick));

  const auto receiver_made = LinesWith(page, kReceiverOnNewPort);
  ASSERT_EQ(receiver_made.size(), 1u);
  EXPECT_EQ(receiver_made[0].time_us, ticks.At(receiver_tick));

  EXPECT_NE(device.host().SocketOnPort(kNewPortNumber), nullptr);
  EXPECT_EQ(device.host().SocketOnPort(kSyncPort), nullptr) << "the old port is given up";
  EXPECT_TRUE(
      LinesWith(page, "UDPReceiver: Binding ...: 0.0.0.0:47475", ticks.At(seen_on)).empty());
}

// Before the first set-up, between two re-checks, just before, on and just
// after a re-check tick of the receiver.
INSTANTIATE_TEST_SUITE_P(SeenOnTick, PacewirePortChange, ::testing::Values(10, 40, 61, 62, 63, 93),
                         [](const auto& info) { return "Tick" + std::to_string(info.param); });

TEST(PacewirePortChangeAndBack, ChangingAndChangingBackStillClosesTheSocketsAndRemakesThemLater) {
  ModuleWorld world;
  Device& device = world.AddDevice("10.0.0.7", ModuleKind::kPacewire);
  world.RunFor(0);
  const TickClock ticks = TicksOf(device);
  device.SendAt(ticks.At(40) - 40 * kMs, "SET_PORT", kNewPort);
  device.SendAt(ticks.At(45) - 40 * kMs, "SET_PORT", "47475");
  world.lan().RunUntil(ticks.At(80));

  const sim::Page& page = device.page();
  EXPECT_EQ(LinesWith(page, kListenPortChanged).size(), 2u);
  EXPECT_EQ(LinesWith(page, "[LOG]: UDPReceiver: Closed connection.").size(), 1u)
      << "the second change finds the receiver closed already";
  // Both sockets come back on the port of the moment they are made.
  EXPECT_EQ(TimeOfFirstLine(page, "UDPReceiver: Binding ...: 0.0.0.0:47475", ticks.At(41)),
            ticks.At(62));
  EXPECT_EQ(TimeOfFirstLine(page,
                            "UDPSender: Resolving ... host name: 255.255.255.255, port: "
                            "47475",
                            ticks.At(41)),
            ticks.At(75));
  EXPECT_TRUE(LinesWith(page, "47000", ticks.At(46)).empty());
}

// ---- A sync sender that fails to send ----------------------------------------

// How the platform completes one broadcast of a parent, and whether the
// sender gives up its socket for it.
struct FailedBroadcast {
  int32_t code;
  bool drops_the_socket;
};

void PrintTo(const FailedBroadcast& failure, std::ostream* out) {
  *out << pp::ResultName(failure.code);
}

class PacewireFailedBroadcast : public ::testing::TestWithParam<FailedBroadcast> {};

// The instants of the device's own sync broadcasts, from the trace.
std::vector<int64_t> SyncBroadcasts(sim::Lan& lan, const Device& device) {
  std::vector<int64_t> times;
  const uint32_t address = *sim::ParseIpv4(device.address());
  for (const auto& event : lan.trace().EventsOfKind(sim::TraceKind::kSend)) {
    if (event.from_address == address && event.to_port == kSyncPort && event.size == 48) {
      times.push_back(event.time_us);
    }
  }
  return times;
}

TEST_P(PacewireFailedBroadcast, DroppedSenderIsMadeAgainAtItsNextRecheckAndBroadcastsResume) {
  const FailedBroadcast failure = GetParam();
  ModuleWorld world;
  Device& device = world.AddDevice("10.0.0.7", ModuleKind::kPacewire);
  world.RunFor(0);
  const TickClock ticks = TicksOf(device);
  // Alone in its group, it takes the parent role on tick 31 and broadcasts from tick 32.
  StartFrameSchedule(device, FrameSchedule{});
  world.lan().RunUntil(ticks.At(85) - 1);
  device.host().faults().send_completion.FailNext(1, failure.code);
  world.lan().RunUntil(ticks.At(120));

  const auto failed = LinesWith(device.page(), "[ERR]: UDPSender: Send failed with: ");
  ASSERT_FALSE(failed.empty());
  EXPECT_EQ(failed[0].time_us, ticks.At(85));
  EXPECT_EQ(Role(device.page()), "parent") << "a few silent ticks do not cost the role";

  std::vector<int64_t> expected;
  for (int tick = 32; tick <= 120; ++tick) {
    // The sender is made again on re-check tick 93; its first broadcast
    // follows on the next tick, once its set-up has finished.
    const bool silent = failure.drops_the_socket ? (tick >= 85 && tick <= 93) : tick == 85;
    if (!silent) expected.push_back(ticks.At(tick));
  }
  EXPECT_EQ(SyncBroadcasts(world.lan(), device), expected);
  EXPECT_EQ(LinesWith(device.page(), "UDPSender: Resolving ... host name: 10.0.0.255").size(),
            failure.drops_the_socket ? 2u : 1u);
  if (failure.drops_the_socket) {
    EXPECT_EQ(TimeOfFirstLine(device.page(), "UDPSender: Resolving", ticks.At(86)), ticks.At(93));
  }
}

INSTANTIATE_TEST_SUITE_P(Codes, PacewireFailedBroadcast,
                         ::testing::Values(FailedBroadcast{PP_ERROR_ADDRESS_UNREACHABLE, true},
                                           FailedBroadcast{PP_ERROR_FAILED, true},
                                           FailedBroadcast{PP_ERROR_BADARGUMENT, false}),
                         [](const auto& info) { return pp::ResultName(info.param.code); });

TEST(PacewireSyncSenderSetUp, ThatFailedIsMadeAgainAtTheNextRecheckAndNothingIsSentMeanwhile) {
  ModuleWorld world;
  Device& device = world.AddDevice("10.0.0.7", ModuleKind::kPacewire);
  world.RunFor(0);
  const TickClock ticks = TicksOf(device);
  StartFrameSchedule(device, FrameSchedule{});
  // The broadcast option is refused once: the set-up made on tick 31 fails.
  device.host().faults().set_option.FailNext(1, PP_ERROR_FAILED);
  world.lan().RunUntil(ticks.At(100));

  EXPECT_EQ(LinesWith(device.page(), "[ERR]: UDPSender: Set Option failed: -2").size(), 1u);
  EXPECT_TRUE(LinesWith(device.page(), "UDPSender: Send failed").empty())
      << "a parent sends nothing through a sender whose set-up failed";
  const auto made = LinesWith(device.page(), "UDPSender: Resolving ... host name: 10.0.0.255");
  ASSERT_EQ(made.size(), 2u);
  EXPECT_EQ(made[0].time_us, ticks.At(31));
  EXPECT_EQ(made[1].time_us, ticks.At(62));
  EXPECT_EQ(LinesWith(device.page(), "[DEV]: Start to broadcast playtime").size(), 1u);

  // Silent since it took the role on tick 31, it hears no parent and gives the
  // role up on tick 62, takes it again on tick 93 and broadcasts from tick 94.
  const auto broadcasts = SyncBroadcasts(world.lan(), device);
  ASSERT_FALSE(broadcasts.empty());
  EXPECT_EQ(broadcasts.front(), ticks.At(94));
  EXPECT_EQ(broadcasts.size(), 7u);
}

// ---- Failures that end the tick loop ------------------------------------------

bool IsMainThreadLoop(std::string_view loop) {
  return OnThread(loop, "mainThread");
}

struct TickLoopFailure {
  std::string name;
  std::function<void(sim::FaultPlan&)> inject;
  int ticks_before_failure;
  std::vector<std::string> lines;  // in this order, one after the other
};

void PrintTo(const TickLoopFailure& failure, std::ostream* out) {
  *out << failure.name;
}

class PacewireTickLoopFailure : public ::testing::TestWithParam<TickLoopFailure> {};

TEST_P(PacewireTickLoopFailure, IsLoggedInOrderAndNoTickRunsAfterIt) {
  const TickLoopFailure& failure = GetParam();
  ModuleWorld world;
  Device& device = world.AddDevice("10.0.0.7", ModuleKind::kPacewire);
  failure.inject(device.host().faults());  // before the instance is made
  world.RunFor(10 * kSecond);

  const std::vector<std::string> lines = device.page().lines();
  const auto first = std::find(lines.begin(), lines.end(), failure.lines.front());
  ASSERT_NE(first, lines.end()) << failure.lines.front();
  ASSERT_GE(lines.end() - first, static_cast<std::ptrdiff_t>(failure.lines.size()));
  EXPECT_EQ(
      std::vector<std::string>(first, first + static_cast<std::ptrdiff_t>(failure.lines.size())),
      failure.lines);
  for (const auto& line : failure.lines) {
    EXPECT_EQ(std::count(lines.begin(), lines.end(), line), 1) << line;
  }

  // In non-sync mode every tick posts the play time: the count is the ticks that ran.
  EXPECT_EQ(PlayTimes(device.page()).size(), static_cast<size_t>(failure.ticks_before_failure));
  EXPECT_EQ(InitTime(device.page()), 0) << "Init still posts the version message";
}

std::function<void(sim::FaultPlan&)> RefuseMainThreadPostWork(int from_attempt, int32_t code) {
  return [from_attempt, code](sim::FaultPlan& faults) {
    faults.post_work.FailWhen(
        [attempts = 0, from_attempt](std::string_view loop) mutable {
          return IsMainThreadLoop(loop) && ++attempts >= from_attempt;
        },
        code);
  };
}

INSTANTIATE_TEST_SUITE_P(
    Failures, PacewireTickLoopFailure,
    ::testing::Values(TickLoopFailure{"NoMessageLoopForMainThread",
                                      [](sim::FaultPlan& faults) {
                                        faults.create_message_loop.FailWhen(IsMainThreadLoop,
                                                                            PP_ERROR_FAILED);
                                      },
                                      0,
                                      {"[ERR]: mainThread message loop is null."}},
                      TickLoopFailure{"FirstTickCannotBeQueued",
                                      RefuseMainThreadPostWork(1, PP_ERROR_FAILED),
                                      0,
                                      {"[ERR]: MainThread has unknown problem.",
                                       "[ERR]: mainThread PostWork return error -2."}},
                      TickLoopFailure{"FifthTickCannotBeQueued",
                                      RefuseMainThreadPostWork(5, PP_ERROR_NOMEMORY),
                                      4,
                                      {"[ERR]: MainThread has unknown problem.",
                                       "[ERR]: mainThread PostWork return error -8."}},
                      TickLoopFailure{"TickAfterTheSocketsAreMadeCannotBeQueued",
                                      RefuseMainThreadPostWork(40, PP_ERROR_FAILED),
                                      39,
                                      {"[ERR]: MainThread has unknown problem.",
                                       "[ERR]: mainThread PostWork return error -2."}}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace scenario
