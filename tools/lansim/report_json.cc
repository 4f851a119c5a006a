#include "tools/lansim/report_json.h"

#include "platform/sim/trace.h"
#include "tools/lansim/report_text.h"

namespace lansim {
namespace {

using Json = nlohmann::ordered_json;

double Ms(int64_t us) {
  return static_cast<double>(us) / kMillisecondUs;
}

template <typename T>
Json OrNull(const std::optional<T>& value) {
  return value ? Json(*value) : Json(nullptr);
}

const char* MarkKind(ScenarioMark::Kind kind) {
  switch (kind) {
    case ScenarioMark::Kind::kPartition:
      return "partition";
    case ScenarioMark::Kind::kRestart:
      return "restart";
    case ScenarioMark::Kind::kClockStep:
      return "clock-step";
  }
  return "?";
}

Json Drops(const std::array<uint64_t, 6>& dropped) {
  Json out = Json::object();
  for (size_t reason = 1; reason < dropped.size(); ++reason) {
    out[sim::DropReasonName(static_cast<sim::DropReason>(reason))] = dropped[reason];
  }
  return out;
}

Json Options(const ScenarioOptions& options) {
  Json groups = Json::array();
  for (const auto& group : options.groups) {
    groups.push_back({{"sync_id", group.sync_id}, {"devices", group.devices}});
  }
  return {{"groups", groups},
          {"schedule_ms", options.schedule_ms},
          {"duration_ms", Ms(options.duration_us)},
          {"seed", SeedText(options.seed)},
          {"delay_ms", Ms(options.delay_us)},
          {"jitter_ms", Ms(options.jitter_us)},
          {"loss", options.loss},
          {"duplicate", options.duplicate},
          {"reorder", options.reorder},
          {"drift_ppm", options.drift_ppm},
          {"clock_offset_ms", Ms(options.clock_offset_us)}};
}

Json Group(const RunReport& report, const GroupReport& group) {
  Json devices = Json::array();
  for (const size_t device : group.devices) devices.push_back(report.devices[device].address);
  Json role_change_times = Json::array();
  for (const int64_t time : group.roles.change_times_us) role_change_times.push_back(Ms(time));
  Json spread = nullptr;
  if (group.spread) {
    spread = {{"instants", group.spread->instants},
              {"p50_ms", Ms(group.spread->p50_us)},
              {"p99_ms", Ms(group.spread->p99_us)},
              {"max_ms", Ms(group.spread->max_us)}};
  }
  return {{"sync_id", group.sync_id},
          {"devices", devices},
          {"settled_ms", group.roles.settled_us ? Json(Ms(*group.roles.settled_us)) : Json()},
          {"one_parent_share", group.roles.one_parent_share},
          {"parents_at_end", group.roles.parents_at_end},
          {"parent_at_end", group.parent_at_end.empty() ? Json() : Json(group.parent_at_end)},
          {"role_changes", group.roles.role_changes},
          {"role_change_times_ms", role_change_times},
          {"spread", spread}};
}

Json Device(const RunReport& report, const DeviceReport& device) {
  return {{"address", device.address},
          {"sync_id", report.groups[device.group].sync_id},
          {"role", scenario::DeviceRoleName(device.role)},
          {"position_ms", OrNull(device.position_ms)},
          {"told_at_ms", device.told_us ? Json(Ms(*device.told_us)) : Json()},
          {"page", device.page_index + 1},
          {"restarts", device.restarts},
          {"drift_ppm", device.drift_ppm},
          {"clock_offset_ms", Ms(device.clock_offset_us)},
          {"datagrams",
           {{"sent", device.traffic.sent},
            {"received", device.traffic.received},
            {"dropped", Drops(device.traffic.dropped)}}},
          {"page_messages",
           {{"received", device.page.dictionaries_received},
            {"sent", device.page.messages_sent},
            {"log_lines", device.page.log_lines_received},
            {"play_time", device.page.play_time_messages},
            {"device_ip_requests", device.page.device_ip_requests},
            {"page_changes", device.page.page_changes}}}};
}

}  // namespace

nlohmann::ordered_json ReportToJson(const RunReport& report) {
  Json marks = Json::array();
  for (const auto& mark : report.marks) {
    marks.push_back({{"kind", MarkKind(mark.kind)},
                     {"from_ms", Ms(mark.from_us)},
                     {"until_ms", Ms(mark.until_us)},
                     {"what", mark.text}});
  }
  Json groups = Json::array();
  for (const auto& group : report.groups) groups.push_back(Group(report, group));
  Json devices = Json::array();
  for (const auto& device : report.devices) devices.push_back(Device(report, device));
  char digest[24];
  std::snprintf(digest, sizeof digest, "0x%016llx",
                static_cast<unsigned long long>(report.trace_digest));
  return {{"options", Options(report.options)},
          {"end_ms", Ms(report.end_us)},
          {"events", marks},
          {"groups", groups},
          {"devices", devices},
          {"datagrams",
           {{"sent", report.totals.sent},
            {"received", report.totals.received},
            {"dropped", Drops(report.totals.dropped)}}},
          {"trace_digest", digest}};
}

}  // namespace lansim
