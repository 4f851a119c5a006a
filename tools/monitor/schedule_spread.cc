#include "tools/monitor/schedule_spread.h"

#include <algorithm>

namespace pacewire_monitor {

int64_t EstimateScheduleStart(int64_t received_at_ms, const pacewire::PacketSyncPlay& state) {
  const uint64_t start = static_cast<uint64_t>(received_at_ms) -
                         static_cast<uint64_t>(state.playTime) -
                         static_cast<uint64_t>(state.elapsedTimeFromMaster);
  return static_cast<int64_t>(start);
}

uint64_t ScheduleStartSpread(const std::vector<int64_t>& starts, int32_t schedule_duration_ms) {
  if (starts.size() < 2) return 0;
  if (schedule_duration_ms <= 0) {
    const auto [low, high] = std::minmax_element(starts.begin(), starts.end());
    return static_cast<uint64_t>(*high) - static_cast<uint64_t>(*low);
  }
  // Around a circle: the starts span the circle less its largest empty arc.
  const int64_t circle = schedule_duration_ms;
  std::vector<int64_t> places;
  places.reserve(starts.size());
  for (const int64_t start : starts) places.push_back(((start % circle) + circle) % circle);
  std::sort(places.begin(), places.end());
  int64_t largest_gap = places.front() + circle - places.back();
  for (size_t i = 1; i < places.size(); ++i) {
    largest_gap = std::max(largest_gap, places[i] - places[i - 1]);
  }
  return static_cast<uint64_t>(circle - largest_gap);
}

}  // namespace pacewire_monitor
