// The trace audit on hand-made events: a clean stop passes, and each kind of
// inconsistency is named.
#include "tools/chaos/trace_audit.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace chaos {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

sim::TraceEvent Text(int64_t time_us, sim::TraceKind kind, std::string text) {
  sim::TraceEvent event;
  event.time_us = time_us;
  event.kind = kind;
  event.text = std::move(text);
  return event;
}

sim::TraceEvent Post(int64_t time_us, const std::string& loop, const std::string& value) {
  return Text(time_us, sim::TraceKind::kPost, "page 10.0.0.3 <- " + loop + ": " + value);
}

sim::TraceEvent Datagram(int64_t time_us, sim::TraceKind kind, uint64_t id) {
  sim::TraceEvent event;
  event.time_us = time_us;
  event.kind = kind;
  event.datagram = id;
  return event;
}

// One instance's whole life: started, working, stopped with its death line
// and the lines of the sockets it closes, its queued work dropped.
std::vector<sim::TraceEvent> CleanLife() {
  return {Text(0, sim::TraceKind::kLifecycle, "start 10.0.0.3/2"),
          Post(0, "10.0.0.3/2 platform-main", "{\"VERSION\": \"NaCl-21.0802.2\"}"),
          Datagram(5, sim::TraceKind::kSend, 1),
          Datagram(9, sim::TraceKind::kDeliver, 1),
          Post(9, "10.0.0.3/2 receivingThread", "{\"SET_PLAYTIME\": \"0\"}"),
          Text(20, sim::TraceKind::kLifecycle, "stop 10.0.0.3/2"),
          Post(20, "10.0.0.3/2 platform-main", "\"[ERR]: NaClInstance is dead.\""),
          Post(20, "10.0.0.3/2 platform-main", "\"[LOG]: UDPSender: Closed connection.\""),
          Text(120, sim::TraceKind::kDroppedWork, "10.0.0.3/2 mainThread")};
}

std::vector<std::string> Audit(const std::vector<sim::TraceEvent>& events) {
  TraceAudit audit({"[ERR]: NaClInstance is dead."});
  for (const auto& event : events) audit.Take(event);
  audit.Finish();
  return audit.problems();
}

TEST(ChaosTraceAudit, ACleanLifeAndDeathPasses) {
  EXPECT_THAT(Audit(CleanLife()), ElementsAre());
}

struct Spoiled {
  const char* name;
  std::vector<sim::TraceEvent> extra;
  const char* problem;
};

void PrintTo(const Spoiled& spoiled, std::ostream* out) {
  *out << spoiled.name;
}

class ChaosTraceAuditCatches : public ::testing::TestWithParam<Spoiled> {};

TEST_P(ChaosTraceAuditCatches, Inconsistencies) {
  std::vector<sim::TraceEvent> events = CleanLife();
  events.insert(events.end(), GetParam().extra.begin(), GetParam().extra.end());
  const auto problems = Audit(events);
  ASSERT_FALSE(problems.empty());
  EXPECT_THAT(problems.front(), HasSubstr(GetParam().problem));
}

INSTANTIATE_TEST_SUITE_P(
    Events, ChaosTraceAuditCatches,
    ::testing::Values(
        Spoiled{"TickAfterDeath",
                {Post(130, "10.0.0.3/2 mainThread", "\"[LOG]: tick\"")},
                "a post from an instance after its stop"},
        Spoiled{"WorkerPostDuringTheStop",
                {Post(20, "10.0.0.3/2 receivingThread", "{\"SET_PLAYTIME\": \"1\"}")},
                "a post from an instance after its stop"},
        Spoiled{"SecondDeathLine",
                {Post(20, "10.0.0.3/2 platform-main", "\"[ERR]: NaClInstance is dead.\"")},
                "a second death line"},
        Spoiled{"DeathLineOfALiveInstance",
                {Text(200, sim::TraceKind::kLifecycle, "start 10.0.0.3/3"),
                 Post(210, "10.0.0.3/3 platform-main", "\"[ERR]: NaClInstance is dead.\"")},
                "a death line from an instance not stopped"},
        Spoiled{"WorkDroppedByALiveLoop",
                {Text(200, sim::TraceKind::kLifecycle, "start 10.0.0.3/3"),
                 Text(210, sim::TraceKind::kDroppedWork, "10.0.0.3/3 mainThread")},
                "work dropped by a loop of an instance still running"},
        Spoiled{"DatagramNeverSent",
                {Datagram(300, sim::TraceKind::kDeliver, 7)},
                "a datagram arrived that was never sent"},
        Spoiled{"StoppedWithoutDeathLine",
                {Text(200, sim::TraceKind::kLifecycle, "start 10.0.0.3/3"),
                 Text(300, sim::TraceKind::kLifecycle, "stop 10.0.0.3/3")},
                "10.0.0.3/3 stopped with 0 death lines"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace chaos
