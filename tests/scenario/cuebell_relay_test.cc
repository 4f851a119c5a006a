// Events relayed by a Cuebell device in both directions: every event datagram
// from the network becomes one message to the page, and once the page has
// sent "DEBUGGER", every page message is followed by one broadcast of the
// current event text.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/scenario/cuebell_fixture.h"

namespace scenario {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::SizeIs;

using CuebellRelay = CuebellOnTheLan;

// Bytes that a text reader would stumble on: no zero, every other value.
std::string BytesWithoutZero(size_t count) {
  std::string bytes(count, '\0');
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<char>(1 + i % 255);
  return bytes;
}

// ---- from the network to the page -------------------------------------------

class CuebellRelayWithSending : public CuebellRelay, public ::testing::WithParamInterface<bool> {};

TEST_P(CuebellRelayWithSending, AnEventDatagramGivesThePageExactlyOneEventMessage) {
  const bool sending_on = GetParam();
  if (sending_on) PageSends("DEBUGGER");
  RunUntilSocketsAreMade();
  const size_t sent_before = DatagramsSentByDevice().size();

  NeighbourSends("abc");
  RunFor(1000 * kMs);

  EXPECT_THAT(EventsOnPage(), ElementsAre("abc"));
  EXPECT_EQ(DatagramsSentByDevice().size(), sent_before) << "a reception is never sent on";
}

INSTANTIATE_TEST_SUITE_P(SendingOffAndOn, CuebellRelayWithSending, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "SendingOn" : "SendingOff"; });

struct DatagramCase {
  const char* name;
  std::string datagram;
  std::string event_text;
};

class CuebellDatagramText : public CuebellRelay,
                            public ::testing::WithParamInterface<DatagramCase> {};

TEST_P(CuebellDatagramText, ReachesThePageAsTheTextBeforeAnyZeroByteCutTo255Bytes) {
  RunUntilSocketsAreMade();

  NeighbourSends(GetParam().datagram);

  EXPECT_THAT(EventsOnPage(), ElementsAre(GetParam().event_text));
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, CuebellDatagramText,
    ::testing::Values(
        DatagramCase{"PlainText", "abc", "abc"},
        DatagramCase{"PercentSigns", "100% sure: %s %n %d%%", "100% sure: %s %n %d%%"},
        DatagramCase{"NotUtf8", "\xff\xfe\x80 caf\xc3", "\xff\xfe\x80 caf\xc3"},
        DatagramCase{"ZeroByteInside", std::string("bell\0tail", 9), "bell"},
        DatagramCase{"FullReceiveBufferWithoutZero", BytesWithoutZero(1024), BytesWithoutZero(255)},
        DatagramCase{"LongerThanTheReceiveBuffer", BytesWithoutZero(3000), BytesWithoutZero(255)},
        DatagramCase{"CutInsideACharacter", std::string(254, 'a') + "\xc3\xa9",
                     std::string(254, 'a') + "\xc3"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CuebellRelay,
       TheFirstEventAfterTheReceiverIsMadeIsHandledOnMainThreadLaterOnesOnReceivingThread) {
  RunUntilSocketsAreMade();

  NeighbourSends("first");
  NeighbourSends("second");
  NeighbourSends("third");

  std::vector<std::string> loops;
  for (const auto& posted : cuebell.page().posted()) {
    if (pp::VarDictionary(posted.value).HasKey("EVENT_TYPE")) loops.push_back(posted.loop);
  }
  EXPECT_THAT(loops, ElementsAre("10.0.0.7 mainThread", "10.0.0.7 receivingThread",
                                 "10.0.0.7 receivingThread"));
  EXPECT_THAT(EventsOnPage(), ElementsAre("first", "second", "third"));
}

TEST_F(CuebellRelay, AnEventDatagramIsLoggedAsItIsPercentSignsAndAll) {
  RunUntilSocketsAreMade();

  NeighbourSends("50% off %s");

  EXPECT_THAT(cuebell.page().LinesContaining("off"), ElementsAre("[LOG]: 50% off %s"));
}

// ---- from the page to the network -------------------------------------------

TEST_F(CuebellRelay, AfterDebuggerEveryPageMessageBroadcastsTheCurrentEventOnce) {
  neighbour.Listen(kEventPort);
  RunUntilSocketsAreMade();
  PageSends("EVENT_TYPE", "ring");
  ASSERT_THAT(DatagramsSentByDevice(), IsEmpty()) << "sending is not on yet";

  PageSends("DEBUGGER");
  PageSends("EVENT_TYPE", "chime");
  PageSends("STOP_CLOCK");
  PageSends("SET_PORT", "55555");
  PageSends("PLAYER_TIMESTAMP_INFO", "12");
  PageSends("NO_SUCH_COMMAND", "x");
  PageSends("DEBUGGER", "again");
  cuebell.page().Send(pp::Var("not even a dictionary"));
  RunFor(10 * kMs);

  EXPECT_THAT(neighbour.ReceivedOn(kEventPort),
              ElementsAre("ring", "chime", "chime", "chime", "chime", "chime", "chime", "chime"));
  const auto sent = DatagramsSentByDevice();
  ASSERT_THAT(sent, SizeIs(8));
  for (const auto& datagram : sent) {
    EXPECT_EQ(datagram.to_address, sim::kLimitedBroadcast);
    EXPECT_EQ(datagram.to_port, kEventPort);
  }
}

TEST_F(CuebellRelay, AReceivedEventIsWhatTheNextPageMessageBroadcasts) {
  neighbour.Listen(kEventPort);
  PageSends("DEBUGGER");
  PageSends("EVENT_TYPE", "from the page");
  RunUntilSocketsAreMade();

  NeighbourSends("from the network");
  PageSends("STOP_CLOCK");

  EXPECT_THAT(neighbour.ReceivedOn(kEventPort), ElementsAre("from the network"));
}

struct QuietEventCase {
  const char* name;
  bool datagram_arrives_meanwhile;
  std::string sent_after_debugger;
};

class CuebellQuietEvent : public CuebellRelay,
                          public ::testing::WithParamInterface<QuietEventCase> {};

TEST_P(CuebellQuietEvent, APageEventWithoutDebuggerIsKeptNotSentUntilAReceptionReplacesIt) {
  neighbour.Listen(kEventPort);
  RunUntilSocketsAreMade();

  PageSends("EVENT_TYPE", "kept quiet");
  RunFor(1000 * kMs);
  EXPECT_THAT(DatagramsSentByDevice(), IsEmpty());
  EXPECT_THAT(neighbour.ReceivedOn(kEventPort), IsEmpty());

  if (GetParam().datagram_arrives_meanwhile) NeighbourSends("overwritten");
  PageSends("DEBUGGER");
  EXPECT_THAT(neighbour.ReceivedOn(kEventPort), ElementsAre(GetParam().sent_after_debugger));
}

INSTANTIATE_TEST_SUITE_P(Texts, CuebellQuietEvent,
                         ::testing::Values(QuietEventCase{"NothingMeanwhile", false, "kept quiet"},
                                           QuietEventCase{"DatagramMeanwhile", true,
                                                          "overwritten"}),
                         [](const auto& info) { return std::string(info.param.name); });

struct PageEventCase {
  const char* name;
  std::string page_text;
  std::string datagram;
};

class CuebellPageEventBytes : public CuebellRelay,
                              public ::testing::WithParamInterface<PageEventCase> {};

TEST_P(CuebellPageEventBytes, LeaveAsTheyCameCutTo255Bytes) {
  neighbour.Listen(kEventPort);
  PageSends("DEBUGGER");
  RunUntilSocketsAreMade();

  PageSends("EVENT_TYPE", GetParam().page_text);

  EXPECT_THAT(neighbour.ReceivedOn(kEventPort), ElementsAre(GetParam().datagram));
}

INSTANTIATE_TEST_SUITE_P(Texts, CuebellPageEventBytes,
                         ::testing::Values(PageEventCase{"PercentSigns", "%s%n 100%", "%s%n 100%"},
                                           PageEventCase{"NotUtf8", "\xff\xfe\x80", "\xff\xfe\x80"},
                                           PageEventCase{"Long", std::string(300, 'x'),
                                                         std::string(255, 'x')}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CuebellRelay,
       DebuggerBeforeAnyEventBroadcastsAnEmptyDatagramWhichItsOwnReceiverTakesAsAFailure) {
  neighbour.Listen(kEventPort);
  RunUntilSocketsAreMade();

  PageSends("DEBUGGER");

  EXPECT_THAT(neighbour.ReceivedOn(kEventPort), ElementsAre(""));
  // The broadcast reaches the device's own event port too.
  EXPECT_THAT(cuebell.page().LinesContaining("ReceiveFrom failed"),
              ElementsAre("[ERR]: NaClInstance: Client ReceiveFrom failed: 0"));
  EXPECT_THAT(EventsOnPage(), IsEmpty());
}

}  // namespace
}  // namespace scenario
