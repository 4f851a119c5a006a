// The wall clock of one simulated host, as a function of virtual time: an
// offset from the LAN's epoch, a drift in parts per million (which may change
// from a given moment on), and steps (the system time being set) at chosen
// virtual times. A pure function of virtual time, so reading it never depends
// on which events have run.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

namespace sim {

class HostClock {
 public:
  // At virtual time 0 the clock reads epoch_us + offset_us.
  HostClock(int64_t epoch_us, int64_t offset_us, double drift_ppm);

  // Wall-clock microseconds since 1970 at virtual time `virtual_us`.
  int64_t WallAt(int64_t virtual_us) const;
  // From `virtual_us` on, the clock reads `delta_us` more (less when negative).
  void StepAt(int64_t virtual_us, int64_t delta_us);
  // From `virtual_us` on, the clock runs at 1 + drift_ppm / 10^6 of virtual
  // time. `virtual_us` may not precede an earlier drift change.
  void SetDriftFrom(int64_t virtual_us, double drift_ppm);

 private:
  struct Segment {
    int64_t start_us;  // virtual time the segment begins
    int64_t wall_us;   // reading at start_us, before steps
    double drift_ppm;
  };
  int64_t WallBeforeSteps(int64_t virtual_us) const;

  std::vector<Segment> segments_;
  std::multimap<int64_t, int64_t> steps_;  // virtual time -> delta
};

}  // namespace sim
