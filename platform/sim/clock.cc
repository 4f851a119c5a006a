#include "platform/sim/clock.h"

#include <cassert>
#include <cmath>

namespace sim {

HostClock::HostClock(int64_t epoch_us, int64_t offset_us, double drift_ppm) {
  segments_.push_back(Segment{0, epoch_us + offset_us, drift_ppm});
}

int64_t HostClock::WallBeforeSteps(int64_t virtual_us) const {
  const Segment* segment = &segments_.front();
  for (const auto& candidate : segments_) {
    if (candidate.start_us <= virtual_us) segment = &candidate;
  }
  const int64_t elapsed = virtual_us - segment->start_us;
  const auto drift =
      static_cast<int64_t>(std::floor(static_cast<double>(elapsed) * segment->drift_ppm / 1e6));
  return segment->wall_us + elapsed + drift;
}

int64_t HostClock::WallAt(int64_t virtual_us) const {
  int64_t wall = WallBeforeSteps(virtual_us);
  for (auto it = steps_.begin(); it != steps_.end() && it->first <= virtual_us; ++it) {
    wall += it->second;
  }
  return wall;
}

void HostClock::StepAt(int64_t virtual_us, int64_t delta_us) {
  steps_.emplace(virtual_us, delta_us);
}

void HostClock::SetDriftFrom(int64_t virtual_us, double drift_ppm) {
  assert(virtual_us >= segments_.back().start_us);
  segments_.push_back(Segment{virtual_us, WallBeforeSteps(virtual_us), drift_ppm});
}

}  // namespace sim
