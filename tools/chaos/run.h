// Runs one chaos plan on a simulated LAN and checks it: Pacewire devices with
// reference pages, the plan's faults in virtual time, then the quiet phase, in
// which every group must settle on one parent, keep its pages in step and not
// grow in memory.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/sim/trace.h"

#include "tools/chaos/bounds.h"
#include "tools/chaos/invariants.h"
#include "tools/chaos/plan.h"

namespace chaos {

struct RunSettings {
  // What the heap and the scheduler's queue may grow by from the early memory
  // probe (a third into the quiet phase, and after the election bound) to the
  // end: room for the datagrams on the wire and the containers' capacity
  // steps, far below what a leak of a few bytes per tick or datagram leaves.
  MemoryAllowance memory_allowance{16 * 1024, 64};
  // When set, the LAN records every event and hands each to the sink (a
  // replay that writes them out); the run is the same, and so is its digest.
  std::function<void(const sim::TraceEvent&)> trace_sink;
};

struct GroupReport {
  int32_t sync_id = 0;
  std::vector<std::string> addresses;
  GroupBounds bounds;
  ElectionOutcome election;  // indices into `addresses`
  SpreadOutcome spread;
  bool spread_checked = false;  // false without a single parent to follow
};

struct RunReport {
  ChaosPlan plan;
  std::vector<GroupReport> groups;
  MemoryProbe early_memory;
  MemoryProbe late_memory;
  uint64_t trace_digest = 0;
  std::vector<Violation> violations;

  bool ok() const { return violations.empty(); }
};

RunReport RunPlan(const ChaosPlan& plan, const RunSettings& settings = {});

}  // namespace chaos
