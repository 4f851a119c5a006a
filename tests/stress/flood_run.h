// Load on the real backend: a pacewire-host and a cuebell-host, each in a
// network namespace of its own, flooded with datagrams from a third namespace
// by one sender as fast as it goes, while the harness watches their page
// channels and their memory.
//
// Pacewire plays without a group (sync ID -1), so every tick posts a play-time
// message and the spacing of those lines, stamped as the harness reads them,
// shows the tick loop's period. It is measured first without flood, then
// under flood, in the same run. The flood mixes garbage, sync packets of other
// groups and set-monitoring requests that name the flooder's own address.
// Cuebell is flooded with event datagrams; its page should get one
// "EVENT_TYPE" line per event it takes in.
//
// Everything stays inside the lab: the modules, the flooder and every address
// a datagram names live in namespaces the run makes and removes.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/stress/flooder.h"

namespace stress {

struct FloodPlan {
  std::string pacewire_host;  // absolute paths of the embedder programs
  std::string cuebell_host;
  std::chrono::milliseconds baseline{10000};  // Pacewire ticks watched before the flood
  std::chrono::milliseconds flood{30000};     // each module's flood
  std::chrono::milliseconds after{3000};      // watched after each flood
  std::chrono::milliseconds patience{30000};  // for sockets to come up and programs to end
  uint64_t max_per_second = 0;                // 0: as fast as one sender goes
  size_t max_datagram_bytes = 1500;
  uint32_t seed = 20240601;
};

struct Spread {
  size_t count = 0;
  double p50 = 0;
  double p99 = 0;
  double max = 0;
};
Spread SpreadOf(std::vector<double> values);

struct ModuleFigures {
  FloodStats flood;
  uint64_t delivered = 0;  // datagrams the kernel queued on the module's sockets, flood and watch
  uint64_t buffer_drops = 0;   // ... and dropped because its receive queue was full
  long rss_before_kb = 0;      // just before the flood
  long rss_during_max_kb = 0;  // highest sample, once a second, during the flood
  long rss_after_kb = 0;       // at the end of the watch after the flood
  int wait_status = -1;        // after end of input
  bool death_line_printed = false;
  std::vector<std::string> last_lines;  // what the page got last, for reports
  std::string error_output;             // the program's stderr (the start of it)
};

struct PacewireFigures : ModuleFigures {
  Spread baseline_period_ms;
  Spread flood_period_ms;
  Spread baseline_jitter_ms;  // |period - 100 ms|
  Spread flood_jitter_ms;
  size_t play_time_lines_in_flood = 0;
  size_t play_time_lines_in_flood_second_half = 0;
  size_t play_time_lines_after = 0;
  double longest_gap_in_flood_ms = 0;
  bool play_time_went_forward = true;        // every play time above the one before
  uint64_t monitoring_requests_handled = 0;  // "Monitoring mode is set to" lines
};

struct CuebellFigures : ModuleFigures {
  uint64_t relayed_in_flood = 0;  // "EVENT_TYPE" lines that arrived during the flood
  uint64_t relayed_total = 0;     // ... by the end of the watch after it
};

struct FloodReport {
  std::string lab;  // a line saying where things ran
  PacewireFigures pacewire;
  CuebellFigures cuebell;
};

enum class FloodOutcome { kRan, kCannotMakeNamespaces, kFailed };

// Runs the plan in a lab of its own. kCannotMakeNamespaces (with `problem`)
// where this machine cannot make namespaces; kFailed (with `problem`) when the
// run could not be carried out (a module never set up its sockets, say). A run
// whose module crashed or misbehaved is kRan: the report shows it.
FloodOutcome RunFlood(const FloodPlan& plan, FloodReport* report, std::string* problem);

// The report as text for people, one figure a line.
std::string FormatReport(const FloodPlan& plan, const FloodReport& report);

}  // namespace stress
