#include "cuebell/event_logic.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "page_fixture.h"

namespace cuebell {
namespace {

pp::VarDictionary Command(const std::string& key, const std::string& value) {
  pp::VarDictionary message;
  message.Set("key", pp::Var(key));
  message.Set("value", pp::Var(value));
  return message;
}

class EventLogicTest : public LoggedPageTest {
 protected:
  std::string EventText() const {
    return pp::VarDictionary(logic_.GetExternalMessageToPlayerAfterLoadPacket())
        .Get("EVENT_TYPE")
        .AsString();
  }
  void Receive(const std::string& bytes) { logic_.LoadPacket(bytes.data(), bytes.size(), 0); }

  EventLogic logic_;
};

TEST_F(EventLogicTest, StartsListeningOn55555WithSendingOff) {
  EXPECT_EQ(logic_.GetEventListenPort(), "55555");
  EXPECT_EQ(logic_.GetEventSendingIpPort(), "255.255.255.255:55555");
  EXPECT_EQ(logic_.GetPacket(0), nullptr);
  const auto message = logic_.GetExternalMessageToPlayerAfterLoadPacket();
  EXPECT_EQ(message.GetKeys().GetLength(), 1u);
  EXPECT_EQ(EventText(), "");
}

TEST_F(EventLogicTest, CommandsChangeTheirOwnSettingWithTheirLogLines) {
  struct Case {
    std::string key, value;
    std::vector<std::string> lines;
    std::string listen_port, sending_ip_port, event_text;
  };
  const std::string long_port(30, '7');
  const std::vector<Case> cases = {
      {"EVENT_TYPE",
       "door opened",
       {"[LOG]: [16: EVENT_TYPE] door opened",
        "[LOG]: Trialhorn set eventData to getting message: door opened"},
       "55555",
       "255.255.255.255:55555",
       "door opened"},
      {"SET_PORT",
       "6000",
       {"[LOG]: [ 5: SET_PORT] 6000", "[LOG]: Cuebell get new port : 6000"},
       "6000",
       "255.255.255.255:55555",
       ""},
      {"SET_SEND_PORT",
       "6000",
       {"[LOG]: [17: SET_SEND_PORT] 6000", "[LOG]: Trialhorn get new port : 6000"},
       "55555",
       "255.255.255.255:6000",
       ""},
      {"SET_SEND_PORT",
       long_port,
       {"[LOG]: [17: SET_SEND_PORT] " + long_port, "[LOG]: Trialhorn get new port : " + long_port},
       "55555",
       "255.255.255.255:" + std::string(23, '7'),
       ""},  // 39 bytes in all
      {"SET_PORT",
       "",
       {"[LOG]: [ 5: SET_PORT] ", "[LOG]: Cuebell get new port : "},
       "",
       "255.255.255.255:55555",
       ""},
      {"STOP_CLOCK",
       "x",
       {"[LOG]: [ 1: STOP_CLOCK] x", "[LOG]: type:  1"},
       "55555",
       "255.255.255.255:55555",
       ""},
      {"PLAYER_TIMESTAMP_INFO", "t", {"[LOG]: type: 11"}, "55555", "255.255.255.255:55555", ""},
      {"SET_TOTAL_PLAYTIME",
       "5",
       {"[LOG]: [ 0: SET_TOTAL_PLAYTIME] 5", "[LOG]: type:  0"},
       "55555",
       "255.255.255.255:55555",
       ""},
      {"nope",
       "v",
       {"[LOG]: [-1: nope] v", "[LOG]: type: -1"},
       "55555",
       "255.255.255.255:55555",
       ""},
  };
  for (const auto& c : cases) {
    EventLogic logic;
    clear();
    logic.LoadMessage(Command(c.key, c.value), 0);
    EXPECT_EQ(lines(), c.lines) << c.key;
    EXPECT_EQ(logic.GetEventListenPort(), c.listen_port) << c.key;
    EXPECT_EQ(logic.GetEventSendingIpPort(), c.sending_ip_port) << c.key;
    EXPECT_EQ(logic.GetEventSendingIpPort().size() <= 39, true);
    EXPECT_EQ(pp::VarDictionary(logic.GetExternalMessageToPlayerAfterLoadPacket())
                  .Get("EVENT_TYPE")
                  .AsString(),
              c.event_text)
        << c.key;
    EXPECT_EQ(logic.GetPacket(0), nullptr) << c.key;
  }
}

TEST_F(EventLogicTest, NonDictionaryMessageIsAnUnknownCommand) {
  logic_.LoadMessage(pp::Var("hello"), 0);
  EXPECT_EQ(lines(), (std::vector<std::string>{"[LOG]: [-1: ] ", "[LOG]: type: -1"}));
}

TEST_F(EventLogicTest, EventTextKeepsAtMost255Bytes) {
  logic_.LoadMessage(Command("EVENT_TYPE", std::string(300, 'e')), 0);
  EXPECT_EQ(EventText(), std::string(255, 'e'));
  logic_.LoadMessage(Command("EVENT_TYPE", ""), 0);
  EXPECT_EQ(EventText(), "");
}

TEST_F(EventLogicTest, DebuggerSwitchesSendingOnForGood) {
  logic_.LoadMessage(Command("DEBUGGER", "anything"), 0);
  EXPECT_EQ(lines(), std::vector<std::string>{"[LOG]: [13: DEBUGGER] anything"});
  ASSERT_NE(logic_.GetPacket(0), nullptr);
  EXPECT_STREQ(logic_.GetPacket(0)->eventData, "");  // an empty text is handed out too
  logic_.LoadMessage(Command("DEBUGGER", ""), 0);
  for (const char* key : {"SET_PORT", "SET_SEND_PORT", "EVENT_TYPE", "STOP_CLOCK"}) {
    logic_.LoadMessage(Command(key, "1"), 0);
  }
  EXPECT_TRUE(logic_.IsDebuggerMode());
}

TEST_F(EventLogicTest, DatagramTextStopsAtTheFirstZeroByte) {
  Receive(std::string("abc\0def", 7));
  EXPECT_EQ(EventText(), "abc");
  EXPECT_EQ(lines(), std::vector<std::string>{"[LOG]: abc"});
}

TEST_F(EventLogicTest, FullDatagramWithoutZeroKeepsItsFirst255Bytes) {
  // The receive buffer holds 1024 datagram bytes and one terminating zero.
  std::string buffer(1025, '\0');
  for (size_t i = 0; i < 1024; ++i) buffer[i] = static_cast<char>('a' + i % 26);
  logic_.LoadPacket(buffer.data(), 1024, 0);
  EXPECT_EQ(EventText(), buffer.substr(0, 255));
  ASSERT_EQ(lines().size(), 1u);
  EXPECT_EQ(lines()[0], "[LOG]: " + buffer.substr(0, 248));  // the log line is cut at 255 bytes
}

TEST_F(EventLogicTest, PercentSignsAreRelayedUnchanged) {
  Receive("50% off %s %n %d");
  EXPECT_EQ(EventText(), "50% off %s %n %d");
  EXPECT_EQ(lines(), std::vector<std::string>{"[LOG]: 50% off %s %n %d"});
}

TEST_F(EventLogicTest, CutInsideAMultiByteCharacterKeepsTheBytes) {
  std::string text(254, 'x');
  text += "\xc3\xa9";  // é straddles the 255-byte cut
  Receive(text);
  const std::string kept = EventText();
  ASSERT_EQ(kept.size(), 255u);
  EXPECT_EQ(static_cast<unsigned char>(kept.back()), 0xc3);
}

TEST_F(EventLogicTest, ReceivedTextAndPageEventOverwriteEachOther) {
  logic_.LoadMessage(Command("DEBUGGER", ""), 0);
  logic_.LoadMessage(Command("EVENT_TYPE", "from page"), 0);
  EXPECT_STREQ(logic_.GetPacket(0)->eventData, "from page");
  Receive("from network");
  EXPECT_STREQ(logic_.GetPacket(0)->eventData, "from network");
}

}  // namespace
}  // namespace cuebell
