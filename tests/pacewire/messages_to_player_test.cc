// What the page receives on each tick, after each datagram and after each page
// message, and the parent-search time-out that the tick drives.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "logic_fixture.h"

namespace pacewire::testing {
namespace {

class MessagesToPlayer : public LogicTest {
 protected:
  static constexpr int32_t kGroup = 3;

  void StartSyncWithPage() {
    StartSync(kGroup, 37);
    Command("SET_TOTAL_PLAYTIME", "100000");
    clear();
  }
  int64_t TickTime(int tick) const { return kStart + 100 * tick; }
};

TEST_F(MessagesToPlayer, NonSyncModeReportsThePlayTimeOfEveryTick) {
  EXPECT_EQ(Tick(kStart), PlayTime(0, 0));  // before any command: what the tick computed

  Command("START_CLOCK_WITH_SYNC_ID", "-1");
  Command("SET_TOTAL_PLAYTIME", "10000");
  Command("SET_ELAPSED_PAGES_PLAYTIME", "-250");
  for (int tick = 1; tick <= 40; ++tick) {
    ASSERT_EQ(Tick(TickTime(tick)), PlayTime(100 * tick, -250)) << tick;
  }
  EXPECT_EQ(logic_.GetNoParentTickCount(), 0);
}

TEST_F(MessagesToPlayer, ChildWithoutParentTakesTheRoleOnTick31) {
  StartSyncWithPage();
  for (int tick = 1; tick <= 30; ++tick) ASSERT_EQ(Tick(TickTime(tick)), kNothing) << tick;
  EXPECT_TRUE(lines().empty());
  EXPECT_EQ(Tick(TickTime(31)), kDeviceIpRequest);
  EXPECT_TRUE(logic_.IsMaster());
  EXPECT_EQ(lines(), (std::vector<std::string>{
                         "[WARN]: Could not find any parent during 3100 ms. Try to be parent.",
                         "[LOG]: Device is set to parent"}));
  EXPECT_EQ(Tick(TickTime(32)), kNothing);
  EXPECT_EQ(logic_.GetNoParentTickCount(), 1);
}

TEST_F(MessagesToPlayer, ParentThatHearsNothingBecomesAChildOnTick31) {
  StartSyncWithPage();
  logic_.SetMaster(true);
  clear();
  for (int tick = 1; tick <= 30; ++tick) ASSERT_EQ(Tick(TickTime(tick)), kNothing) << tick;
  EXPECT_EQ(Tick(TickTime(31)), kDeviceIpRequest);
  EXPECT_FALSE(logic_.IsMaster());
  EXPECT_EQ(lines(),
            (std::vector<std::string>{
                "[WARN]: Could not find any parent during 3100 ms even though ** I AM A PARENT **.",
                "[LOG]: Device is set to child"}));
}

TEST_F(MessagesToPlayer, GroupPacketRestartsTheParentSearch) {
  StartSyncWithPage();
  for (int tick = 1; tick <= 30; ++tick) Tick(TickTime(tick));
  Receive(SyncDatagram({.syncId = kGroup, .playTime = 50, .ipLastNumber = 20}), TickTime(30) + 50);
  for (int tick = 31; tick <= 60; ++tick) ASSERT_EQ(Tick(TickTime(tick)), kNothing) << tick;
  EXPECT_FALSE(logic_.IsMaster());
  EXPECT_EQ(Tick(TickTime(61)), kDeviceIpRequest);
  EXPECT_TRUE(logic_.IsMaster());
}

TEST_F(MessagesToPlayer, DeviceIpTroubleAsksForTheAddressOnEvery52ndTick) {
  StartSyncWithPage();
  Command("SET_DEVICEIP", "-1");
  for (int round = 0; round < 2; ++round) {
    for (int tick = 1; tick <= 51; ++tick) {
      const int64_t now = TickTime(52 * round + tick);
      ASSERT_EQ(Tick(now), PlayTime(now - kStart, 0)) << round << " " << tick;
    }
    EXPECT_EQ(Tick(TickTime(52 * round + 52)), kDeviceIpRequest) << round;
  }
  EXPECT_EQ(logic_.GetNoParentTickCount(), 0);  // trouble leaves the parent search alone
  EXPECT_FALSE(logic_.IsMaster());
}

TEST_F(MessagesToPlayer, UsableAddressRestartsTheTroubleCount) {
  StartSyncWithPage();
  Command("SET_DEVICEIP", "-1");
  for (int tick = 1; tick <= 40; ++tick) Tick(TickTime(tick));
  EXPECT_EQ(logic_.GetTroubleTickCount(), 40);
  Command("SET_DEVICEIP", "192.168.0.37");
  Tick(TickTime(41));
  EXPECT_EQ(logic_.GetTroubleTickCount(), 0);
  Command("SET_DEVICEIP", "-1");
  for (int tick = 42; tick <= 92; ++tick) ASSERT_NE(Tick(TickTime(tick)), kDeviceIpRequest);
  EXPECT_EQ(Tick(TickTime(93)), kDeviceIpRequest);
}

TEST_F(MessagesToPlayer, EachDatagramInSyncModeYieldsTheCurrentPlayTime) {
  const auto foreign = SyncDatagram({.syncId = 9, .playTime = 4000, .elapsed = 8000});
  const auto setMonitoring = SetMonitoringDatagram("127.0.0.1", 50000, 0);

  Command("START_CLOCK_WITH_SYNC_ID", "-1");
  Receive(foreign, kStart);
  EXPECT_EQ(Entries(logic_.GetMessageToPlayerAfterLoadPacket()), kNothing);

  StartSyncWithPage();
  Command("SET_ELAPSED_PAGES_PLAYTIME", "-250");
  Tick(kStart + 700);
  for (const ReceiveBuffer* datagram : {&foreign, &setMonitoring}) {
    Receive(*datagram, kStart + 750);
    EXPECT_EQ(Entries(logic_.GetMessageToPlayerAfterLoadPacket()), PlayTime(700, -250));
  }
}

TEST_F(MessagesToPlayer, ReplyToAPageMessageIsStoredUntilTheNextOne) {
  EXPECT_EQ(Entries(logic_.GetMessageToPlayerAfterLoadMessage()), kNothing);
  Command("START_CLOCK_WITH_SYNC_ID", "3");
  EXPECT_EQ(Entries(logic_.GetMessageToPlayerAfterLoadMessage()), kDeviceIpRequest);
  EXPECT_EQ(Entries(logic_.GetMessageToPlayerAfterLoadMessage()), kDeviceIpRequest);
  Command("SET_PORT", "47475");
  EXPECT_EQ(Entries(logic_.GetMessageToPlayerAfterLoadMessage()), kNothing);
}

}  // namespace
}  // namespace pacewire::testing
