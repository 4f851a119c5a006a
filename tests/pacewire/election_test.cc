// Sync packets: the play clock, who broadcasts, clock adoption by a child and
// the tie-break between two parents.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "logic_fixture.h"

namespace pacewire::testing {
namespace {

class SyncPackets : public LogicTest {
 protected:
  static constexpr int32_t kGroup = 3;

  // A parent of group 3 with address number 37, started at kStart.
  void StartParent(const std::string& pageMs, const std::string& scheduleMs) {
    StartSync(kGroup, 37);
    Command("SET_TOTAL_PLAYTIME", pageMs);
    Command("SET_TOTAL_SCHEDULE_PLAYTIME", scheduleMs);
    logic_.SetMaster(true);
    clear();
  }
  const PacketSyncPlay* SyncAt(int64_t now) {
    return reinterpret_cast<const PacketSyncPlay*>(logic_.GetSyncPacket(now));
  }
};

TEST_F(SyncPackets, PageEndsOnTheFirstTickPastItsDuration) {
  StartParent("10000", "30000");
  for (int64_t t = 100; t <= 10000; t += 100) {
    const PacketSyncPlay* sent = SyncAt(kStart + t);
    ASSERT_NE(sent, nullptr);
    ASSERT_EQ(sent->playTime, t);
    ASSERT_EQ(sent->elapsedTimeFromMaster, 0);
  }
  const PacketSyncPlay* sent = SyncAt(kStart + 10100);
  ASSERT_NE(sent, nullptr);
  EXPECT_EQ(sent->header.getType(), kPacketTypeSyncPlay);
  EXPECT_EQ(sent->header.getSize(), 48);
  EXPECT_EQ(sent->playTime, 0);
  EXPECT_EQ(sent->elapsedTimeFromMaster, 10100);
  EXPECT_EQ(logic_.GetContentStartClock(), kStart + 10100);
  EXPECT_EQ(logic_.GetFrameScheduleStartClock(), kStart);
  EXPECT_TRUE(lines().empty());
}

TEST_F(SyncPackets, ScheduleWrapsAfterItsLastPageAndLogsTheTimerLine) {
  StartParent("10000", "30000");
  std::vector<int64_t> pageEnds;
  for (int64_t t = 100; t <= 30300; t += 100) {
    if (SyncAt(kStart + t)->playTime == 0) pageEnds.push_back(t);
  }
  EXPECT_EQ(pageEnds, (std::vector<int64_t>{10100, 20200, 30300}));
  EXPECT_EQ(logic_.GetSyncRecord().elapsedTimeFromMaster, 0);
  EXPECT_EQ(logic_.GetContentStartClock(), kStart + 30300);
  EXPECT_EQ(logic_.GetFrameScheduleStartClock(), kStart + 30300);
  EXPECT_EQ(lines(), std::vector<std::string>{
                         "[LOG]: [Parent][SID: 3][37][0 ms], currentPageDuration = 10000 ms, "
                         "elapsedTimeFromMaster = 0 ms, frameScheduleDuration = 30000 ms"});
}

TEST_F(SyncPackets, AdjustDurationShiftsBothTimesUntilTheScheduleWraps) {
  StartParent("10000", "30000");
  Command("SET_ADJUST_DURATION", "500");
  EXPECT_EQ(SyncAt(kStart + 100)->playTime, 600);
  EXPECT_EQ(SyncAt(kStart + 9600)->elapsedTimeFromMaster, 10100);  // 9600 + 500 > 10000
  EXPECT_EQ(SyncAt(kStart + 19700)->elapsedTimeFromMaster, 20200);
  EXPECT_EQ(SyncAt(kStart + 29800)->elapsedTimeFromMaster, 0);  // 30300 > 30000: wrap
  EXPECT_EQ(logic_.GetAdjustDuration(), 0);
  EXPECT_EQ(SyncAt(kStart + 29900)->playTime, 100);
}

TEST_F(SyncPackets, ZeroDurationsRestartEveryTickWithoutTimerLines) {
  StartParent("0", "0");
  EXPECT_EQ(SyncAt(kStart)->playTime, 0);
  for (int64_t t = 1; t <= 1000; t += 111) {
    const PacketSyncPlay* sent = SyncAt(kStart + t);
    EXPECT_EQ(sent->playTime, 0);
    EXPECT_EQ(sent->elapsedTimeFromMaster, 0);
  }
  EXPECT_TRUE(lines().empty());
}

TEST_F(SyncPackets, NegativePlayTimeIsWarnedAndSentAsItIs) {
  StartParent("10000", "30000");
  Command("MOVE_PAGE_TO", "-500");
  clear();
  EXPECT_EQ(SyncAt(kStart)->playTime, -500);
  EXPECT_EQ(lines(), std::vector<std::string>{"[WARN]: cc: 1000000, csc: 1000500, ad: 0"});
  EXPECT_EQ(Entries(logic_.GetMessageToPlayerAfterLoadPacket()), PlayTime(-500, 0));
}

TEST_F(SyncPackets, OnlyAParentInSyncModeWithAUsableAddressBroadcasts) {
  StartParent("10000", "30000");
  EXPECT_NE(logic_.GetSyncPacket(kStart + 100), nullptr);

  Command("SET_DEVICEIP", "-1");  // trouble also makes it a child
  logic_.SetMaster(true);
  EXPECT_EQ(logic_.GetSyncPacket(kStart + 200), nullptr);
  Command("SET_DEVICEIP", "192.168.0.37");
  EXPECT_NE(logic_.GetSyncPacket(kStart + 300), nullptr);

  logic_.SetMaster(false);
  EXPECT_EQ(logic_.GetSyncPacket(kStart + 400), nullptr);

  Command("START_CLOCK_WITH_SYNC_ID", "-1", kStart + 500);
  logic_.SetMaster(true);
  EXPECT_EQ(logic_.GetSyncPacket(kStart + 600), nullptr);
  // The clock advances all the same.
  EXPECT_EQ(logic_.GetSyncRecord().playTime, 100);
}

TEST_F(SyncPackets, ChildAdoptsTheParentsClock) {
  StartSync(kGroup, 37);
  Command("SET_TOTAL_PLAYTIME", "10000");
  const int64_t received = kStart + 5000;
  Receive(SyncDatagram({.syncId = kGroup, .playTime = 4000, .elapsed = 20000, .ipLastNumber = 20}),
          received);
  EXPECT_EQ(logic_.GetContentStartClock(), received - 4000);
  EXPECT_EQ(logic_.GetFrameScheduleStartClock(), received - 24000);
  EXPECT_EQ(Entries(logic_.GetMessageToPlayerAfterLoadPacket()), PlayTime(4000, 20000));
  EXPECT_EQ(logic_.GetSyncPacket(received + 100), nullptr);
  EXPECT_EQ(logic_.GetSyncRecord().playTime, 4100);
  EXPECT_EQ(logic_.GetSyncRecord().elapsedTimeFromMaster, 20000);
  // Lengths and address come from the own page only.
  EXPECT_EQ(logic_.GetSyncRecord().currentPageDuration, 10000);
  EXPECT_EQ(logic_.GetSyncRecord().ipLastNumber, 37);
}

TEST_F(SyncPackets, AnyTypeButOneCountsAsASyncPacket) {
  StartSync(kGroup, 37);
  for (int32_t type : {0, 2, 3, 4, 5, -7}) {
    Receive(SyncDatagram({.syncId = kGroup, .playTime = 1000 + type, .type = type}), kStart);
    EXPECT_EQ(logic_.GetSyncRecord().playTime, 1000 + type) << type;
  }
}

TEST_F(SyncPackets, PacketsOfOtherGroupsOrOutsideSyncModeChangeNothing) {
  StartSync(kGroup, 37);
  Command("SET_TOTAL_PLAYTIME", "10000");
  Tick(kStart + 100);
  Tick(kStart + 200);
  const auto foreign = SyncDatagram({.syncId = 4, .playTime = 4000, .elapsed = 20000});
  Receive(foreign, kStart + 250);
  EXPECT_EQ(logic_.GetNoParentTickCount(), 2);
  EXPECT_EQ(logic_.GetContentStartClock(), kStart);
  EXPECT_EQ(Entries(logic_.GetMessageToPlayerAfterLoadPacket()), PlayTime(200, 0));

  Command("START_CLOCK_WITH_SYNC_ID", "-1", kStart);
  Receive(SyncDatagram({.syncId = -1, .playTime = 4000}), kStart + 300);
  EXPECT_EQ(logic_.GetContentStartClock(), kStart);
  EXPECT_EQ(Entries(logic_.GetMessageToPlayerAfterLoadPacket()), kNothing);
}

struct TieBreak {
  int32_t own;
  int32_t received;
  bool staysParent;
  std::vector<std::string> lines;
};

class ParentsMeeting : public SyncPackets, public ::testing::WithParamInterface<TieBreak> {};

TEST_P(ParentsMeeting, GreaterLastAddressNumberStaysParent) {
  const TieBreak& c = GetParam();
  StartSync(kGroup, c.own);
  logic_.SetMaster(true);
  Tick(kStart + 100);
  const int64_t pageStart = logic_.GetContentStartClock();
  clear();
  Receive(SyncDatagram(
              {.syncId = kGroup, .playTime = 4000, .elapsed = 20000, .ipLastNumber = c.received}),
          kStart + 150);
  EXPECT_EQ(logic_.IsMaster(), c.staysParent);
  EXPECT_EQ(lines(), c.lines);
  // Clocks are adopted only with a later packet, received as a child. A parent
  // that yields reports the other's times at once; one that stays keeps its
  // own (no page length is set here, so both are 0), which its next packets
  // carry to the group.
  EXPECT_EQ(logic_.GetContentStartClock(), pageStart);
  EXPECT_EQ(Entries(logic_.GetMessageToPlayerAfterLoadPacket()),
            c.staysParent ? PlayTime(0, 0) : PlayTime(4000, 20000));
  EXPECT_EQ(logic_.GetNoParentTickCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    TieBreaks, ParentsMeeting,
    ::testing::Values(
        TieBreak{20,
                 10,
                 true,
                 {"[WARN]: Equal SID: 3, IP diff 10 20.", "[LOG]: Another parent will be closed."}},
        TieBreak{10,
                 20,
                 false,
                 {"[WARN]: Equal SID: 3, IP diff 20 10.", "[LOG]: Device is set to child"}},
        // The own broadcast coming back, or another parent ending in the same number.
        TieBreak{37, 37, true, {}}));

TEST_F(SyncPackets, AParentThatStaysKeepsSendingItsOwnPositionAfterHearingALowerOne) {
  // Address number 37, 1900 ms into its second page when a parent numbered 20 is heard.
  StartParent("10000", "30000");
  for (int64_t t = 100; t <= 12000; t += 100) SyncAt(kStart + t);
  Receive(SyncDatagram({.syncId = kGroup, .playTime = 500, .elapsed = 0, .ipLastNumber = 20}),
          kStart + 12050);
  ASSERT_TRUE(logic_.IsMaster());

  const PacketSyncPlay* next = SyncAt(kStart + 12100);
  ASSERT_NE(next, nullptr);
  EXPECT_EQ(next->elapsedTimeFromMaster, 10100);
  EXPECT_EQ(next->playTime, 2000);
  // Its position goes on without a jump through the end of that page.
  SyncAt(kStart + 20200);
  EXPECT_EQ(logic_.GetSyncRecord().elapsedTimeFromMaster, 20200);
}

TEST_F(SyncPackets, ParentsWithEqualLastNumbersBothKeepBroadcasting) {
  PlayTimerLogic other;
  StartSync(kGroup, 37);
  logic_.SetMaster(true);
  other.LoadMessage(PageMessage("START_CLOCK_WITH_SYNC_ID", "3"), kStart);
  other.LoadMessage(PageMessage("SET_DEVICEIP", "192.168.1.37"), kStart);
  other.SetMaster(true);
  for (int64_t t = 100; t <= 1000; t += 100) {
    const Packet* mine = logic_.GetSyncPacket(kStart + t);
    const Packet* theirs = other.GetSyncPacket(kStart + t);
    ASSERT_NE(mine, nullptr);
    ASSERT_NE(theirs, nullptr);
    other.LoadPacket(reinterpret_cast<const char*>(mine), kStart + t);
    logic_.LoadPacket(reinterpret_cast<const char*>(theirs), kStart + t);
  }
  EXPECT_TRUE(logic_.IsMaster());
  EXPECT_TRUE(other.IsMaster());
}

TEST_F(SyncPackets, ShortDatagramReadsItsMissingBytesAsZero) {
  StartSync(kGroup, 37);
  Tick(kStart + 100);
  ReceiveBuffer twelveBytes;
  twelveBytes.Put<int32_t>(0, 12).Put<int32_t>(4, kPacketTypeSyncPlay).Put<int32_t>(8, kGroup);
  Receive(twelveBytes, kStart + 700);
  EXPECT_EQ(logic_.GetContentStartClock(), kStart + 700);
  EXPECT_EQ(logic_.GetFrameScheduleStartClock(), kStart + 700);
  EXPECT_EQ(Entries(logic_.GetMessageToPlayerAfterLoadPacket()), PlayTime(0, 0));
  EXPECT_EQ(logic_.GetNoParentTickCount(), 0);
}

// Whatever a datagram says, no more than one record's bytes are read: a buffer
// that ends right there is enough (the sanitizer build checks the reads).
TEST_F(SyncPackets, ReadsNoMoreThanOneRecordFromTheBuffer) {
  StartSync(kGroup, 37);
  const auto sync = SyncDatagram({.syncId = kGroup, .playTime = 900});
  std::vector<char> exactSync(sync.data(), sync.data() + sizeof(PacketSyncPlay));
  exactSync[0] = 0x7f;  // a size that claims more changes nothing
  logic_.LoadPacket(exactSync.data(), kStart);
  EXPECT_EQ(logic_.GetSyncRecord().playTime, 900);

  const auto monitoring = SetMonitoringDatagram(std::string(32, 'h'), 9, 1);
  std::vector<char> exactMonitoring(monitoring.data(),
                                    monitoring.data() + PacketSetMonitoringMode::kReadBytes);
  logic_.LoadPacket(exactMonitoring.data(), kStart);
  EXPECT_EQ(logic_.GetMonitoringCastIpPort(), std::string(32, 'h') + ":9");

  // Any alignment of the datagram's first byte.
  std::vector<char> shifted(sizeof(PacketSyncPlay) + 1);
  std::copy(sync.data(), sync.data() + sizeof(PacketSyncPlay), shifted.begin() + 1);
  logic_.LoadPacket(shifted.data() + 1, kStart);
  EXPECT_EQ(logic_.GetSyncRecord().playTime, 900);
}

TEST_F(SyncPackets, HostileClocksInADatagramWrapAround) {
  StartSync(kGroup, 37);
  Receive(SyncDatagram({.syncId = kGroup, .playTime = INT64_MIN, .elapsed = INT64_MIN}), kStart);
  EXPECT_EQ(logic_.GetContentStartClock(), kStart + INT64_MIN);
  EXPECT_EQ(logic_.GetFrameScheduleStartClock(), kStart);
  logic_.GetSyncPacket(kStart + 100);
}

}  // namespace
}  // namespace pacewire::testing
