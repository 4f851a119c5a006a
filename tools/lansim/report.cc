#include "tools/lansim/report.h"

#include <cinttypes>
#include <cstdio>

namespace lansim {

std::string SeedText(uint64_t seed) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%" PRIx64, seed);
  return text;
}

RunReport MakeReport(Simulation& simulation) {
  RunReport report;
  report.options = simulation.options();
  report.end_us = simulation.now_us();
  report.trace_digest = simulation.lan().trace().digest();
  report.marks = simulation.marks();

  for (size_t device = 0; device < simulation.device_count(); ++device) {
    const scenario::ReferencePage& page = simulation.page(device);
    DeviceReport entry;
    entry.address = page.device().address();
    entry.group = simulation.group_of(device);
    entry.role = page.role();
    entry.position_ms = page.position_ms();
    entry.told_us = page.position_time_us();
    entry.page_index = page.page_index();
    entry.restarts = page.counts().starts > 0 ? page.counts().starts - 1 : 0;
    entry.drift_ppm = simulation.drift_ppm(device);
    entry.clock_offset_us = simulation.clock_offset_us(device);
    entry.traffic = simulation.traffic(device);
    entry.page = page.counts();
    report.totals.sent += entry.traffic.sent;
    report.totals.received += entry.traffic.received;
    for (size_t reason = 0; reason < entry.traffic.dropped.size(); ++reason) {
      report.totals.dropped[reason] += entry.traffic.dropped[reason];
    }
    report.devices.push_back(std::move(entry));
  }

  for (size_t group = 0; group < report.options.groups.size(); ++group) {
    GroupReport entry;
    entry.sync_id = report.options.groups[group].sync_id;
    std::vector<const std::vector<scenario::RoleEvent>*> roles;
    std::vector<const PositionTrack*> tracks;
    for (size_t device = 0; device < simulation.device_count(); ++device) {
      if (simulation.group_of(device) != group) continue;
      entry.devices.push_back(device);
      roles.push_back(&simulation.page(device).role_events());
      tracks.push_back(&simulation.page(device).samples());
    }
    entry.roles = AnalyseGroupRoles(roles, report.end_us);
    if (entry.roles.parents_at_end == 1) {
      for (const size_t device : entry.devices) {
        if (report.devices[device].role == scenario::DeviceRole::kParent) {
          entry.parent_at_end = report.devices[device].address;
        }
      }
    }
    // Every schedule of a run is the same; its total is each page's.
    const int64_t total_ms = simulation.page(entry.devices.front()).schedule_total_ms();
    entry.spread_series = SpreadSeries(tracks, 0, report.end_us, kSpreadStepUs, total_ms);
    if (entry.roles.settled_us) {
      entry.spread = Summarize(entry.spread_series, *entry.roles.settled_us);
    }
    report.groups.push_back(std::move(entry));
  }
  return report;
}

}  // namespace lansim
