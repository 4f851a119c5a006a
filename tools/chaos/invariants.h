// The checks of a chaos run, on what the reference pages recorded: the roles
// their modules announced and the positions they were told. Each check takes
// plain records and the bounds of bounds.h, so that it can be tried on
// hand-made records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "scenario/reference_page.h"
#include "tools/chaos/bounds.h"

namespace chaos {

struct Violation {
  std::string invariant;  // "one-parent", "parent-order", "sync-spread", ...
  std::string detail;
};

// What one device of a group recorded.
struct DeviceRecord {
  std::string address;
  std::vector<scenario::RoleEvent> roles;
  std::vector<scenario::PositionSample> positions;
};

// The role at `time_us`: that of the last event at or before it (down before any).
scenario::DeviceRole RoleAt(const std::vector<scenario::RoleEvent>& roles, int64_t time_us);

struct ElectionOutcome {
  std::optional<size_t> parent_at_end;  // index into the group's records
  size_t parents_at_bound = 0;
  // The last role change of the group in the quiet phase, or its start.
  int64_t settled_us = 0;
  // The highest device that was a parent at any moment from the order bound on.
  std::optional<size_t> highest_parent_since_order_bound;
};

// Exactly one parent from bounds.one_parent_by_us to `end_us`, and that parent
// is the highest device that held the role at any moment from
// bounds.order_from_us on.
ElectionOutcome CheckElection(const std::vector<DeviceRecord>& group, const GroupBounds& bounds,
                              int64_t end_us, std::vector<Violation>& violations);

struct SpreadOutcome {
  int64_t max_spread_us = 0;            // away from pass wraps
  int64_t max_spread_near_wrap_us = 0;  // within the wrap window
  size_t instants = 0;                  // instants at which the spread changed
  size_t wraps = 0;
  int64_t longest_silence_us = 0;  // longest a page went without being told a position
};

// From bounds.spread_from_us to a wrap window before `end_us` (a wrap just
// after the last instant judged must be in the records): the spread of the
// positions the pages were told, extrapolated to each instant, stays within
// the limit (the limit plus the wrap allowance near the parent's pass wraps).
// Up to `end_us`, every page is told a position at least once every tick plus D.
SpreadOutcome CheckSpread(const std::vector<DeviceRecord>& group, size_t parent,
                          int64_t schedule_total_ms, const GroupBounds& bounds, int64_t end_us,
                          std::vector<Violation>& violations);

// Deterministic figures of what a run holds in memory at one instant.
struct MemoryProbe {
  int64_t time_us = 0;
  // Bytes the process has allocated, less the records the pages keep on
  // purpose (their position and role histories), which grow with the run.
  int64_t heap_bytes = 0;
  size_t pending_actions = 0;  // the LAN scheduler's queue
};

struct MemoryAllowance {
  int64_t heap_bytes = 0;
  size_t pending_actions = 0;
};

// The late probe holds no more than the early one plus the allowance.
void CheckMemory(const MemoryProbe& early, const MemoryProbe& late,
                 const MemoryAllowance& allowance, std::vector<Violation>& violations);

}  // namespace chaos
