#include "tools/lansim/sync_spread.h"

#include <algorithm>

namespace lansim {
namespace {

// The last sample at or before `time_us`, from `cursor` on; moves the cursor.
const scenario::PositionSample* LastAt(const PositionTrack& track, size_t& cursor,
                                       int64_t time_us) {
  while (cursor < track.size() && track[cursor].time_us <= time_us) ++cursor;
  return cursor == 0 ? nullptr : &track[cursor - 1];
}

std::optional<SpreadPoint> SpreadOf(std::vector<int64_t>& positions_us, int64_t time_us,
                                    int64_t schedule_total_ms) {
  if (positions_us.size() < 2) return std::nullopt;
  SpreadPoint point{time_us, 0, positions_us.size()};
  if (schedule_total_ms <= 0) {
    const auto [low, high] = std::minmax_element(positions_us.begin(), positions_us.end());
    point.spread_us = *high - *low;
    return point;
  }
  // Around a circle: the positions span the circle less its largest empty arc.
  const int64_t circle = schedule_total_ms * 1000;
  for (auto& position : positions_us) position = ((position % circle) + circle) % circle;
  std::sort(positions_us.begin(), positions_us.end());
  int64_t largest_gap = positions_us.front() + circle - positions_us.back();
  for (size_t i = 1; i < positions_us.size(); ++i) {
    largest_gap = std::max(largest_gap, positions_us[i] - positions_us[i - 1]);
  }
  point.spread_us = circle - largest_gap;
  return point;
}

void Extrapolate(const scenario::PositionSample* sample, int64_t time_us,
                 std::vector<int64_t>& positions_us) {
  if (!sample || !sample->position_ms) return;
  positions_us.push_back(*sample->position_ms * 1000 + (time_us - sample->time_us));
}

}  // namespace

std::optional<SpreadPoint> SpreadAt(const std::vector<const PositionTrack*>& tracks,
                                    int64_t time_us, int64_t schedule_total_ms) {
  std::vector<int64_t> positions_us;
  for (const PositionTrack* track : tracks) {
    size_t cursor = 0;
    Extrapolate(LastAt(*track, cursor, time_us), time_us, positions_us);
  }
  return SpreadOf(positions_us, time_us, schedule_total_ms);
}

std::vector<SpreadPoint> SpreadSeries(const std::vector<const PositionTrack*>& tracks,
                                      int64_t from_us, int64_t to_us, int64_t step_us,
                                      int64_t schedule_total_ms) {
  std::vector<SpreadPoint> points;
  if (step_us <= 0) return points;
  std::vector<size_t> cursors(tracks.size(), 0);
  std::vector<int64_t> positions_us;
  for (int64_t time_us = from_us; time_us <= to_us; time_us += step_us) {
    positions_us.clear();
    for (size_t i = 0; i < tracks.size(); ++i) {
      Extrapolate(LastAt(*tracks[i], cursors[i], time_us), time_us, positions_us);
    }
    if (auto point = SpreadOf(positions_us, time_us, schedule_total_ms)) points.push_back(*point);
  }
  return points;
}

std::optional<SpreadSummary> Summarize(const std::vector<SpreadPoint>& points, int64_t from_us) {
  std::vector<int64_t> values;
  for (const auto& point : points) {
    if (point.time_us >= from_us) values.push_back(point.spread_us);
  }
  if (values.empty()) return std::nullopt;
  std::sort(values.begin(), values.end());
  const auto rank = [&](int percent) {
    // Nearest rank: the smallest value with at least `percent` % of values at or below it.
    const size_t n = values.size();
    size_t index = (n * static_cast<size_t>(percent) + 99) / 100;
    return values[std::max<size_t>(index, 1) - 1];
  };
  return SpreadSummary{values.size(), rank(50), rank(99), values.back()};
}

}  // namespace lansim
