// What a finished run comes to, as plain data: per group the election and the
// sync spread, per device its role, position and traffic. The text report,
// the JSON document and the plot are all drawn from this one object.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "scenario/reference_page.h"
#include "tools/lansim/group_roles.h"
#include "tools/lansim/scenario_options.h"
#include "tools/lansim/simulation.h"
#include "tools/lansim/sync_spread.h"

namespace lansim {

// Spread instants are this far apart, as the modules tick.
constexpr int64_t kSpreadStepUs = 100 * kMillisecondUs;

struct GroupReport {
  int32_t sync_id = 0;
  std::vector<size_t> devices;
  GroupRoles roles;
  std::string parent_at_end;  // the address, when exactly one
  // Spread at every instant of the run that had one (for the plot), and its
  // summary from settling on.
  std::vector<SpreadPoint> spread_series;
  std::optional<SpreadSummary> spread;
};

struct DeviceReport {
  std::string address;
  size_t group = 0;
  scenario::DeviceRole role = scenario::DeviceRole::kDown;
  std::optional<int64_t> position_ms;  // last told
  std::optional<int64_t> told_us;      // when
  size_t page_index = 0;
  uint64_t restarts = 0;
  double drift_ppm = 0;
  int64_t clock_offset_us = 0;
  DeviceTraffic traffic;
  scenario::ReferencePage::Counts page;
};

struct TrafficTotals {
  uint64_t sent = 0;
  uint64_t received = 0;
  std::array<uint64_t, 6> dropped{};
};

struct RunReport {
  ScenarioOptions options;
  int64_t end_us = 0;
  uint64_t trace_digest = 0;
  std::vector<GroupReport> groups;
  std::vector<DeviceReport> devices;
  std::vector<ScenarioMark> marks;
  TrafficTotals totals;
};

// Builds the report of a simulation that has run.
RunReport MakeReport(Simulation& simulation);

// "0x2a", the seed as lansim prints it.
std::string SeedText(uint64_t seed);

}  // namespace lansim
