// Page commands: their effects on the timer state, their log lines and replies.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "logic_fixture.h"

namespace pacewire::testing {
namespace {

// Everything a page command may change.
struct Snapshot {
  std::vector<uint8_t> syncRecord;
  int64_t contentStartClock;
  int64_t frameScheduleStartClock;
  int32_t adjustDuration;
  bool isMaster, isSync, isTrouble, isMonitoring;
  std::string listenPort, castIpPort, monitoringIpPort, deviceIP;
  bool operator==(const Snapshot&) const = default;
};

Snapshot Take(const PlayTimerLogic& logic) {
  return {WireBytes(&logic.GetSyncRecord().header),
          logic.GetContentStartClock(),
          logic.GetFrameScheduleStartClock(),
          logic.GetAdjustDuration(),
          logic.IsMaster(),
          logic.IsSyncFrameSchedule(),
          logic.IsDeviceIpTrouble(),
          logic.IsMonitoringMode(),
          logic.GetSyncListenPort(),
          logic.GetSyncCastIpPort(),
          logic.GetMonitoringCastIpPort(),
          logic.GetDeviceIP()};
}

using PlayerCommands = LogicTest;

TEST_F(PlayerCommands, DefaultsBeforeAnyCommand) {
  EXPECT_EQ(logic_.GetSyncListenPort(), "47475");
  EXPECT_EQ(logic_.GetSyncCastIpPort(), "255.255.255.255:47475");
  EXPECT_EQ(logic_.GetMonitoringCastIpPort(), "");
  EXPECT_EQ(Entries(logic_.GetMessageToPlayerAfterLoadMessage()), kNothing);
  EXPECT_FALSE(logic_.IsMaster());
  EXPECT_FALSE(logic_.IsSyncFrameSchedule());
  EXPECT_EQ(logic_.GetSyncRecord().syncId, -1);
}

TEST_F(PlayerCommands, CommandsThatThisModuleDoesNotHandleChangeNothing) {
  struct Case {
    std::string name;
    int number;
  };
  const std::vector<Case> cases = {{"STOP_CLOCK", 1},
                                   {"CREATE_RECEIVER", 2},
                                   {"CREATE_SENDER", 3},
                                   {"BROADCAST_PLAYTIME", 4},
                                   {"SET_PLAYTIME", 6},
                                   {"SET_SYNC_ID", 7},
                                   {"CLOSE_RECEIVER", 10},
                                   {"START_MONITORING", 12},
                                   {"DEBUGGER", 13},
                                   {"EVENT_TYPE", 16},
                                   {"SET_SEND_PORT", 17},
                                   {"set_port", -1},
                                   {"", -1}};
  StartSync(3, 37);
  for (const Case& c : cases) {
    Command("START_CLOCK_WITH_SYNC_ID", "3");  // leaves a reply stored
    const Snapshot before = Take(logic_);
    clear();
    Command(c.name, "v 100%");
    EXPECT_EQ(Take(logic_), before) << c.name;
    EXPECT_EQ(Entries(logic_.GetMessageToPlayerAfterLoadMessage()), kNothing) << c.name;
    EXPECT_EQ(lines().back(), "[ERR]: [" + std::to_string(c.number) +
                                  "] Unknown message is delivered. Check Pacewire version. "
                                  "message: v 100%")
        << c.name;
  }
}

TEST_F(PlayerCommands, HandledCommandsChangeTheirOwnStateOnly) {
  struct Case {
    std::string name;
    std::string value;
    void (*change)(Snapshot&, const PlayTimerLogic&);
  };
  const std::vector<Case> cases = {
      {"SET_TOTAL_PLAYTIME", "15000",
       [](Snapshot& s, const PlayTimerLogic& l) {
         s.syncRecord = WireBytes(&l.GetSyncRecord().header);
         EXPECT_EQ(l.GetSyncRecord().currentPageDuration, 15000);
       }},
      {"SET_PORT", "50001",
       [](Snapshot& s, const PlayTimerLogic&) {
         s.listenPort = "50001";
         s.castIpPort = "192.168.0.255:50001";
       }},
      {"SET_TOTAL_SCHEDULE_PLAYTIME", "60000",
       [](Snapshot& s, const PlayTimerLogic& l) {
         s.syncRecord = WireBytes(&l.GetSyncRecord().header);
         EXPECT_EQ(l.GetSyncRecord().frameScheduleDuration, 60000);
       }},
      {"PLAYER_TIMESTAMP_INFO", "12:00:00", [](Snapshot&, const PlayTimerLogic&) {}},
      {"SET_ADJUST_DURATION", "-250",
       [](Snapshot& s, const PlayTimerLogic&) { s.adjustDuration = -250; }},
      {"MOVE_PAGE_TO", "-2000",
       [](Snapshot& s, const PlayTimerLogic&) {
         s.contentStartClock += 2000;
         s.frameScheduleStartClock += 2000;
       }},
      {"SET_ELAPSED_PAGES_PLAYTIME", "30000",
       [](Snapshot& s, const PlayTimerLogic& l) {
         s.syncRecord = WireBytes(&l.GetSyncRecord().header);
         EXPECT_EQ(l.GetSyncRecord().elapsedTimeFromMaster, 30000);
       }},
  };
  for (const Case& c : cases) {
    PlayTimerLogic fresh;
    std::swap(logic_, fresh);
    StartSync(3, 37);
    Snapshot expected = Take(logic_);
    Command(c.name, c.value);
    c.change(expected, logic_);
    EXPECT_EQ(Take(logic_), expected) << c.name;
    EXPECT_EQ(Entries(logic_.GetMessageToPlayerAfterLoadMessage()), kNothing) << c.name;
  }
}

TEST_F(PlayerCommands, TotalPlaytimeLogsTheTimerAndDeviceLines) {
  StartSync(3, 37);
  logic_.SetMaster(true);
  clear();
  Command("SET_TOTAL_PLAYTIME", "15000");
  EXPECT_EQ(lines(),
            (std::vector<std::string>{
                "[LOG]: [ 0: SET_TOTAL_PLAYTIME] 15000",
                "[LOG]: [Parent][SID: 3][37][0 ms], currentPageDuration = 15000 ms, "
                "elapsedTimeFromMaster = 0 ms, frameScheduleDuration = 0 ms",
                "[LOG]: [NaCl-21.0802.2] SID: 3, P(47475), IP: 37, M: true, total: 15000 ms",
            }));
}

TEST_F(PlayerCommands, ThirtyTwoBitFieldsKeepTheLow32BitsOfTheNumber) {
  struct Case {
    std::string value;
    int32_t expected;
    bool overflowLine;
  };
  const std::vector<Case> cases = {
      {"15000", 15000, false},
      {"4294967296", 0, false},
      {"2147483648", INT32_MIN, false},
      {"-2147483649", INT32_MAX, false},
      {"12abc", 12, false},
      {"abc", 0, false},
      {"", 0, false},
      {"99999999999999999999", -1, true},  // saturates at the 64-bit maximum
      {"-99999999999999999999", 0, true},  // saturates at the 64-bit minimum
  };
  const std::vector<std::pair<std::string, int32_t (*)(const PlayTimerLogic&)>> fields = {
      {"SET_TOTAL_PLAYTIME",
       [](const PlayTimerLogic& l) { return l.GetSyncRecord().currentPageDuration; }},
      {"SET_TOTAL_SCHEDULE_PLAYTIME",
       [](const PlayTimerLogic& l) { return l.GetSyncRecord().frameScheduleDuration; }},
      {"SET_ADJUST_DURATION", [](const PlayTimerLogic& l) { return l.GetAdjustDuration(); }},
  };
  for (const auto& [command, read] : fields) {
    for (const Case& c : cases) {
      clear();
      Command(command, c.value);
      EXPECT_EQ(read(logic_), c.expected) << command << " " << c.value;
      EXPECT_EQ(Contains("[ERR]: Getting value occurs overflow: " + c.value), c.overflowLine)
          << command << " " << c.value;
    }
  }
}

TEST_F(PlayerCommands, ElapsedPagesPlaytimeSaturatesWithoutAnOverflowLine) {
  Command("SET_ELAPSED_PAGES_PLAYTIME", "99999999999999999999");
  EXPECT_EQ(logic_.GetSyncRecord().elapsedTimeFromMaster, LLONG_MAX);
  Command("SET_ELAPSED_PAGES_PLAYTIME", "-250");
  EXPECT_EQ(logic_.GetSyncRecord().elapsedTimeFromMaster, -250);
  for (const auto& line : lines()) EXPECT_EQ(line.find("overflow"), std::string::npos) << line;
}

TEST_F(PlayerCommands, StartClockWithSyncIdStartsTheScheduleAndAsksForTheDeviceIp) {
  struct Case {
    std::string value;
    int32_t syncId;
    bool sync;
  };
  const std::vector<Case> cases = {
      {"3", 3, true},
      {"0", 0, true},
      {"abc", 0, true},
      {"4294967296", 0, true},
      {"-1", -1, false},
      {"4294967295", -1, false},
      {"2147483648", INT32_MIN, false},
  };
  for (const Case& c : cases) {
    // Leftovers of an earlier schedule, which the start clears.
    Command("SET_ELAPSED_PAGES_PLAYTIME", "777", 5);
    Command("SET_ADJUST_DURATION", "55", 5);
    logic_.GetSyncPacket(500);
    clear();
    Command("START_CLOCK_WITH_SYNC_ID", c.value, kStart);
    const PacketSyncPlay& record = logic_.GetSyncRecord();
    EXPECT_EQ(record.syncId, c.syncId) << c.value;
    EXPECT_EQ(logic_.IsSyncFrameSchedule(), c.sync) << c.value;
    EXPECT_EQ(record.playTime, 0);
    EXPECT_EQ(record.elapsedTimeFromMaster, 0);
    EXPECT_EQ(logic_.GetAdjustDuration(), 0);
    EXPECT_EQ(logic_.GetContentStartClock(), kStart);
    EXPECT_EQ(logic_.GetFrameScheduleStartClock(), kStart);
    EXPECT_EQ(lines().back(), c.sync ? "[LOG]: Sync FrameSchedule is started."
                                     : "[LOG]: Non-Sync FrameSchedule is started.")
        << c.value;
    EXPECT_EQ(Entries(logic_.GetMessageToPlayerAfterLoadMessage()), kDeviceIpRequest);
  }
}

TEST_F(PlayerCommands, NegativeSyncIdMakesAParentAChildFirst) {
  StartSync(3, 37);
  logic_.SetMaster(true);
  clear();
  Command("START_CLOCK_WITH_SYNC_ID", "-1");
  EXPECT_FALSE(logic_.IsMaster());
  EXPECT_EQ(lines(), (std::vector<std::string>{"[LOG]: [ 8: START_CLOCK_WITH_SYNC_ID] -1",
                                               "[LOG]: Device is set to child",
                                               "[LOG]: Non-Sync FrameSchedule is started."}));
}

TEST_F(PlayerCommands, SyncIdStartKeepsTheRoleDurationsAndAddress) {
  StartSync(3, 37);
  Command("SET_TOTAL_PLAYTIME", "15000");
  logic_.SetMaster(true);
  Command("START_CLOCK_WITH_SYNC_ID", "4");
  EXPECT_TRUE(logic_.IsMaster());
  EXPECT_EQ(logic_.GetSyncRecord().currentPageDuration, 15000);
  EXPECT_EQ(logic_.GetSyncRecord().ipLastNumber, 37);
}

TEST_F(PlayerCommands, DeviceIpSetsTheBroadcastDestinationAndTheAddressNumber) {
  Command("SET_DEVICEIP", "192.168.10.37");
  EXPECT_EQ(logic_.GetSyncCastIpPort(), "192.168.10.255:47475");
  EXPECT_EQ(logic_.GetSyncRecord().ipLastNumber, 37);
  EXPECT_FALSE(logic_.IsDeviceIpTrouble());
  EXPECT_EQ(lines().back(),
            "[LOG]: [NaCl-21.0802.2] SID: -1, P(47475), IP: 37, M: false, total: 0 ms");
}

TEST_F(PlayerCommands, NegativeDeviceIpIsTroubleAndKeepsTheBroadcastDestination) {
  Command("SET_DEVICEIP", "192.168.10.37");
  logic_.SetMaster(true);
  clear();
  Command("SET_DEVICEIP", "-1");
  EXPECT_TRUE(logic_.IsDeviceIpTrouble());
  EXPECT_FALSE(logic_.IsMaster());
  EXPECT_EQ(logic_.GetSyncCastIpPort(), "192.168.10.255:47475");
  EXPECT_EQ(logic_.GetSyncRecord().ipLastNumber, 37);
  EXPECT_EQ(logic_.GetDeviceIP(), "-1");
  EXPECT_EQ(lines(), (std::vector<std::string>{"[LOG]: [14: SET_DEVICEIP] -1",
                                               "[LOG]: Device is set to child",
                                               "[ERR]: Trouble to get deviceIP."}));
  Command("SET_DEVICEIP", "");  // an empty text reads as 0: usable
  EXPECT_FALSE(logic_.IsDeviceIpTrouble());
}

TEST_F(PlayerCommands, ScheduleStartClockPlacesThePageAfterTheElapsedPages) {
  Command("START_CLOCK_WITH_SYNC_ID", "-1", 42);
  Command("SET_ELAPSED_PAGES_PLAYTIME", "30000");
  clear();
  Command("SET_SCHEDULE_START_CLOCK", "5000");
  EXPECT_EQ(lines().back(), "[LOG]: curClock: 42 -> 35000(5000)");
  EXPECT_EQ(logic_.GetContentStartClock(), 35000);
  EXPECT_EQ(logic_.GetFrameScheduleStartClock(), 5000);
}

// Numbers at the 64-bit limits are logged as overflows and used; the clock
// arithmetic wraps around instead of overflowing.
TEST_F(PlayerCommands, ClockCommandsAtThe64BitLimitsWrapAround) {
  Command("START_CLOCK_WITH_SYNC_ID", "-1", kStart);
  Command("MOVE_PAGE_TO", "-9223372036854775808");
  EXPECT_TRUE(Contains("[ERR]: Getting value occurs overflow: -9223372036854775808"));
  EXPECT_EQ(logic_.GetContentStartClock(), kStart + LLONG_MIN);
  EXPECT_EQ(logic_.GetFrameScheduleStartClock(), kStart + LLONG_MIN);
  logic_.GetSyncPacket(kStart);  // now minus that start wraps as well
  EXPECT_EQ(logic_.GetSyncRecord().playTime, LLONG_MIN);

  Command("SET_ELAPSED_PAGES_PLAYTIME", "30000");
  clear();
  Command("SET_SCHEDULE_START_CLOCK", "9223372036854775807");
  EXPECT_EQ(lines().back(), "[LOG]: curClock: " + std::to_string(kStart + LLONG_MIN) +
                                " -> -9223372036854745809(9223372036854775807)");
  EXPECT_EQ(logic_.GetContentStartClock(), LLONG_MIN + 29999);
  logic_.GetSyncPacket(kStart);
}

TEST_F(PlayerCommands, MessageThatIsNotADictionaryRepeatsThePreviousReply) {
  Command("START_CLOCK_WITH_SYNC_ID", "3");
  clear();
  logic_.LoadMessage(pp::Var("hello"), kStart);
  EXPECT_EQ(lines(),
            (std::vector<std::string>{
                "[LOG]: [-1: ] ",
                "[ERR]: NaCl message type should be pp::VarDictionary\n\t getting MSG: hello",
            }));
  EXPECT_EQ(Entries(logic_.GetMessageToPlayerAfterLoadMessage()), kDeviceIpRequest);

  for (const pp::Var& other :
       {pp::Var(5), pp::Var(true), pp::Var(pp::Var::Null()), pp::Var(), pp::Var(pp::VarArray())}) {
    clear();
    logic_.LoadMessage(other, kStart);
    EXPECT_EQ(lines().back(),
              "[ERR]: NaCl message type should be pp::VarDictionary\n\t getting MSG: ");
  }
  EXPECT_EQ(Entries(logic_.GetMessageToPlayerAfterLoadMessage()), kDeviceIpRequest);
}

TEST_F(PlayerCommands, PageTextWithPerCentSignsIsNeverAFormat) {
  clear();
  logic_.LoadMessage(pp::Var("%s%s%n"), kStart);
  EXPECT_EQ(lines().back(),
            "[ERR]: NaCl message type should be pp::VarDictionary\n\t getting MSG: %s%s%n");
}

}  // namespace
}  // namespace pacewire::testing
