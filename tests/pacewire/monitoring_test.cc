// Monitoring mode: switched by a monitoring tool's datagram, one monitoring
// record per tick while on, a notify record after a play-start time stamp, and
// the hour-long limit.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "logic_fixture.h"

namespace pacewire::testing {
namespace {

class Monitoring : public LogicTest {
 protected:
  void SwitchMonitoring(uint8_t on, const std::string& address = "192.168.0.9",
                        int32_t port = 50000) {
    Receive(SetMonitoringDatagram(address, port, on), kStart);
  }
};

TEST_F(Monitoring, DatagramSwitchesModeAndAlwaysReplacesTheDestination) {
  struct Case {
    std::string address;
    int32_t port;
    uint8_t on;
    bool mode;
    std::string destination;
  };
  const std::vector<Case> cases = {
      {"192.168.0.9", 50000, 1, true, "192.168.0.9:50000"},
      {"192.168.0.9", 50000, 0, false, "192.168.0.9:50000"},
      {"10.0.0.1", 50001, 0x03, true, "10.0.0.1:50001"},  // only bit 0 counts
      {"10.0.0.2", 50002, 0x02, false, "10.0.0.2:50002"},
      {"", 0, 1, true, ":0"},
      {"monitor", -5, 1, true, "monitor:-5"},
      // 32 bytes without a NUL and a long port: cut at 39 characters.
      {std::string(32, 'a'), -2147483647, 1, true, std::string(32, 'a') + ":-21474"},
  };
  for (const Case& c : cases) {
    clear();
    SwitchMonitoring(c.on, c.address, c.port);
    EXPECT_EQ(logic_.IsMonitoringMode(), c.mode) << c.destination;
    EXPECT_EQ(logic_.GetMonitoringCastIpPort(), c.destination);
    EXPECT_EQ(lines(), std::vector<std::string>{"[LOG]: Monitoring mode is set to " +
                                                std::string(c.mode ? "true" : "false") +
                                                " (Addr: " + c.destination + ")"});
  }
}

TEST_F(Monitoring, AddressIsReadUpToItsFirstNul) {
  ReceiveBuffer datagram = SetMonitoringDatagram("10.0.0.1", 7, 1);
  datagram.PutBytes(21, "junk", 4);  // after the NUL at offset 20
  Receive(datagram, kStart);
  EXPECT_EQ(logic_.GetMonitoringCastIpPort(), "10.0.0.1:7");
}

TEST_F(Monitoring, EachTickWhileOnYieldsTheRecordOfThatTick) {
  StartSync(3, 23);
  Command("SET_TOTAL_PLAYTIME", "10000");
  EXPECT_EQ(logic_.GetMonitoringPacket(kStart), nullptr);
  SwitchMonitoring(1);
  for (int64_t t = 100; t <= 500; t += 100) {
    logic_.GetSyncPacket(kStart + t);
    const auto* packet =
        reinterpret_cast<const PacketMonitoring*>(logic_.GetMonitoringPacket(kStart + t));
    ASSERT_NE(packet, nullptr);
    EXPECT_EQ(packet->header.getSize(), 104);
    EXPECT_EQ(packet->header.getType(), kPacketTypeMonitoring);
    EXPECT_EQ(packet->packetClock, kStart + t);
    EXPECT_EQ(WireBytes(&packet->syncPlay.header), WireBytes(&logic_.GetSyncRecord().header));
    EXPECT_EQ(packet->syncPlay.playTime, t);
  }
  SwitchMonitoring(0);
  EXPECT_EQ(logic_.GetMonitoringPacket(kStart + 600), nullptr);
  EXPECT_EQ(logic_.GetMonitoringPacketCount(), 5);
}

TEST_F(Monitoring, SwitchesItselfOffAfter36001Packets) {
  SwitchMonitoring(1);
  for (int tick = 1; tick <= 36001; ++tick) {
    ASSERT_NE(logic_.GetMonitoringPacket(kStart + tick), nullptr) << tick;
  }
  EXPECT_EQ(logic_.GetMonitoringPacket(kStart + 36002), nullptr);
  EXPECT_FALSE(logic_.IsMonitoringMode());
  EXPECT_EQ(logic_.GetMonitoringPacketCount(), 0);
}

TEST_F(Monitoring, SwitchingOnAgainDoesNotRestartTheHour) {
  SwitchMonitoring(1);
  for (int tick = 1; tick <= 500; ++tick) logic_.GetMonitoringPacket(kStart + tick);
  SwitchMonitoring(0);
  SwitchMonitoring(1);
  int made = 0;
  while (logic_.GetMonitoringPacket(kStart) != nullptr) ++made;
  EXPECT_EQ(made, 35501);
}

TEST_F(Monitoring, NotifyRecordFollowsOnlyTheTimeStampMessage) {
  StartSync(3, 23);
  Command("PLAYER_TIMESTAMP_INFO", "12:00:00", kStart + 10);
  EXPECT_EQ(logic_.GetMonitoringPacketAfterLoadMessage(kStart + 11), nullptr);  // off

  SwitchMonitoring(1);
  clear();
  Command("PLAYER_TIMESTAMP_INFO", "12:00:01", kStart + 20);
  EXPECT_TRUE(lines().empty());  // the command itself is never logged
  const auto* notify = reinterpret_cast<const PacketMonitoringToNotifyPlayStarted*>(
      logic_.GetMonitoringPacketAfterLoadMessage(kStart + 21));
  ASSERT_NE(notify, nullptr);
  EXPECT_EQ(notify->header.getSize(), 72);
  EXPECT_EQ(notify->header.getType(), kPacketTypeNotifyPlayStarted);
  EXPECT_EQ(notify->syncId, 3);
  EXPECT_EQ(ReadTextField(notify->deviceIP, 32), "192.168.0.23");
  EXPECT_EQ(notify->playStartedClock, kStart + 20);
  EXPECT_EQ(notify->getTimeStamp(), "12:00:01");

  Command("SET_PORT", "47475");
  EXPECT_EQ(logic_.GetMonitoringPacketAfterLoadMessage(kStart + 30), nullptr);

  Command("PLAYER_TIMESTAMP_INFO", "12:00:02", kStart + 40);
  logic_.LoadMessage(pp::Var("not a dictionary"), kStart + 41);
  EXPECT_EQ(logic_.GetMonitoringPacketAfterLoadMessage(kStart + 42), nullptr);
  EXPECT_EQ(logic_.GetMonitoringPacketCount(), 0);  // notify records do not count
}

TEST_F(Monitoring, IsIndependentOfRoleAndSyncMode) {
  SwitchMonitoring(1);
  Command("START_CLOCK_WITH_SYNC_ID", "-1");
  const auto* packet =
      reinterpret_cast<const PacketMonitoring*>(logic_.GetMonitoringPacket(kStart));
  ASSERT_NE(packet, nullptr);
  EXPECT_EQ(packet->isMaster, 0);
  logic_.SetMaster(true);
  packet = reinterpret_cast<const PacketMonitoring*>(logic_.GetMonitoringPacket(kStart));
  EXPECT_EQ(packet->isMaster, 1);
}

TEST_F(Monitoring, DiagnosticLines) {
  StartSync(3, 37);
  logic_.SetMaster(true);
  Command("SET_TOTAL_PLAYTIME", "15000");
  Command("SET_TOTAL_SCHEDULE_PLAYTIME", "60000");
  Command("SET_ELAPSED_PAGES_PLAYTIME", "30000");
  logic_.GetSyncPacket(kStart + 1200);
  clear();
  logic_.PrintLogTimerInfo(logic_.GetSyncRecord());
  logic_.PrintLogDeviceInfo();
  logic_.SetMaster(false);
  logic_.PrintLogTimerInfo(logic_.GetSyncRecord());
  EXPECT_EQ(lines(),
            (std::vector<std::string>{
                "[LOG]: [Parent][SID: 3][37][1200 ms], currentPageDuration = 15000 ms, "
                "elapsedTimeFromMaster = 30000 ms, frameScheduleDuration = 60000 ms",
                "[LOG]: [NaCl-21.0802.2] SID: 3, P(47475), IP: 37, M: true, total: 15000 ms",
                "[LOG]: Device is set to child",
                "[LOG]: [Child][SID: 3][37][1200 ms], currentPageDuration = 15000 ms, "
                "elapsedTimeFromMaster = 30000 ms, frameScheduleDuration = 60000 ms",
            }));
}

}  // namespace
}  // namespace pacewire::testing
