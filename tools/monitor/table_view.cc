#include "tools/monitor/table_view.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "tools/event/printable_text.h"

namespace pacewire_monitor {
namespace {

using Cells = std::vector<std::string>;

std::string Seconds(int64_t ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1fs", static_cast<double>(ms) / 1000.0);
  return text;
}

std::string Quoted(const std::string& text) {
  return "\"" + tool_io::EscapeForLine(text) + "\"";
}

std::string TimeStampOf(const pacewire::PacketMonitoringToNotifyPlayStarted& notify) {
  return pacewire::ReadTextField(notify.timeStamp,
                                 pacewire::PacketMonitoringToNotifyPlayStarted::kTimeStampWidth);
}

std::string Role(const pacewire::PacketMonitoring& packet) {
  return packet.isMaster != 0 ? "parent" : "child";
}

// Left-aligned columns, two spaces apart.
std::string Columns(const std::vector<Cells>& rows) {
  std::vector<size_t> widths;
  for (const Cells& row : rows) {
    widths.resize(std::max(widths.size(), row.size()), 0);
    for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
  }
  std::string text;
  for (const Cells& row : rows) {
    std::string line;
    for (size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line += std::string(widths[i] - row[i].size() + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    text += line + "\n";
  }
  return text;
}

std::string NotifyCell(const DeviceRow& row, const ViewMoment& moment) {
  if (!row.notify) return "0";
  return std::to_string(row.notify_packets) + ", " + Quoted(TimeStampOf(row.notify->record)) + " " +
         Seconds(moment.steady_ms - row.notify->at.steady_ms) + " ago";
}

std::string WaitingNote(const DeviceRow& row) {
  return row.request_error.empty() ? "waiting for packets" : "request failed: " + row.request_error;
}

std::string MalformedSummary(const MalformedCounts& malformed) {
  std::string text = std::to_string(malformed.total());
  if (malformed.total() == 0) return text;
  text += " (";
  for (size_t i = 0; i < malformed.by_reason.size(); ++i) {
    if (i > 0) text += ", ";
    text += std::string(Describe(static_cast<MalformedReason>(i))) + " " +
            std::to_string(malformed.by_reason[i]);
  }
  return text + "; last from " + malformed.last_from + ")";
}

std::string SpreadText(const GroupSpread& group) {
  std::string text = std::to_string(group.spread_ms) + " ms";
  if (group.members.size() > 1 && group.schedule_duration_ms == 0) {
    text += " (schedule durations differ)";
  }
  return text;
}

}  // namespace

std::string FormatTable(const MonitorState& state, const ViewMoment& moment) {
  std::string text = "pacewire-monitor  listening on " + moment.listening + "  running " +
                     Seconds(moment.since_start_ms) + "\n\n";
  std::vector<Cells> devices = {{"DEVICE", "DEVICE IP", "SID", "ROLE", "PLAY ms", "PAGES ms",
                                 "PAGE ms", "SCHEDULE ms", "AGE", "PACKETS", "NOTIFY"}};
  for (const DeviceRow& row : state.rows()) {
    const std::string name =
        tool_io::EscapeForLine(row.name) + (row.requested ? "" : " (not requested)");
    if (!row.monitoring) {
      devices.push_back({name, row.device_ip.empty() ? "-" : tool_io::EscapeForLine(row.device_ip),
                         "-", "-", "-", "-", "-", "-", "-", "0",
                         row.notify ? NotifyCell(row, moment) : WaitingNote(row)});
      continue;
    }
    const pacewire::PacketMonitoring& packet = row.monitoring->record;
    const pacewire::PacketSyncPlay& sync = packet.syncPlay;
    devices.push_back(
        {name, tool_io::EscapeForLine(row.device_ip), std::to_string(sync.syncId), Role(packet),
         std::to_string(sync.playTime), std::to_string(sync.elapsedTimeFromMaster),
         std::to_string(sync.currentPageDuration), std::to_string(sync.frameScheduleDuration),
         Seconds(moment.steady_ms - row.monitoring->at.steady_ms),
         std::to_string(row.monitoring_packets), NotifyCell(row, moment)});
  }
  text += Columns(devices) + "\n";

  std::vector<Cells> groups = {{"GROUP", "DEVICES", "PARENTS", "SCHEDULE START SPREAD"}};
  for (const GroupSpread& group : state.Groups(moment.steady_ms)) {
    groups.push_back({std::to_string(group.sync_id), std::to_string(group.members.size()),
                      std::to_string(group.parents), SpreadText(group)});
  }
  if (groups.size() == 1) groups.push_back({"-", "0", "0", "no device reported in the last 3 s"});
  text += Columns(groups) + "\n";
  text += "malformed datagrams: " + MalformedSummary(state.malformed()) + "\n";
  if (state.dropped() > 0) {
    text +=
        "packets from too many other senders, not shown: " + std::to_string(state.dropped()) + "\n";
  }
  return text;
}

std::string FormatLines(const MonitorState& state, const ViewMoment& moment) {
  const std::string when = "[" + Seconds(moment.since_start_ms) + "] ";
  std::string text;
  for (const DeviceRow& row : state.rows()) {
    std::string line = when + "device " + tool_io::EscapeForLine(row.name);
    if (!row.requested) line += " not-requested";
    if (row.monitoring) {
      const pacewire::PacketMonitoring& packet = row.monitoring->record;
      const pacewire::PacketSyncPlay& sync = packet.syncPlay;
      line += " ip=" + tool_io::EscapeForLine(row.device_ip) +
              " sid=" + std::to_string(sync.syncId) + " role=" + Role(packet) +
              " play=" + std::to_string(sync.playTime) +
              " pages=" + std::to_string(sync.elapsedTimeFromMaster) +
              " page=" + std::to_string(sync.currentPageDuration) +
              " schedule=" + std::to_string(sync.frameScheduleDuration) +
              " age=" + Seconds(moment.steady_ms - row.monitoring->at.steady_ms) +
              " packets=" + std::to_string(row.monitoring_packets);
    } else {
      line += row.request_error.empty() ? " waiting" : " request-failed: " + row.request_error;
    }
    line += " notify=" + std::to_string(row.notify_packets);
    if (row.notify) line += " timestamp=" + Quoted(TimeStampOf(row.notify->record));
    text += line + "\n";
  }
  for (const GroupSpread& group : state.Groups(moment.steady_ms)) {
    text += when + "group " + std::to_string(group.sync_id) +
            " devices=" + std::to_string(group.members.size()) +
            " parents=" + std::to_string(group.parents) +
            " spread=" + std::to_string(group.spread_ms) + "ms";
    if (group.members.size() > 1 && group.schedule_duration_ms == 0) {
      text += " schedule-durations-differ";
    }
    text += "\n";
  }
  if (state.malformed().total() > 0) {
    text += when + "malformed " + MalformedSummary(state.malformed()) + "\n";
  }
  if (state.dropped() > 0) {
    text += when + "dropped " + std::to_string(state.dropped()) + " from too many other senders\n";
  }
  return text;
}

}  // namespace pacewire_monitor
