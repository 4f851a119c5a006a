#include "tools/lansim/report_text.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>

#include "platform/sim/trace.h"

namespace lansim {
namespace {

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char buffer[512];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(buffer, sizeof buffer, format, arguments);
  va_end(arguments);
  return buffer;
}

std::string Percent(double share) {
  return Format("%g%%", share * 100);
}

std::string DeviceRange(const RunReport& report, const std::vector<size_t>& devices) {
  if (devices.empty()) return "none";
  bool consecutive = true;
  for (size_t i = 1; i < devices.size(); ++i) consecutive &= devices[i] == devices[i - 1] + 1;
  if (devices.size() == 1) return report.devices[devices[0]].address;
  if (consecutive) {
    return report.devices[devices.front()].address + "-" + report.devices[devices.back()].address;
  }
  std::string text;
  for (const size_t device : devices)
    text += (text.empty() ? "" : ",") + report.devices[device].address;
  return text;
}

std::string Schedule(const std::vector<int64_t>& schedule_ms) {
  std::string text;
  for (const int64_t ms : schedule_ms) {
    if (!text.empty()) text += '+';
    text += std::to_string(ms);
  }
  return text + " ms";
}

std::string MarkLine(const ScenarioMark& mark) {
  switch (mark.kind) {
    case ScenarioMark::Kind::kPartition:
      return Format("%10s-%-10s partition %s", FormatSeconds(mark.from_us).c_str(),
                    FormatSeconds(mark.until_us).c_str(), mark.text.c_str());
    case ScenarioMark::Kind::kRestart:
      return Format("%10s %-10s restart %s (down %s)", FormatSeconds(mark.from_us).c_str(), "",
                    mark.text.c_str(), FormatSeconds(mark.until_us - mark.from_us).c_str());
    case ScenarioMark::Kind::kClockStep:
      return Format("%10s %-10s clock step %s", FormatSeconds(mark.from_us).c_str(), "",
                    mark.text.c_str());
  }
  return {};
}

std::string GroupBlock(const RunReport& report, const GroupReport& group) {
  std::string out =
      Format("group %d: %zu device%s, %s\n", group.sync_id, group.devices.size(),
             group.devices.size() == 1 ? "" : "s", DeviceRange(report, group.devices).c_str());
  if (group.roles.settled_us) {
    out +=
        Format("  one parent after   %s  (exactly one parent %.1f%% of the time since)\n",
               FormatSeconds(*group.roles.settled_us).c_str(), group.roles.one_parent_share * 100);
  } else {
    out += "  one parent after   never\n";
  }
  out += Format("  parents at end     %zu%s\n", group.roles.parents_at_end,
                group.parent_at_end.empty() ? "" : (" (" + group.parent_at_end + ")").c_str());
  out += Format("  role changes       %zu\n", group.roles.role_changes);
  if (group.spread) {
    out += Format("  sync spread        p50 %s   p99 %s   max %s   (%zu instants)\n",
                  FormatMilliseconds(group.spread->p50_us).c_str(),
                  FormatMilliseconds(group.spread->p99_us).c_str(),
                  FormatMilliseconds(group.spread->max_us).c_str(), group.spread->instants);
  } else {
    out += "  sync spread        n/a (no two pages told a position after settling)\n";
  }
  return out;
}

std::string DeviceTable(const RunReport& report) {
  std::string out = Format("%-12s %6s %-7s %10s %9s %5s %8s %7s %7s %7s %14s %6s\n", "device",
                           "group", "role", "position", "told at", "page", "restarts", "sent",
                           "recv", "dropped", "page in/out", "logs");
  for (const auto& device : report.devices) {
    const std::string position =
        device.position_ms ? FormatSeconds(*device.position_ms * kMillisecondUs) : "-";
    const std::string told = device.told_us ? FormatSeconds(*device.told_us) : "-";
    const std::string messages = Format("%" PRIu64 "/%" PRIu64, device.page.dictionaries_received,
                                        device.page.messages_sent);
    out +=
        Format("%-12s %6d %-7s %10s %9s %5zu %8" PRIu64 " %7" PRIu64 " %7" PRIu64 " %7" PRIu64
               " %14s %6" PRIu64 "\n",
               device.address.c_str(), report.groups[device.group].sync_id,
               scenario::DeviceRoleName(device.role), position.c_str(), told.c_str(),
               device.page_index + 1, device.restarts, device.traffic.sent, device.traffic.received,
               device.traffic.dropped_total(), messages.c_str(), device.page.log_lines_received);
  }
  return out;
}

std::string TrafficLine(const TrafficTotals& totals) {
  std::string reasons;
  uint64_t dropped = 0;
  for (size_t reason = 1; reason < totals.dropped.size(); ++reason) {
    dropped += totals.dropped[reason];
    if (totals.dropped[reason] == 0) continue;
    reasons +=
        Format("%s%s %" PRIu64, reasons.empty() ? "" : ", ",
               sim::DropReasonName(static_cast<sim::DropReason>(reason)), totals.dropped[reason]);
  }
  return Format("datagrams: %" PRIu64 " sent, %" PRIu64 " received, %" PRIu64 " dropped%s\n",
                totals.sent, totals.received, dropped,
                reasons.empty() ? "" : (" (" + reasons + ")").c_str());
}

}  // namespace

std::string FormatSeconds(int64_t us) {
  return Format("%.2f s", static_cast<double>(us) / kSecondUs);
}

std::string FormatMilliseconds(int64_t us) {
  const double ms = static_cast<double>(us) / kMillisecondUs;
  return us < 10 * kMillisecondUs ? Format("%.2f ms", ms) : Format("%.1f ms", ms);
}

std::string FormatTextReport(const RunReport& report) {
  const ScenarioOptions& options = report.options;
  std::string out;
  out += Format("lansim: %zu device%s in %zu group%s, %s of virtual time, seed %s\n",
                report.devices.size(), report.devices.size() == 1 ? "" : "s", report.groups.size(),
                report.groups.size() == 1 ? "" : "s", FormatSeconds(report.end_us).c_str(),
                SeedText(options.seed).c_str());
  out += Format("schedule %s; wire: delay %s, jitter %s, loss %s, duplicate %s, reorder %s\n",
                Schedule(options.schedule_ms).c_str(), FormatMilliseconds(options.delay_us).c_str(),
                FormatMilliseconds(options.jitter_us).c_str(), Percent(options.loss).c_str(),
                Percent(options.duplicate).c_str(), Percent(options.reorder).c_str());
  if (options.drift_ppm > 0 || options.clock_offset_us > 0) {
    out += Format("clocks: drift up to %g ppm, offset up to %s\n", options.drift_ppm,
                  FormatMilliseconds(options.clock_offset_us).c_str());
  }
  for (const auto& mark : report.marks) out += "event " + MarkLine(mark) + "\n";
  out += "\n";
  for (const auto& group : report.groups) out += GroupBlock(report, group) + "\n";
  out += DeviceTable(report) + "\n";
  out += TrafficLine(report.totals);
  out += Format("trace digest 0x%016" PRIx64 "; replay with --seed %s and the same options\n",
                report.trace_digest, SeedText(options.seed).c_str());
  return out;
}

}  // namespace lansim
