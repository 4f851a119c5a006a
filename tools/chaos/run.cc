#include "tools/chaos/run.h"

#include <algorithm>
#include <memory>
#include <numeric>

#include "platform/sim/sim.h"
#include "scenario/module_world.h"
#include "scenario/reference_page.h"
#include "tools/chaos/heap_bytes.h"

namespace chaos {
namespace {

// The pages' raw records are read by the reference pages as they arrive and
// then dropped at this pace, so a long run keeps only what the reference
// pages keep.
constexpr int64_t kRecordClearingUs = kSecondUs;

class ChaosWorld {
 public:
  ChaosWorld(const ChaosPlan& plan, std::function<void(const sim::TraceEvent&)> trace_sink)
      : plan_(plan), trace_sink_(std::move(trace_sink)) {
    sim::LanOptions options;
    options.seed = plan.seed;
    options.faults = plan.fault_wire.front().faults;
    options.trace_mode = trace_sink_ ? sim::Trace::Mode::kRecord : sim::Trace::Mode::kDigestOnly;
    world_ = std::make_unique<scenario::ModuleWorld>(options);
    devices_.resize(plan.devices.size(), nullptr);
    pages_.resize(plan.devices.size());
    ScheduleLanFaults();
  }

  ~ChaosWorld() {
    // The pages let go of their devices' pages before the devices go.
    pages_.clear();
    world_.reset();
  }

  sim::Lan& lan() { return world_->lan(); }

  // Runs to `time_us`, starting the devices due by then.
  void RunUntil(int64_t time_us) {
    for (;;) {
      const size_t next = NextDeviceToStart();
      const int64_t stop = next < devices_.size() ? plan_.devices[next].start_us : time_us;
      if (stop > time_us) break;
      RunClearingRecords(stop);
      if (next >= devices_.size()) break;
      StartDevice(next);
    }
    RunClearingRecords(time_us);
  }

  MemoryProbe Probe() {
    for (auto* device : devices_) {
      if (device) device->page().Clear();
    }
    int64_t records = 0;
    for (size_t i = 0; i < pages_.size(); ++i) {
      if (!pages_[i]) continue;
      records +=
          static_cast<int64_t>(pages_[i]->samples().capacity() * sizeof(scenario::PositionSample));
      records +=
          static_cast<int64_t>(pages_[i]->role_events().capacity() * sizeof(scenario::RoleEvent));
      records +=
          static_cast<int64_t>(devices_[i]->page().posted().capacity() * sizeof(sim::PostedValue));
    }
    records += static_cast<int64_t>(lan().trace().events().capacity() * sizeof(sim::TraceEvent));
    MemoryProbe probe;
    probe.time_us = lan().now_us();
    probe.heap_bytes = HeapBytesInUse() - records;
    probe.pending_actions = lan().scheduler().pending();
    return probe;
  }

  DeviceRecord Record(size_t device) const {
    DeviceRecord record;
    record.address = plan_.devices[device].address;
    if (pages_[device]) {
      record.roles = pages_[device]->role_events();
      record.positions = pages_[device]->samples();
    }
    return record;
  }

 private:
  size_t NextDeviceToStart() const {
    size_t best = devices_.size();
    for (size_t i = 0; i < devices_.size(); ++i) {
      if (devices_[i]) continue;
      if (best == devices_.size() || plan_.devices[i].start_us < plan_.devices[best].start_us) {
        best = i;
      }
    }
    return best;
  }

  void RunClearingRecords(int64_t time_us) {
    while (lan().now_us() < time_us) {
      lan().RunUntil(std::min(time_us, lan().now_us() + kRecordClearingUs));
      for (auto* device : devices_) {
        if (device) device->page().Clear();
      }
      if (trace_sink_) {
        for (const auto& event : lan().trace().events()) trace_sink_(event);
        lan().trace().ClearEvents();
      }
    }
  }

  // The wire, partitions and the quiet phase need no device: they are kept
  // by the LAN, partitions by address.
  void ScheduleLanFaults() {
    sim::Lan& lan = world_->lan();
    for (size_t i = 1; i < plan_.fault_wire.size(); ++i) {
      lan.scheduler().At(plan_.fault_wire[i].from_us,
                         [&lan, faults = plan_.fault_wire[i].faults] { lan.faults() = faults; });
    }
    for (const auto& partition : plan_.partitions) {
      lan.scheduler().At(partition.from_us, [this, &lan, partition] {
        sim::Partition cut;
        for (const size_t device : partition.side_a) cut.side_a.push_back(Address(device));
        for (const size_t device : partition.side_b) cut.side_b.push_back(Address(device));
        cut.from_us = lan.now_us();
        cut.heal_at_us = partition.heal_us;
        lan.network().AddPartition(std::move(cut));
        lan.Note("partition until " + std::to_string(partition.heal_us) + " us");
      });
    }
    lan.scheduler().At(plan_.quiet_from_us(), [this, &lan] {
      lan.faults() = plan_.quiet_wire;
      for (auto* device : devices_) {
        if (device) device->host().faults() = sim::FaultPlan{};
      }
      lan.Note("quiet phase");
    });
  }

  uint32_t Address(size_t device) const { return *sim::ParseIpv4(plan_.devices[device].address); }

  void StartDevice(size_t index) {
    const DevicePlan& planned = plan_.devices[index];
    sim::HostOptions host;
    host.address = planned.address;
    host.clock_offset_us = planned.clock_offset_us;
    host.clock_drift_ppm = planned.drift_ppm;
    scenario::Device& device = world_->AddDevice(host, scenario::ModuleKind::kPacewire);
    devices_[index] = &device;
    const GroupPlan& group = plan_.groups[planned.group];
    pages_[index] =
        std::make_unique<scenario::ReferencePage>(device, group.sync_id, group.schedule_ms);
    ScheduleDeviceFaults(index);
  }

  void ScheduleDeviceFaults(size_t index) {
    sim::Lan& lan = world_->lan();
    scenario::Device& device = *devices_[index];
    scenario::ReferencePage& page = *pages_[index];
    for (const auto& restart : plan_.restarts) {
      if (restart.device != index) continue;
      device.host().RestartAt(restart.at_us, restart.down_us);
      lan.scheduler().At(restart.at_us, [&page] { page.DeviceDown(); });
    }
    for (const auto& step : plan_.clock_steps) {
      if (step.device == index) device.host().StepClockAt(step.at_us, step.delta_us);
    }
    for (const auto& refusal : plan_.refusals) {
      if (refusal.device != index) continue;
      lan.scheduler().At(refusal.at_us, [&device, refusal] {
        InjectionFor(device.host().faults(), refusal.operation)
            .FailAfter(refusal.successes, refusal.count, refusal.code);
      });
    }
  }

  const ChaosPlan& plan_;
  std::function<void(const sim::TraceEvent&)> trace_sink_;
  std::unique_ptr<scenario::ModuleWorld> world_;
  std::vector<scenario::Device*> devices_;
  std::vector<std::unique_ptr<scenario::ReferencePage>> pages_;
};

int64_t ScheduleTotalMs(const GroupPlan& group) {
  return std::accumulate(group.schedule_ms.begin(), group.schedule_ms.end(), int64_t{0});
}

void Prefix(std::vector<Violation>& violations, size_t from, const std::string& prefix) {
  for (size_t i = from; i < violations.size(); ++i) {
    violations[i].detail = prefix + violations[i].detail;
  }
}

}  // namespace

RunReport RunPlan(const ChaosPlan& plan, const RunSettings& settings) {
  RunReport report;
  report.plan = plan;
  if (const std::string why = DerivationPrecondition(plan); !why.empty()) {
    report.violations.push_back({"plan", "the bounds do not apply: " + why});
    return report;
  }
  for (size_t group = 0; group < plan.groups.size(); ++group) {
    GroupReport group_report;
    group_report.sync_id = plan.groups[group].sync_id;
    group_report.bounds = DeriveBounds(plan, group);
    report.groups.push_back(std::move(group_report));
  }
  int64_t latest_bound = plan.quiet_from_us();
  for (const auto& group : report.groups) {
    latest_bound = std::max(latest_bound, group.bounds.spread_from_us);
  }
  const int64_t early_probe_us =
      std::max(latest_bound, plan.quiet_from_us() + plan.quiet_phase_us / 3);

  std::vector<std::vector<DeviceRecord>> records(plan.groups.size());
  {
    ChaosWorld world(plan, settings.trace_sink);
    world.RunUntil(early_probe_us);
    report.early_memory = world.Probe();
    world.RunUntil(plan.end_us());
    report.late_memory = world.Probe();
    report.trace_digest = world.lan().trace().digest();
    for (size_t device = 0; device < plan.devices.size(); ++device) {
      records[plan.devices[device].group].push_back(world.Record(device));
    }
  }

  for (size_t group = 0; group < plan.groups.size(); ++group) {
    GroupReport& group_report = report.groups[group];
    const auto& group_records = records[group];
    for (const auto& record : group_records) group_report.addresses.push_back(record.address);
    const size_t before = report.violations.size();
    group_report.election =
        CheckElection(group_records, group_report.bounds, plan.end_us(), report.violations);
    if (group_report.election.parent_at_end) {
      group_report.spread_checked = true;
      group_report.spread = CheckSpread(group_records, *group_report.election.parent_at_end,
                                        ScheduleTotalMs(plan.groups[group]), group_report.bounds,
                                        plan.end_us(), report.violations);
    }
    Prefix(report.violations, before,
           "group " + std::to_string(group) + " (sync ID " + std::to_string(group_report.sync_id) +
               "): ");
  }
  if (early_probe_us < plan.end_us()) {
    CheckMemory(report.early_memory, report.late_memory, settings.memory_allowance,
                report.violations);
  }
  return report;
}

}  // namespace chaos
