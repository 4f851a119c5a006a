// Reads a simulated LAN's trace, event by event, for what must never happen
// around instances that come and go:
// - after "stop <label>", nothing runs on that instance's worker loops, and
//   its platform main loop posts only within the stop itself, starting with
//   the death line (the sockets it closes then log after it);
// - every instance stopped posts its death line exactly once;
// - work dropped by a quit loop belongs to a stopped instance (or to a loop
//   the auditor was told goes away, such as a peer's);
// - every datagram delivered or dropped was sent before.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/sim/trace.h"

namespace chaos {

class TraceAudit {
 public:
  // `death_lines`: the texts an instance posts when it is destroyed, one of
  // which must come first after its stop.
  explicit TraceAudit(std::vector<std::string> death_lines);

  void Take(const sim::TraceEvent& event);
  // Checks what can only be judged at the end (one death line per stop).
  void Finish();

  const std::vector<std::string>& problems() const { return problems_; }
  uint64_t starts() const { return starts_; }
  uint64_t stops() const { return stops_; }
  uint64_t posts() const { return posts_; }
  uint64_t deliveries() const { return deliveries_; }
  uint64_t dropped_work() const { return dropped_work_; }

 private:
  struct Stopped {
    int64_t time_us = 0;
    int death_lines = 0;
    bool posted_after_death = false;  // lines of the stop itself, after the death line
  };

  void Problem(const sim::TraceEvent& event, const std::string& what);
  void TakePost(const sim::TraceEvent& event);
  bool IsDeathLine(const std::string& value) const;

  std::vector<std::string> death_lines_;
  std::map<std::string, Stopped> stopped_;  // by instance label
  std::set<std::string> started_;
  uint64_t last_sent_ = 0;
  std::vector<std::string> problems_;
  uint64_t starts_ = 0;
  uint64_t stops_ = 0;
  uint64_t posts_ = 0;
  uint64_t deliveries_ = 0;
  uint64_t dropped_work_ = 0;
};

}  // namespace chaos
