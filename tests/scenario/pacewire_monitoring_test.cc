// A monitoring tool on the LAN watches a Pacewire device: its set-monitoring
// datagram is applied on the 30th datagram the device handles, after which
// the tool gets a 104-byte monitoring packet every tick and a 72-byte notify
// packet after each play-start time stamp, until it switches monitoring off.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pacewire/packets.h"
#include "scenario/module_world.h"
#include "tests/scenario/monitoring_tool.h"
#include "tests/scenario/pacewire_fixture.h"

namespace scenario {
namespace {

using pacewire::PacketMonitoring;
using pacewire::PacketMonitoringToNotifyPlayStarted;

constexpr char kMonitoringSenderMade[] =
    "[LOG]: UDPSender: Resolving ... host name: 10.0.0.200, port: 50000 0";
constexpr char kMonitoringOn[] = "[LOG]: Monitoring mode is set to true (Addr: 10.0.0.200:50000)";
constexpr int64_t kOneWayDelayUs = 200;  // the default LAN's
constexpr int64_t kLoopbackDelayUs = 20;

class PacewireMonitoring : public ::testing::Test {
 protected:
  PacewireMonitoring()
      : device_(world_.AddDevice("10.0.0.7", ModuleKind::kPacewire)),
        tool_(world_.lan(), "10.0.0.200", 50000),
        ticks_(TicksOf(device_)) {
    device_.Send("SET_DEVICEIP", device_.address());  // the device names itself in its packets
    RunUntil(ticks_.At(31) + 10 * kMs);               // its receiver is up
  }

  void RunUntil(int64_t time_us) { world_.lan().RunUntil(time_us); }
  void RunFor(int64_t duration_us) { world_.RunFor(duration_us); }
  // Sends `count` set-monitoring datagrams naming the tool, 10 ms apart.
  void SetMonitoring(int count, bool on) {
    for (int sent = 0; sent < count; ++sent) {
      tool_.SetMonitoring(device_.address(), on);
      RunFor(10 * kMs);
    }
  }
  // The wall clock of the device, in ms, at virtual time `time_us`.
  int64_t DeviceClockMs(int64_t time_us) { return device_.host().clock().WallAt(time_us) / 1000; }

  ModuleWorld world_;
  Device& device_;
  MonitoringTool tool_;
  TickClock ticks_;
};

TEST_F(PacewireMonitoring, PacketsFollowThe30thDatagramHandledOneEveryTick) {
  SetMonitoring(29, true);
  RunFor(2 * kSecond);
  EXPECT_EQ(LinesWith(device_.page(), kMonitoringOn).size(), 29u);
  EXPECT_TRUE(LinesWith(device_.page(), kMonitoringSenderMade).empty());
  EXPECT_TRUE(tool_.arrivals().empty()) << "monitoring is on, but there is no sender yet";

  const int64_t thirtieth = world_.now_us();
  SetMonitoring(1, true);
  const auto made = LinesWith(device_.page(), kMonitoringSenderMade);
  ASSERT_EQ(made.size(), 1u);
  EXPECT_EQ(made[0].time_us, thirtieth + kOneWayDelayUs);
  EXPECT_TRUE(PostedBy(made[0], "receivingThread"));

  RunFor(2 * kSecond);
  const auto packets = tool_.MonitoringPackets();
  ASSERT_EQ(packets.size(), 20u);
  EXPECT_EQ(tool_.arrivals().size(), packets.size()) << "nothing but monitoring packets";
  for (size_t k = 0; k < packets.size(); ++k) {
    const int64_t made_at = packets[k].time_us - kOneWayDelayUs;
    EXPECT_EQ((made_at - ticks_.At(0)) % kTick, 0) << "made by a tick";
    if (k > 0) {
      EXPECT_EQ(packets[k].time_us - packets[k - 1].time_us, kTick);
    }

    const auto packet = Decode<PacketMonitoring>(packets[k].bytes);
    EXPECT_EQ(packet.header.getSize(), 104);
    EXPECT_EQ(packet.header.getType(), pacewire::kPacketTypeMonitoring);
    EXPECT_EQ(pacewire::ReadTextField(packet.deviceIP, sizeof packet.deviceIP), "10.0.0.7");
    EXPECT_EQ(packet.packetClock, DeviceClockMs(made_at));
    EXPECT_EQ(packet.isMaster, 0);
    EXPECT_EQ(packet.syncPlay.header.getSize(), 48);
    EXPECT_EQ(packet.syncPlay.syncId, -1) << "no schedule started";
    EXPECT_EQ(packet.syncPlay.ipLastNumber, 7);
  }
  EXPECT_EQ(packets.front().time_us - kOneWayDelayUs,
            ticks_.At(static_cast<int>((thirtieth - ticks_.At(0)) / kTick) + 1))
      << "the first packet goes out on the first tick after the sender was made";
}

TEST_F(PacewireMonitoring, NotifyPacketFollowsAPlayStartTimeStampWhileMonitoringIsOn) {
  device_.Send("PLAYER_TIMESTAMP_INFO", "before monitoring");
  SetMonitoring(30, true);
  RunFor(500 * kMs);
  EXPECT_TRUE(tool_.NotifyPackets().empty());

  device_.Send("START_CLOCK_WITH_SYNC_ID", "9");
  const int64_t stamped = world_.now_us() + 10 * kMs;
  device_.SendAt(stamped, "PLAYER_TIMESTAMP_INFO", "2026-01-01T00:00:05.123Z");
  device_.SendAt(stamped + 30 * kMs, "SET_ADJUST_DURATION", "0");
  RunFor(1 * kSecond);

  const auto notify = tool_.NotifyPackets();
  ASSERT_EQ(notify.size(), 1u) << "once, right after the time stamp and not after the next message";
  EXPECT_EQ(notify[0].time_us, stamped + kOneWayDelayUs);
  const auto packet = Decode<PacketMonitoringToNotifyPlayStarted>(notify[0].bytes);
  EXPECT_EQ(packet.header.getSize(), 72);
  EXPECT_EQ(packet.header.getType(), pacewire::kPacketTypeNotifyPlayStarted);
  EXPECT_EQ(packet.syncId, 9);
  EXPECT_EQ(pacewire::ReadTextField(packet.deviceIP, sizeof packet.deviceIP), "10.0.0.7");
  EXPECT_EQ(packet.playStartedClock, DeviceClockMs(stamped));
  EXPECT_EQ(packet.getTimeStamp(), "2026-01-01T00:0") << "the first 15 bytes of the text";
}

TEST_F(PacewireMonitoring, SwitchingMonitoringOffStopsThePacketsAndOnAgainResumesThem) {
  SetMonitoring(30, true);
  RunFor(1 * kSecond);
  ASSERT_FALSE(tool_.MonitoringPackets().empty());

  const int64_t switched_off = world_.now_us();
  SetMonitoring(1, false);
  device_.Send("PLAYER_TIMESTAMP_INFO", "while off");
  RunFor(3 * kSecond);
  EXPECT_TRUE(tool_.MonitoringPackets(switched_off + kOneWayDelayUs).empty());
  EXPECT_TRUE(tool_.NotifyPackets().empty());
  EXPECT_EQ(
      LinesWith(device_.page(), "[LOG]: Monitoring mode is set to false (Addr: 10.0.0.200:50000)")
          .size(),
      1u);

  // The destination did not change, so its sender is still there.
  const int64_t switched_on = world_.now_us();
  SetMonitoring(1, true);
  RunFor(1 * kSecond);
  EXPECT_EQ(tool_.MonitoringPackets(switched_on).size(), 10u);
  EXPECT_EQ(LinesWith(device_.page(), kMonitoringSenderMade).size(), 1u);
}

// With a resolver that takes longer than a tick, every set-up of the
// monitoring sender spans at least one tick.
TEST(PacewireMonitoringWithASlowResolver, ToolThatMovesToAnotherHostGetsThePacketsThere) {
  sim::LanOptions options;
  options.resolve_delay_us = 150 * kMs;
  ModuleWorld world(options);
  Device& device = world.AddDevice("10.0.0.7", ModuleKind::kPacewire);
  MonitoringTool first(world.lan(), "10.0.0.200", 50000);
  MonitoringTool second(world.lan(), "10.0.0.201", 50000);
  const TickClock ticks = TicksOf(device);
  world.lan().RunUntil(ticks.At(31) + 10 * kMs);

  auto name_destination = [&](const MonitoringTool& tool, int datagrams) {
    for (int sent = 0; sent < datagrams; ++sent) {
      first.SetMonitoringNaming(device.address(), true, tool.address(), tool.port());
      world.RunFor(10 * kMs);
    }
  };
  name_destination(first, 30);
  world.RunFor(2 * kSecond);
  ASSERT_GE(first.MonitoringPackets().size(), 17u) << "every tick once the set-up has finished";

  const int64_t moved = world.now_us();
  name_destination(second, 40);  // the first closes the sender, the 31st makes the new one
  world.RunFor(2 * kSecond);
  EXPECT_TRUE(first.MonitoringPackets(moved + kTick).empty());
  EXPECT_GE(second.MonitoringPackets().size(), 20u)
      << "the new destination gets every tick's packet";
  EXPECT_TRUE(LinesWith(device.page(), "UDPSender: Send failed").empty())
      << "nothing is sent through a sender that is still setting up";
}

TEST(PacewireMonitoringOfAParent, ItsOwnBroadcastsCountTowardsThe30Datagrams) {
  ModuleWorld world;
  Device& device = world.AddDevice("10.0.0.7", ModuleKind::kPacewire);
  MonitoringTool tool(world.lan(), "10.0.0.200", 50000);
  const TickClock ticks = TicksOf(device);
  StartFrameSchedule(device, FrameSchedule{4, 2500, 600000});
  world.lan().RunUntil(ticks.At(40));
  ASSERT_EQ(Role(device.page()), "parent") << "alone, it takes the role after 31 ticks";

  // Datagram 1 is the tool's; datagrams 2 to 30 are the parent's own
  // broadcasts of the next 29 ticks, which come back to it.
  world.lan().RunUntil(ticks.At(40) + 50 * kMs);
  tool.SetMonitoring(device.address(), true);
  world.lan().RunUntil(ticks.At(80));
  EXPECT_EQ(TimeOfFirstLine(device.page(), kMonitoringSenderMade),
            ticks.At(40 + 29) + kLoopbackDelayUs);

  const auto packets = tool.MonitoringPackets();
  ASSERT_EQ(packets.size(), 80u - 70u);
  int64_t previous_position = -1;
  for (const auto& arrival : packets) {
    const auto packet = Decode<PacketMonitoring>(arrival.bytes);
    EXPECT_EQ(packet.isMaster, 1);
    EXPECT_EQ(packet.syncPlay.header.getType(), pacewire::kPacketTypeSyncPlay);
    EXPECT_EQ(packet.syncPlay.syncId, 4);
    EXPECT_EQ(packet.syncPlay.currentPageDuration, 2500);
    const int64_t position = packet.syncPlay.elapsedTimeFromMaster + packet.syncPlay.playTime;
    if (previous_position >= 0) {
      EXPECT_EQ(position - previous_position, 100) << "one tick on";
    }
    previous_position = position;
  }
}

}  // namespace
}  // namespace scenario
