// How a Cuebell device keeps its receiver and its sender in line with the
// ports the page sets: a change is seen at the next tick, which closes the
// socket, and the new one is made thirty ticks after that tick; a receiver
// lost to a failed reception is made again at the upkeep's next re-check.
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

using CuebellSocketUpkeep = CuebellOnTheLan;

constexpr uint16_t kOtherPort = 6000;

TEST_F(CuebellSocketUpkeep, ANewSendPortIsUsedThirtyTicksAfterTheTickThatSawIt) {
  neighbour.Listen(kEventPort);
  neighbour.Listen(kOtherPort);
  PageSends("DEBUGGER");
  PageSends("EVENT_TYPE", "ring");
  RunUntil(Tick(40) + 50 * kMs);

  // The message itself still goes to the old destination: the sender is
  // rebuilt only by the next tick.
  PageSends("SET_SEND_PORT", "6000");
  EXPECT_THAT(neighbour.ReceivedOn(kEventPort), ElementsAre("ring"));

  RunUntil(Tick(41) + 10 * kMs);
  EXPECT_EQ(TimeOfLine("[LOG]: IP Port is changed. Sender Socket will be closed."), Tick(41));
  EXPECT_EQ(TimeOfLine("UDPSender: Closed connection."), Tick(41));

  // Meanwhile there is no sender: page events are not sent at all.
  RunUntil(Tick(70) + 50 * kMs);
  PageSends("STOP_CLOCK");
  EXPECT_THAT(neighbour.ReceivedOn(kOtherPort), IsEmpty());
  EXPECT_THAT(neighbour.ReceivedOn(kEventPort), ElementsAre("ring"));

  RunUntil(Tick(71) + 10 * kMs);
  EXPECT_EQ(TimeOfLine("UDPSender: Resolving ... host name: 255.255.255.255, port: 6000 0"),
            Tick(71));
  PageSends("STOP_CLOCK");
  EXPECT_THAT(neighbour.ReceivedOn(kOtherPort), ElementsAre("ring"));
  EXPECT_THAT(neighbour.ReceivedOn(kEventPort), ElementsAre("ring"));
}

struct UnchangedPortCase {
  const char* name;
  const char* command;
  // What the message itself logs, and nothing more should follow.
  std::string envelope_line;
  std::string own_line;
};

class CuebellUnchangedPort : public CuebellSocketUpkeep,
                             public ::testing::WithParamInterface<UnchangedPortCase> {};

TEST_P(CuebellUnchangedPort, ThePortAlreadyInUseChangesNothing) {
  RunUntilSocketsAreMade();
  const size_t before = cuebell.page().posted().size();

  PageSends(GetParam().command, "55555");
  RunFor(4000 * kMs);  // past the upkeep's next re-check too

  EXPECT_THAT(LinesFrom(before), ElementsAre(GetParam().envelope_line, GetParam().own_line));
  NeighbourSends("still listening");
  EXPECT_THAT(EventsOnPage(), ElementsAre("still listening"));
}

INSTANTIATE_TEST_SUITE_P(
    Commands, CuebellUnchangedPort,
    ::testing::Values(UnchangedPortCase{"ListenPort", "SET_PORT", "[LOG]: [ 5: SET_PORT] 55555",
                                        "[LOG]: Cuebell get new port : 55555"},
                      UnchangedPortCase{"SendPort", "SET_SEND_PORT",
                                        "[LOG]: [17: SET_SEND_PORT] 55555",
                                        "[LOG]: Trialhorn get new port : 55555"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CuebellSocketUpkeep, AnEmptyDatagramClosesTheReceiverUntilTheUpkeepMakesANewOne) {
  RunUntilSocketsAreMade();  // the receiver was made on tick 31

  NeighbourSends("");
  EXPECT_THAT(cuebell.page().LinesContaining("ReceiveFrom failed"),
              ElementsAre("[ERR]: NaClInstance: Client ReceiveFrom failed: 0"));
  EXPECT_THAT(cuebell.page().LinesContaining("UDPReceiver: Closed connection."), SizeIs(1));

  NeighbourSends("unheard");
  RunUntil(Tick(62) - 50 * kMs);
  NeighbourSends("still unheard");
  EXPECT_EQ(DatagramsUnheardOn(kEventPort), 2u);

  // Tick 62 is the receiver upkeep's next re-check, 31 ticks after tick 31.
  RunUntil(Tick(62) + 10 * kMs);
  EXPECT_EQ(TimeOfLine("UDPReceiver: Binding ...: 0.0.0.0:55555", Tick(32)), Tick(62));
  NeighbourSends("heard again");
  EXPECT_THAT(EventsOnPage(), ElementsAre("heard again"));
}

TEST_F(CuebellSocketUpkeep, ANewListenPortIsBoundThirtyTicksAfterTheTickThatSawIt) {
  RunUntil(Tick(40) + 50 * kMs);

  PageSends("SET_PORT", "6000");
  RunUntil(Tick(41) + 10 * kMs);
  EXPECT_EQ(TimeOfLine("[LOG]: Listen Port is changed. Receiver Socket will be closed."), Tick(41));
  NeighbourSends("to the old port");
  EXPECT_EQ(DatagramsUnheardOn(kEventPort), 1u);

  // The count restarts at the change: tick 62, the re-check that the first
  // receiver's rhythm would give, makes nothing yet.
  RunUntil(Tick(71) - 50 * kMs);
  NeighbourSends("too early", kOtherPort);
  EXPECT_EQ(DatagramsUnheardOn(kOtherPort), 1u);

  RunUntil(Tick(71) + 10 * kMs);
  EXPECT_EQ(TimeOfLine("UDPReceiver: Binding ...: 0.0.0.0:6000"), Tick(71));
  NeighbourSends("on the new port", kOtherPort);
  EXPECT_THAT(EventsOnPage(), ElementsAre("on the new port"));
}

}  // namespace
}  // namespace scenario
