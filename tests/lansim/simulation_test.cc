// Whole runs of the simulator: Pacewire devices with reference pages on the
// simulated LAN, and the report drawn from them.
#include "tools/lansim/simulation.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "tools/lansim/report.h"
#include "tools/lansim/report_json.h"
#include "tools/lansim/report_text.h"
#include "tools/lansim/spread_plot.h"

namespace lansim {
namespace {

using ::testing::HasSubstr;

ScenarioOptions Healthy(int64_t seconds) {
  ScenarioOptions options;
  options.duration_us = seconds * kSecondUs;
  options.seed = sim::SeedFromEnvironment(1);
  return options;
}

// Partition, restart, clock step and a lossy, jittery wire, in one run.
ScenarioOptions Troubled() {
  ScenarioOptions options = Healthy(30);
  options.groups = {{1, 4}, {2, 3}};
  options.jitter_us = 3 * kMillisecondUs;
  options.loss = 0.02;
  options.duplicate = 0.01;
  options.reorder = 0.01;
  options.drift_ppm = 50;
  options.clock_offset_us = 2 * kSecondUs;
  options.partitions.push_back({8 * kSecondUs, 14 * kSecondUs, {0, 1}, {2, 3, 4, 5, 6}});
  options.restarts.push_back({6, 18 * kSecondUs, kSecondUs});
  options.clock_steps.push_back({2, 22 * kSecondUs, -700 * kMillisecondUs});
  return options;
}

std::string JsonOfRun(const ScenarioOptions& options) {
  Simulation simulation(options);
  simulation.Run();
  return ReportToJson(MakeReport(simulation)).dump();
}

TEST(LansimRun, AHealthyGroupSettlesOnItsHighestAddressWithASmallSpread) {
  Simulation simulation(Healthy(20));
  simulation.Run();
  const RunReport report = MakeReport(simulation);
  SCOPED_TRACE(FormatTextReport(report));

  ASSERT_EQ(report.groups.size(), 1u);
  const GroupReport& group = report.groups[0];
  ASSERT_TRUE(group.roles.settled_us);
  // Every device times out at 3.1 s; the tie-break follows the first broadcasts.
  EXPECT_GE(*group.roles.settled_us, 3100 * kMillisecondUs);
  EXPECT_LE(*group.roles.settled_us, 3500 * kMillisecondUs);
  EXPECT_EQ(group.roles.parents_at_end, 1u);
  EXPECT_EQ(group.parent_at_end, "10.0.0.6");
  EXPECT_DOUBLE_EQ(group.roles.one_parent_share, 1.0);
  ASSERT_TRUE(group.spread);
  EXPECT_GT(group.spread->instants, 150u);
  EXPECT_LT(group.spread->max_us, kMillisecondUs);

  for (const DeviceReport& device : report.devices) {
    EXPECT_EQ(device.role, device.address == "10.0.0.6" ? scenario::DeviceRole::kParent
                                                        : scenario::DeviceRole::kChild);
    // Told a position within the last tick; page 2 of 10000+15000+5000 at 20 s.
    ASSERT_TRUE(device.told_us) << device.address;
    EXPECT_GE(*device.told_us, 19900 * kMillisecondUs);
    EXPECT_EQ(device.page_index, 1u) << device.address;
    EXPECT_EQ(device.page.page_changes, 1u) << device.address;
    EXPECT_GT(device.traffic.received, 150u);
  }
}

TEST(LansimRun, EveryPageFollowsTheScheduleThroughAWholePass) {
  ScenarioOptions options = Healthy(36);
  options.schedule_ms = {4000, 6000, 2000};
  Simulation simulation(options);
  simulation.Run();
  for (size_t device = 0; device < simulation.device_count(); ++device) {
    const scenario::ReferencePage& page = simulation.page(device);
    // Pages 2 and 3, page 1 of the next pass, and so on: a pass lasts a little
    // over 12 s (each page ends on the tick after its time is up).
    EXPECT_GE(page.counts().page_changes, 7u) << device;
    EXPECT_LE(page.counts().page_changes, 8u) << device;
  }
}

TEST(LansimRun, ASplitGroupElectsOnEachSideAndComesBackToOneParent) {
  ScenarioOptions options = Healthy(30);
  options.partitions.push_back({10 * kSecondUs, 20 * kSecondUs, {0, 1, 2}, {3, 4, 5}});
  Simulation simulation(options);
  simulation.Run();
  const RunReport report = MakeReport(simulation);
  SCOPED_TRACE(FormatTextReport(report));
  const GroupReport& group = report.groups[0];
  EXPECT_EQ(group.roles.parents_at_end, 1u);
  EXPECT_EQ(group.parent_at_end, "10.0.0.6");
  // The cut-off side lost its parent and made 10.0.0.3 its own until the heal.
  EXPECT_LT(group.roles.one_parent_share, 0.9);
  EXPECT_GT(group.roles.role_changes, 11u);
  EXPECT_GT(report.totals.dropped[static_cast<size_t>(sim::DropReason::kPartition)], 0u);
}

TEST(LansimRun, TheSameSeedGivesTheSameReport) {
  const ScenarioOptions options = Troubled();
  const std::string first = JsonOfRun(options);
  EXPECT_EQ(JsonOfRun(options), first);

  ScenarioOptions other = options;
  other.seed = options.seed + 1;
  EXPECT_NE(JsonOfRun(other), first) << "the seed changes nothing";
}

TEST(LansimRun, TheReportAgreesWithTheTrace) {
  SimulationSettings settings;
  settings.keep_trace_events = true;
  uint64_t events_seen = 0;
  settings.trace_sink = [&](const sim::TraceEvent&) { ++events_seen; };
  Simulation simulation(Troubled(), settings);
  simulation.Run();
  const RunReport report = MakeReport(simulation);
  const auto& events = simulation.lan().trace().events();
  EXPECT_EQ(events_seen, events.size()) << "each event reaches the sink once";

  struct Counted {
    uint64_t sent = 0, received = 0, dropped = 0, posted = 0, page_messages = 0;
  };
  std::map<std::string, Counted> counted;
  for (const auto& event : events) {
    switch (event.kind) {
      case sim::TraceKind::kSend:
        ++counted[sim::FormatIpv4(event.from_address)].sent;
        break;
      case sim::TraceKind::kDeliver:
        ++counted[sim::FormatIpv4(event.to_address)].received;
        break;
      case sim::TraceKind::kDrop:
        ++counted[sim::FormatIpv4(event.to_address)].dropped;
        break;
      case sim::TraceKind::kPost:
      case sim::TraceKind::kPageMessage: {
        // "page 10.0.0.3 <- ..." and "page 10.0.0.3 -> ..."
        const size_t space = event.text.find(' ', 5);
        Counted& device = counted[event.text.substr(5, space - 5)];
        ++(event.kind == sim::TraceKind::kPost ? device.posted : device.page_messages);
        break;
      }
      default:
        break;
    }
  }
  uint64_t sent = 0;
  for (const DeviceReport& device : report.devices) {
    SCOPED_TRACE(device.address);
    const Counted& trace = counted[device.address];
    EXPECT_EQ(device.traffic.sent, trace.sent);
    EXPECT_EQ(device.traffic.received, trace.received);
    EXPECT_EQ(device.traffic.dropped_total(), trace.dropped);
    EXPECT_EQ(device.page.dictionaries_received + device.page.log_lines_received, trace.posted);
    EXPECT_EQ(device.page.messages_sent, trace.page_messages);
    sent += trace.sent;
  }
  EXPECT_EQ(report.totals.sent, sent);
  EXPECT_EQ(report.trace_digest, simulation.lan().trace().digest());
  // The restarted device says so.
  EXPECT_EQ(report.devices[6].restarts, 1u);
}

TEST(LansimRun, ASimulationThatNeverRanGoesAwayWithItsFaultsStillPending) {
  ScenarioOptions options = Healthy(10);
  options.restarts.push_back({5, 0, 0});
  options.partitions.push_back({0, kSecondUs, {0}, {1}});
  { Simulation simulation(options); }
}

TEST(LansimRun, ThePlotShowsEachGroupAndWhatWasDoneToTheLan) {
  Simulation simulation(Troubled());
  simulation.Run();
  const std::string svg = DrawSpreadPlot(MakeReport(simulation));
  EXPECT_THAT(svg, HasSubstr("<svg xmlns=\"http://www.w3.org/2000/svg\""));
  EXPECT_THAT(svg, HasSubstr("partition 1,2 | 3,4,5,6,7"));
  EXPECT_THAT(svg, HasSubstr("restart 10.0.0.7"));
  EXPECT_THAT(svg, HasSubstr("clock 10.0.0.3 -700 ms"));
  EXPECT_THAT(svg, HasSubstr("group 2"));
  EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");
}

}  // namespace
}  // namespace lansim
