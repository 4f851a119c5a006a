// One simulator run: Pacewire devices with reference pages on a simulated LAN,
// the faults of the scenario scheduled in virtual time, and the datagram
// counts read from the LAN's trace as the run goes.
//
// The trace's events are counted and then dropped every step of the run, so
// long runs keep little memory; keep_trace_events keeps them for a test to
// read, and trace_sink sees each one before it is dropped.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/sim/sim.h"
#include "scenario/module_world.h"
#include "scenario/reference_page.h"
#include "tools/lansim/scenario_options.h"

namespace lansim {

struct SimulationSettings {
  bool keep_trace_events = false;
  std::function<void(const sim::TraceEvent&)> trace_sink;
};

// Datagrams of one device as the trace tells them.
struct DeviceTraffic {
  uint64_t sent = 0;
  uint64_t received = 0;  // reached one of its sockets
  // Datagrams on their way to it that did not arrive, by sim::DropReason.
  std::array<uint64_t, 6> dropped{};
  uint64_t dropped_total() const;
};

// Something the scenario did to the LAN, for the report and the plot.
struct ScenarioMark {
  enum class Kind { kPartition, kRestart, kClockStep };
  Kind kind;
  int64_t from_us;
  int64_t until_us;  // partition: heal; restart: back up; clock step: from_us
  std::string text;  // "1,2,3 | 4,5,6", "10.0.0.3", "10.0.0.2 -500 ms"
};

class Simulation {
 public:
  explicit Simulation(ScenarioOptions options, SimulationSettings settings = {});
  ~Simulation();
  Simulation(const Simulation&) = delete;
  Simulation& operator=(const Simulation&) = delete;

  // Called after each step of the run with the virtual time reached.
  using Progress = std::function<void(int64_t now_us, int64_t end_us)>;
  // Runs the whole scenario; call once.
  void Run(const Progress& progress = {});

  const ScenarioOptions& options() const { return options_; }
  scenario::ModuleWorld& world() { return *world_; }
  sim::Lan& lan() { return world_->lan(); }
  int64_t now_us() const { return world_->now_us(); }

  size_t device_count() const { return pages_.size(); }
  const scenario::ReferencePage& page(size_t device) const { return *pages_[device]; }
  size_t group_of(size_t device) const { return group_of_[device]; }
  const DeviceTraffic& traffic(size_t device) const { return traffic_[device]; }
  // Datagram sends whose source was no device (none in these scenarios).
  uint64_t unattributed_events() const { return unattributed_; }
  const std::vector<ScenarioMark>& marks() const { return marks_; }
  // Each device's drawn clock drift (ppm) and offset (us).
  double drift_ppm(size_t device) const { return drift_ppm_[device]; }
  int64_t clock_offset_us(size_t device) const { return clock_offset_us_[device]; }

 private:
  void AddDevices();
  void ScheduleFaults();
  // Counts the trace's events, hands them to the sink, and drops them (and
  // the pages' records, which the reference pages have read already).
  void HarvestTrace();
  size_t DeviceAt(uint32_t address) const;

  ScenarioOptions options_;
  SimulationSettings settings_;
  std::unique_ptr<scenario::ModuleWorld> world_;
  std::vector<std::unique_ptr<scenario::ReferencePage>> pages_;
  std::vector<size_t> group_of_;
  std::vector<DeviceTraffic> traffic_;
  std::vector<double> drift_ppm_;
  std::vector<int64_t> clock_offset_us_;
  std::vector<ScenarioMark> marks_;
  uint64_t unattributed_ = 0;
  size_t harvested_events_ = 0;
  bool ran_ = false;
};

}  // namespace lansim
