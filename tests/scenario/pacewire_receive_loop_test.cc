// The receive loop of a Pacewire device: which thread handles each datagram,
// the order of back-to-back datagrams, and what a failed or empty receive, a
// missing receiving thread and a change of the sync port do to it.
//
// A probe is a set-monitoring datagram that switches monitoring off and names
// a port of its own; the device logs one line naming that port when it
// handles the probe, so each line says which datagram was handled, when and
// on which thread.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/pp_errors.h"
#include "scenario/module_world.h"
#include "tests/scenario/monitoring_tool.h"
#include "tests/scenario/pacewire_fixture.h"

namespace scenario {
namespace {

constexpr char kReceiveFailed[] = "[ERR]: NaClInstance: Client ReceiveFrom failed: ";
constexpr char kReceiverClosed[] = "[LOG]: UDPReceiver: Closed connection.";
constexpr char kReceiverMade[] = "[LOG]: UDPReceiver: Binding ...: 0.0.0.0:47475";

class PacewireReceiveLoop : public ::testing::Test {
 protected:
  PacewireReceiveLoop()
      : device_(world_.AddDevice("10.0.0.7", ModuleKind::kPacewire)),
        tool_(world_.lan(), "10.0.0.200", 50000),
        ticks_(TicksOf(device_)) {}

  void SendProbe(int id, uint16_t port = kSyncPort) {
    tool_.SetMonitoringNaming(device_.address(), false, "probe", id, port);
  }
  std::optional<sim::PostedValue> Handling(int probe) const {
    return FirstLineWith(device_.page(), "(Addr: probe:" + std::to_string(probe) + ")");
  }
  bool Handled(int probe) const { return Handling(probe).has_value(); }
  void RunUntil(int64_t time_us) { world_.lan().RunUntil(time_us); }
  // In sync mode every datagram that reaches the logic posts the play time.
  void StartSyncMode() { device_.Send("START_CLOCK_WITH_SYNC_ID", "5"); }

  ModuleWorld world_;
  Device& device_;
  MonitoringTool tool_;
  TickClock ticks_;
};

TEST_F(PacewireReceiveLoop,
       FirstDatagramAfterSetUpIsHandledOnMainThreadLaterOnesOnReceivingThread) {
  RunUntil(ticks_.At(31) + 10 * kMs);
  for (int probe = 1; probe <= 3; ++probe) {
    SendProbe(probe);
    RunUntil(world_.now_us() + 10 * kMs);
  }
  ASSERT_TRUE(Handled(1) && Handled(2) && Handled(3));
  EXPECT_EQ(Handling(1)->loop, "10.0.0.7 mainThread");
  EXPECT_EQ(Handling(2)->loop, "10.0.0.7 receivingThread");
  EXPECT_EQ(Handling(3)->loop, "10.0.0.7 receivingThread");
}

TEST_F(PacewireReceiveLoop, BackToBackDatagramsAreHandledOneAfterTheOtherInOrder) {
  RunUntil(ticks_.At(31) + 5 * kMs);
  StartSyncMode();
  RunUntil(ticks_.At(31) + 10 * kMs);
  const int64_t sent_at = world_.now_us();
  for (int probe = 1; probe <= 6; ++probe) SendProbe(probe);
  RunUntil(sent_at + 20 * kMs);

  // Each datagram is taken in and its play time posted before the next one
  // reaches the logic.
  std::vector<std::string> seen;
  for (const auto& posted : PostedAfter(device_.page(), sent_at)) {
    if (posted.value.is_dictionary()) {
      seen.push_back(pp::VarDictionary(posted.value).HasKey("SET_PLAYTIME") ? "play time" : "?");
    } else if (TextOf(posted).find("(Addr: probe:") != std::string::npos) {
      seen.push_back("probe " + TextOf(posted).substr(TextOf(posted).rfind(':') + 1, 1));
    }
  }
  const std::vector<std::string> expected = {"probe 1", "play time", "probe 2", "play time",
                                             "probe 3", "play time", "probe 4", "play time",
                                             "probe 5", "play time", "probe 6", "play time"};
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(Handling(1)->loop, "10.0.0.7 mainThread");
  for (int probe = 2; probe <= 6; ++probe) {
    EXPECT_EQ(Handling(probe)->loop, "10.0.0.7 receivingThread") << probe;
  }
}

// A receive that the platform fails, with each of these codes.
class PacewireFailedReceive : public PacewireReceiveLoop,
                              public ::testing::WithParamInterface<int32_t> {};

TEST_P(PacewireFailedReceive, IsLoggedClosesTheReceiverWhichComesBackAtTheNextRecheck) {
  const int32_t code = GetParam();
  RunUntil(ticks_.At(31) + 5 * kMs);
  // The receive already waiting passed the platform; the next one fails.
  device_.host().faults().receive.FailNext(1, code);
  SendProbe(1);
  RunUntil(ticks_.At(31) + 20 * kMs);
  ASSERT_TRUE(Handled(1));

  const auto failed = LinesWith(device_.page(), kReceiveFailed);
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(TextOf(failed[0]), kReceiveFailed + std::to_string(code));
  EXPECT_TRUE(PostedBy(failed[0], "receivingThread"));
  EXPECT_EQ(LinesWith(device_.page(), kReceiverClosed).size(), 1u);
  EXPECT_EQ(device_.host().SocketOnPort(kSyncPort), nullptr);

  RunUntil(ticks_.At(45));
  SendProbe(2);  // nobody listens
  RunUntil(ticks_.At(61) + 50 * kMs);
  EXPECT_FALSE(Handled(2));

  RunUntil(ticks_.At(62) + 10 * kMs);
  const auto made = LinesWith(device_.page(), kReceiverMade);
  ASSERT_EQ(made.size(), 2u);
  EXPECT_EQ(made[1].time_us, ticks_.At(62));
  SendProbe(3);
  RunUntil(ticks_.At(62) + 20 * kMs);
  SendProbe(4);
  RunUntil(ticks_.At(70));
  ASSERT_TRUE(Handled(3) && Handled(4));
  EXPECT_TRUE(PostedBy(*Handling(3), "mainThread")) << "the first after the new set-up";
  EXPECT_TRUE(PostedBy(*Handling(4), "receivingThread"));

  // The tick loop went on throughout: outside sync mode it posts the play time every tick.
  EXPECT_EQ(PlayTimes(device_.page()).size(), 70u);
}

INSTANTIATE_TEST_SUITE_P(Codes, PacewireFailedReceive,
                         ::testing::Values(PP_ERROR_FAILED, PP_ERROR_ABORTED,
                                           PP_ERROR_ADDRESS_UNREACHABLE),
                         [](const auto& info) { return pp::ResultName(info.param); });

TEST_F(PacewireReceiveLoop, EmptyDatagramIsAFailureWithZeroThatNeverReachesTheLogic) {
  RunUntil(ticks_.At(31) + 5 * kMs);
  StartSyncMode();
  RunUntil(ticks_.At(31) + 10 * kMs);
  const int64_t sent_at = world_.now_us();
  tool_.SendTo(device_.address(), kSyncPort, "");
  RunUntil(ticks_.At(61) + 50 * kMs);

  const auto failed = LinesWith(device_.page(), kReceiveFailed);
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(TextOf(failed[0]), std::string(kReceiveFailed) + "0");
  EXPECT_EQ(LinesWith(device_.page(), kReceiverClosed, sent_at).size(), 1u);
  EXPECT_TRUE(PlayTimes(device_.page(), sent_at).empty()) << "the logic took nothing in";

  RunUntil(ticks_.At(62) + 10 * kMs);
  EXPECT_EQ(TimeOfFirstLine(device_.page(), kReceiverMade, sent_at), ticks_.At(62));
  SendProbe(1);
  RunUntil(ticks_.At(62) + 20 * kMs);
  EXPECT_TRUE(Handled(1));
  EXPECT_EQ(PlayTimes(device_.page(), sent_at).size(), 1u);
}

TEST_F(PacewireReceiveLoop, PortChangeOnARecheckTickRemakesTheReceiverAndTheOldReceiveStaysAway) {
  device_.SendAt(ticks_.At(62) - 40 * kMs, "SET_PORT", "47000");
  RunUntil(ticks_.At(62));
  const auto closed = LinesWith(device_.page(), kReceiverClosed);
  ASSERT_EQ(closed.size(), 1u);
  EXPECT_EQ(closed[0].time_us, ticks_.At(62));
  EXPECT_EQ(TimeOfFirstLine(device_.page(), "UDPReceiver: Binding ...: 0.0.0.0:47000"),
            ticks_.At(62));

  // The device keeps receiving on the new port, re-check after re-check.
  int probe = 0;
  for (int tick = 63; tick < 200; tick += 7) {
    RunUntil(ticks_.At(tick) + 30 * kMs);
    SendProbe(++probe, 47000);
  }
  RunUntil(ticks_.At(200));
  for (int sent = 1; sent <= probe; ++sent) EXPECT_TRUE(Handled(sent)) << "probe " << sent;
  EXPECT_TRUE(PostedBy(*Handling(1), "mainThread"));
  EXPECT_TRUE(PostedBy(*Handling(2), "receivingThread"));
  EXPECT_TRUE(LinesWith(device_.page(), kReceiveFailed).empty())
      << "the aborted receive of the old socket changes nothing";
  EXPECT_EQ(LinesWith(device_.page(), kReceiverClosed).size(), 1u);
  EXPECT_EQ(LinesWith(device_.page(), "UDPReceiver: Binding").size(), 2u);
}

TEST_F(PacewireReceiveLoop, PortChangeBetweenRechecksFailsThePendingReceiveUntilTheRecheck) {
  device_.SendAt(ticks_.At(50) - 40 * kMs, "SET_PORT", "47000");
  RunUntil(ticks_.At(50));
  const auto failed = LinesWith(device_.page(), kReceiveFailed);
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(TextOf(failed[0]), kReceiveFailed + std::to_string(PP_ERROR_ABORTED));
  EXPECT_EQ(failed[0].time_us, ticks_.At(50));
  EXPECT_EQ(
      LinesWith(device_.page(), "[ERR]: UDPReceiver: Not bound. No need to close.", ticks_.At(50))
          .size(),
      1u)
      << "the failure closes a receiver that the port change closed already";

  RunUntil(ticks_.At(55));
  SendProbe(1, 47000);
  RunUntil(ticks_.At(62) + 10 * kMs);
  EXPECT_FALSE(Handled(1)) << "nothing listens before the re-check";
  EXPECT_EQ(TimeOfFirstLine(device_.page(), "UDPReceiver: Binding ...: 0.0.0.0:47000"),
            ticks_.At(62));
  SendProbe(2, 47000);
  RunUntil(ticks_.At(63));
  ASSERT_TRUE(Handled(2));
  EXPECT_TRUE(PostedBy(*Handling(2), "mainThread"));
}

// A device whose receiving thread got no message loop from the platform.
class PacewireWithoutReceivingLoop : public ::testing::Test {
 protected:
  PacewireWithoutReceivingLoop() {
    world_.AddDevice("10.0.0.7", ModuleKind::kPacewire);
    device_ = world_.FindDevice("10.0.0.7");
    device_->host().faults().create_message_loop.FailWhen(
        [](std::string_view loop) { return OnThread(loop, "receivingThread"); }, PP_ERROR_FAILED);
  }
  ModuleWorld world_;
  Device* device_;
};

TEST_F(PacewireWithoutReceivingLoop, HandlesNoDatagramAndKeepsItsReceiverBound) {
  MonitoringTool tool(world_.lan(), "10.0.0.200", 50000);
  const TickClock ticks = TicksOf(*device_);
  world_.lan().RunUntil(ticks.At(31) + 10 * kMs);
  tool.SetMonitoringNaming(device_->address(), false, "probe", 1);
  world_.lan().RunUntil(ticks.At(40));
  tool.SetMonitoringNaming(device_->address(), false, "probe", 2);
  world_.lan().RunUntil(ticks.At(100));

  const auto missing = LinesWith(device_->page(), "receivingThread message loop is null");
  ASSERT_EQ(missing.size(), 1u);
  EXPECT_EQ(TextOf(missing[0]), "[LOG]: receivingThread message loop is null");
  EXPECT_TRUE(PostedBy(missing[0], "mainThread"));
  EXPECT_TRUE(LinesWith(device_->page(), "(Addr: probe:").empty());
  EXPECT_NE(device_->host().SocketOnPort(kSyncPort), nullptr);
  EXPECT_EQ(LinesWith(device_->page(), "UDPReceiver: Binding").size(), 1u)
      << "a bound receiver is never made again";
  EXPECT_EQ(PlayTimes(device_->page()).size(), 100u) << "the tick loop goes on";
}

}  // namespace
}  // namespace scenario
