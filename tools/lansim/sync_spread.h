// How far apart the pages of a group are: at an instant, each page's schedule
// position is the position it was last told plus the virtual time since; the
// spread is the largest difference between two of them.
//
// Positions are compared around the schedule (modulo its total length), so a
// page just past the end of a pass and one at the start of the next are close.
// A page without a known position at the instant does not count; an instant
// with fewer than two counted pages has no spread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "scenario/reference_page.h"

namespace lansim {

using PositionTrack = std::vector<scenario::PositionSample>;

struct SpreadPoint {
  int64_t time_us = 0;
  int64_t spread_us = 0;
  size_t pages = 0;  // pages that counted
};

// The spread at `time_us`, or none. `schedule_total_ms` 0 or less compares
// positions on a straight line.
std::optional<SpreadPoint> SpreadAt(const std::vector<const PositionTrack*>& tracks,
                                    int64_t time_us, int64_t schedule_total_ms);

// The spread at from_us, from_us + step_us, ... up to to_us included, at the
// instants that have one.
std::vector<SpreadPoint> SpreadSeries(const std::vector<const PositionTrack*>& tracks,
                                      int64_t from_us, int64_t to_us, int64_t step_us,
                                      int64_t schedule_total_ms);

struct SpreadSummary {
  size_t instants = 0;
  int64_t p50_us = 0;
  int64_t p99_us = 0;
  int64_t max_us = 0;
};

// Nearest-rank percentiles of the points at or after `from_us`; none without points.
std::optional<SpreadSummary> Summarize(const std::vector<SpreadPoint>& points, int64_t from_us);

}  // namespace lansim
