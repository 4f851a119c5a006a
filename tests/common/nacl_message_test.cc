#include "common/nacl_message.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "page_fixture.h"

namespace {

pp::VarDictionary Envelope(const pp::Var& key, const pp::Var& value) {
  pp::VarDictionary message;
  message.Set("key", key);
  message.Set("value", value);
  return message;
}

TEST(NaClMessage, EveryNameHasItsNumber) {
  const std::vector<std::string> names = {
      "SET_TOTAL_PLAYTIME", "STOP_CLOCK", "CREATE_RECEIVER", "CREATE_SENDER",
      "BROADCAST_PLAYTIME", "SET_PORT", "SET_PLAYTIME", "SET_SYNC_ID",
      "START_CLOCK_WITH_SYNC_ID", "SET_TOTAL_SCHEDULE_PLAYTIME", "CLOSE_RECEIVER",
      "PLAYER_TIMESTAMP_INFO", "START_MONITORING", "DEBUGGER", "SET_DEVICEIP",
      "SET_ADJUST_DURATION", "EVENT_TYPE", "SET_SEND_PORT", "MOVE_PAGE_TO",
      "SET_SCHEDULE_START_CLOCK", "SET_ELAPSED_PAGES_PLAYTIME"};
  const NaClMessage table;
  for (size_t number = 0; number < names.size(); ++number) {
    EXPECT_EQ(table.ParseCommandEnum(names[number]), static_cast<int>(number)) << names[number];
  }
  for (const char* unknown : {"set_port", "SET_PORT ", "", "UNKNOWN"}) {
    EXPECT_EQ(table.ParseCommandEnum(unknown), -1) << unknown;
  }
}

using GetMessageTypeTest = LoggedPageTest;

TEST_F(GetMessageTypeTest, LogsNumberNameAndValue) {
  struct Case {
    pp::Var message;
    int number;
    std::string line;
  };
  const std::vector<Case> cases = {
      {Envelope("SET_PORT", "47475"), 5, "[LOG]: [ 5: SET_PORT] 47475"},
      {Envelope("SET_ELAPSED_PAGES_PLAYTIME", ""), 20, "[LOG]: [20: SET_ELAPSED_PAGES_PLAYTIME] "},
      {Envelope("set_port", "47475"), -1, "[LOG]: [-1: set_port] 47475"},
      {Envelope(pp::Var(), "v"), -1, "[LOG]: [-1: ] v"},
      {Envelope(pp::Var(int32_t{5}), "v"), -1, "[LOG]: [-1: ] v"},
      {Envelope("SET_PORT", pp::Var(int32_t{47475})), 5, "[LOG]: [ 5: SET_PORT] "},
      {pp::Var("SET_PORT"), -1, "[LOG]: [-1: ] "},
      {pp::Var(int32_t{8}), -1, "[LOG]: [-1: ] "},
      {pp::Var(true), -1, "[LOG]: [-1: ] "},
      {pp::VarArray(), -1, "[LOG]: [-1: ] "},
  };
  for (const auto& c : cases) {
    clear();
    EXPECT_EQ(GetMessageType(pp::VarDictionary(c.message)), c.number) << c.message.DebugString();
    EXPECT_EQ(lines(), std::vector<std::string>{c.line}) << c.message.DebugString();
  }
}

TEST_F(GetMessageTypeTest, TimeStampCommandIsNeverLogged) {
  EXPECT_EQ(GetMessageType(Envelope("PLAYER_TIMESTAMP_INFO", "2026-12-11 12:00:00")), 11);
  EXPECT_TRUE(lines().empty());
}

TEST_F(GetMessageTypeTest, LongValueIsCutWithTheLine) {
  GetMessageType(Envelope("EVENT_TYPE", std::string(400, 'v')));
  ASSERT_EQ(lines().size(), 1u);
  EXPECT_EQ(lines()[0].size(), 255u);
}

TEST_F(GetMessageTypeTest, PercentSignsInValuesAreNotFormats) {
  GetMessageType(Envelope("EVENT_TYPE", "%s%n%d"));
  EXPECT_EQ(lines(), std::vector<std::string>{"[LOG]: [16: EVENT_TYPE] %s%n%d"});
}

}  // namespace
