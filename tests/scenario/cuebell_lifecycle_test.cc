// A Cuebell device from its start to its destruction: what the page hears
// first, the quiet first three seconds before the sockets exist, and a
// destruction after which nothing of the instance runs.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/scenario/cuebell_fixture.h"

namespace scenario {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using CuebellLifecycle = CuebellOnTheLan;

TEST_F(CuebellLifecycle, FirstTellsThePageItsVersionThenLogsIt) {
  RunFor(1 * kMs);

  const auto& posted = cuebell.page().posted();
  ASSERT_GE(posted.size(), 2u);
  const pp::VarDictionary version(posted[0].value);
  EXPECT_EQ(version.size(), 1u);
  EXPECT_EQ(version.Get("VERSION").AsString(), "NaCl-21.0802.2");
  EXPECT_EQ(posted[1].value.AsString(), "[LOG]: Cuebell version: NaCl-21.0802.2");
}

TEST_F(CuebellLifecycle, BeforeThe31stTickNeitherHearsNorSendsAnything) {
  neighbour.Listen(kEventPort);
  RunUntil(Tick(30) + 50 * kMs);

  NeighbourSends("too early");
  PageSends("DEBUGGER");
  PageSends("EVENT_TYPE", "also too early");

  EXPECT_THAT(EventsOnPage(), IsEmpty());
  EXPECT_EQ(DatagramsUnheardOn(kEventPort), 1u);
  EXPECT_THAT(DatagramsSentByDevice(), IsEmpty());
  EXPECT_THAT(neighbour.ReceivedOn(kEventPort), IsEmpty());

  // The 31st tick makes both sockets: from then on the device hears and speaks.
  RunUntilSocketsAreMade();
  NeighbourSends("in time");
  PageSends("STOP_CLOCK");
  EXPECT_EQ(EventsOnPage().front(), "in time");
  EXPECT_THAT(neighbour.ReceivedOn(kEventPort), ElementsAre("in time"));
}

TEST_F(CuebellLifecycle, DestructionLogsItsDeathClosesBothSocketsAndNothingRunsAfterIt) {
  neighbour.Listen(kEventPort);
  PageSends("DEBUGGER");
  PageSends("EVENT_TYPE", "last words");
  RunUntilSocketsAreMade();
  // The instance goes while its receiver waits for a datagram and its own
  // broadcast is still on the way to it.
  cuebell.Send("STOP_CLOCK", "");
  RunFor(0);

  const size_t posted_before_death = cuebell.page().posted().size();
  const size_t sent_before_death = DatagramsSentByDevice().size();
  cuebell.DestroyInstanceNow();
  RunFor(10 * kMs);
  const size_t unheard_after_death = DatagramsUnheardOn(kEventPort);

  NeighbourSends("anyone there?");
  cuebell.Send("EVENT_TYPE", "from beyond");
  RunFor(10 * 1000 * kMs);

  EXPECT_THAT(
      LinesFrom(posted_before_death),
      ElementsAre("[ERR]: NaClInstance of Cuebell is dead.", "[LOG]: UDPSender: Closed connection.",
                  "[LOG]: UDPReceiver: Closed connection."));
  EXPECT_EQ(cuebell.page().posted().size(), posted_before_death + 3)
      << "no tick, reception or page message ran after the death line";
  EXPECT_EQ(DatagramsSentByDevice().size(), sent_before_death);
  EXPECT_EQ(DatagramsUnheardOn(kEventPort), unheard_after_death + 1)
      << "the event port is free again";
}

}  // namespace
}  // namespace scenario
