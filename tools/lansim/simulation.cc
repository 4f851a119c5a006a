#include "tools/lansim/simulation.h"

#include <algorithm>
#include <numeric>
#include <stdexcept>

namespace lansim {
namespace {

// Device clocks are drawn from a generator of their own, so that adding a
// device's drift does not change what the network's generator draws.
constexpr uint64_t kClockDrawSalt = 0x9E3779B97F4A7C15ull;
// The run advances in this many steps, counting the trace after each.
constexpr int64_t kSteps = 100;
constexpr size_t kNoDevice = static_cast<size_t>(-1);

std::string DeviceList(const std::vector<size_t>& devices) {
  std::string text;
  for (const size_t device : devices) {
    if (!text.empty()) text += ",";
    text += std::to_string(device + 1);
  }
  return text;
}

std::string SignedMs(int64_t us) {
  std::string text = us >= 0 ? "+" : "";
  text += std::to_string(us / kMillisecondUs);
  text += " ms";
  return text;
}

}  // namespace

uint64_t DeviceTraffic::dropped_total() const {
  return std::accumulate(dropped.begin(), dropped.end(), uint64_t{0});
}

Simulation::Simulation(ScenarioOptions options, SimulationSettings settings)
    : options_(std::move(options)), settings_(std::move(settings)) {
  if (options_.device_count() == 0 || options_.device_count() > kMaxDevices) {
    throw std::invalid_argument("lansim::Simulation: 1 to 254 devices");
  }
  sim::LanOptions lan_options;
  lan_options.seed = options_.seed;
  lan_options.faults.one_way_delay_min_us = options_.delay_us;
  lan_options.faults.one_way_delay_mean_us = options_.delay_us;
  lan_options.faults.jitter_us = options_.jitter_us;
  lan_options.faults.loss_probability = options_.loss;
  lan_options.faults.duplicate_probability = options_.duplicate;
  lan_options.faults.reorder_probability = options_.reorder;
  lan_options.trace_mode = sim::Trace::Mode::kRecord;
  world_ = std::make_unique<scenario::ModuleWorld>(lan_options);
  AddDevices();
  ScheduleFaults();
}

Simulation::~Simulation() {
  // The pages let go of their devices' pages before the devices go.
  pages_.clear();
  world_.reset();
}

void Simulation::AddDevices() {
  sim::Random clock_draws(options_.seed ^ kClockDrawSalt);
  size_t index = 0;
  for (size_t group = 0; group < options_.groups.size(); ++group) {
    const GroupOptions& group_options = options_.groups[group];
    for (size_t member = 0; member < group_options.devices; ++member, ++index) {
      sim::HostOptions host;
      host.address = DeviceAddress(index);
      host.clock_drift_ppm = (clock_draws.NextDouble() * 2 - 1) * options_.drift_ppm;
      host.clock_offset_us =
          clock_draws.UniformInt(-options_.clock_offset_us, options_.clock_offset_us);
      drift_ppm_.push_back(host.clock_drift_ppm);
      clock_offset_us_.push_back(host.clock_offset_us);
      scenario::Device& device = world_->AddDevice(host, scenario::ModuleKind::kPacewire);
      pages_.push_back(std::make_unique<scenario::ReferencePage>(device, group_options.sync_id,
                                                                 options_.schedule_ms));
      group_of_.push_back(group);
    }
  }
  traffic_.resize(pages_.size());
}

void Simulation::ScheduleFaults() {
  sim::Lan& lan = world_->lan();
  const auto hosts = [this](const std::vector<size_t>& devices) {
    std::vector<sim::Host*> out;
    for (const size_t device : devices) out.push_back(&pages_[device]->device().host());
    return out;
  };
  for (const auto& partition : options_.partitions) {
    lan.scheduler().At(partition.from_us,
                       [&lan, a = hosts(partition.side_a), b = hosts(partition.side_b),
                        until = partition.until_us] { lan.Partition(a, b, until); });
    marks_.push_back({ScenarioMark::Kind::kPartition, partition.from_us, partition.until_us,
                      DeviceList(partition.side_a) + " | " + DeviceList(partition.side_b)});
  }
  for (const auto& restart : options_.restarts) {
    pages_[restart.device]->device().host().RestartAt(restart.at_us, restart.down_us);
    // By index: the pages go first when the simulation is destroyed, and the
    // destruction of the instances may still run what is due.
    lan.scheduler().At(restart.at_us, [this, device = restart.device] {
      if (device < pages_.size()) pages_[device]->DeviceDown();
    });
    marks_.push_back({ScenarioMark::Kind::kRestart, restart.at_us, restart.at_us + restart.down_us,
                      DeviceAddress(restart.device)});
  }
  for (const auto& step : options_.clock_steps) {
    pages_[step.device]->device().host().StepClockAt(step.at_us, step.delta_us);
    marks_.push_back({ScenarioMark::Kind::kClockStep, step.at_us, step.at_us,
                      DeviceAddress(step.device) + " " + SignedMs(step.delta_us)});
  }
  std::stable_sort(marks_.begin(), marks_.end(), [](const ScenarioMark& a, const ScenarioMark& b) {
    return a.from_us < b.from_us;
  });
}

void Simulation::Run(const Progress& progress) {
  if (ran_) throw std::logic_error("lansim::Simulation::Run: runs once");
  ran_ = true;
  const int64_t end_us = options_.duration_us;
  for (int64_t step = 1; step <= kSteps; ++step) {
    world_->lan().RunUntil(end_us * step / kSteps);
    HarvestTrace();
    if (progress) progress(now_us(), end_us);
  }
}

size_t Simulation::DeviceAt(uint32_t address) const {
  // Device k is 10.0.0.(k+1).
  const uint32_t first = pages_.front()->device().host().address();
  if (address < first || address - first >= pages_.size()) return kNoDevice;
  return address - first;
}

void Simulation::HarvestTrace() {
  sim::Trace& trace = world_->lan().trace();
  const auto& events = trace.events();
  for (size_t i = harvested_events_; i < events.size(); ++i) {
    const sim::TraceEvent& event = events[i];
    if (settings_.trace_sink) settings_.trace_sink(event);
    size_t device = kNoDevice;
    switch (event.kind) {
      case sim::TraceKind::kSend:
        device = DeviceAt(event.from_address);
        if (device != kNoDevice) ++traffic_[device].sent;
        break;
      case sim::TraceKind::kDeliver:
        device = DeviceAt(event.to_address);
        if (device != kNoDevice) ++traffic_[device].received;
        break;
      case sim::TraceKind::kDrop:
        device = DeviceAt(event.to_address);
        if (device != kNoDevice) ++traffic_[device].dropped.at(static_cast<size_t>(event.reason));
        break;
      default:
        continue;
    }
    if (device == kNoDevice) ++unattributed_;
  }
  if (settings_.keep_trace_events) {
    harvested_events_ = events.size();
    return;
  }
  trace.ClearEvents();
  for (auto& page : pages_) page->device().page().Clear();
}

}  // namespace lansim
