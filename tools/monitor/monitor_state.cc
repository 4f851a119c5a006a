#include "tools/monitor/monitor_state.h"

#include <map>
#include <numeric>
#include <utility>

#include "tools/monitor/schedule_spread.h"

namespace pacewire_monitor {

uint64_t MalformedCounts::total() const {
  return std::accumulate(by_reason.begin(), by_reason.end(), uint64_t{0});
}

MonitorState::MonitorState(const std::vector<WatchedDevice>& devices) {
  for (const WatchedDevice& device : devices) {
    DeviceRow row;
    row.name = device.name();
    row.address = device.address;
    rows_.push_back(std::move(row));
    hosts_.push_back(device.host);
  }
}

std::optional<size_t> MonitorState::RowFor(const std::string& source,
                                           const std::string& device_ip) {
  std::vector<size_t> at_source;
  for (size_t i = 0; i < hosts_.size(); ++i) {
    if (rows_[i].address == source) at_source.push_back(i);
  }
  if (at_source.size() == 1) return at_source.front();
  if (at_source.size() > 1) {
    for (const size_t i : at_source) {
      if (rows_[i].device_ip == device_ip) return i;
    }
    for (const size_t i : at_source) {
      if (rows_[i].device_ip.empty()) return i;
    }
  } else {
    for (size_t i = 0; i < hosts_.size(); ++i) {
      if (!device_ip.empty() && (rows_[i].address == device_ip || hosts_[i] == device_ip)) {
        return i;
      }
    }
  }
  size_t unrequested = 0;
  for (size_t i = hosts_.size(); i < rows_.size(); ++i) {
    if (rows_[i].address == source && rows_[i].device_ip == device_ip) return i;
    ++unrequested;
  }
  if (unrequested >= kMaxUnrequestedRows) return std::nullopt;
  DeviceRow row;
  row.name = source;
  row.address = source;
  row.requested = false;
  row.device_ip = device_ip;
  rows_.push_back(std::move(row));
  return rows_.size() - 1;
}

TakenDatagram MonitorState::Take(std::string_view bytes, size_t length,
                                 const tool_io::UdpEndpoint& from, ReceiptTime at) {
  TakenDatagram taken{DecodeDatagram(bytes, length), std::nullopt, length, from, at};
  if (const auto* malformed = std::get_if<MalformedDatagram>(&taken.decoded)) {
    ++malformed_.by_reason[static_cast<size_t>(malformed->reason)];
    malformed_.last_from = from.ToString();
  } else if (const auto* monitoring = std::get_if<pacewire::PacketMonitoring>(&taken.decoded)) {
    const std::string device_ip =
        pacewire::ReadTextField(monitoring->deviceIP, pacewire::PacketMonitoring::kDeviceIPWidth);
    taken.row = RowFor(from.address, device_ip);
    if (taken.row) {
      DeviceRow& row = rows_[*taken.row];
      row.device_ip = device_ip;
      row.monitoring = Sample<pacewire::PacketMonitoring>{*monitoring, at, from};
      ++row.monitoring_packets;
    }
  } else {
    const auto& notify = std::get<pacewire::PacketMonitoringToNotifyPlayStarted>(taken.decoded);
    const std::string device_ip = pacewire::ReadTextField(
        notify.deviceIP, pacewire::PacketMonitoringToNotifyPlayStarted::kDeviceIPWidth);
    taken.row = RowFor(from.address, device_ip);
    if (taken.row) {
      DeviceRow& row = rows_[*taken.row];
      row.device_ip = device_ip;
      row.notify = Sample<pacewire::PacketMonitoringToNotifyPlayStarted>{notify, at, from};
      ++row.notify_packets;
    }
  }
  if (!taken.row && !std::holds_alternative<MalformedDatagram>(taken.decoded)) ++dropped_;
  return taken;
}

std::vector<GroupSpread> MonitorState::Groups(int64_t now_steady_ms) const {
  std::map<int32_t, GroupSpread> groups;
  for (size_t i = 0; i < rows_.size(); ++i) {
    const auto& sample = rows_[i].monitoring;
    if (!sample || now_steady_ms - sample->at.steady_ms > kFreshForMs) continue;
    const pacewire::PacketSyncPlay& state = sample->record.syncPlay;
    if (state.syncId < 0) continue;
    GroupSpread& group = groups[state.syncId];
    group.sync_id = state.syncId;
    const bool parent = sample->record.isMaster != 0;
    group.members.push_back({i, EstimateScheduleStart(sample->at.wall_ms, state), parent});
    if (parent) ++group.parents;
  }
  std::vector<GroupSpread> spreads;
  for (auto& [sync_id, group] : groups) {
    const int32_t duration =
        rows_[group.members.front().row].monitoring->record.syncPlay.frameScheduleDuration;
    bool same_duration = duration > 0;
    std::vector<int64_t> starts;
    for (const GroupMember& member : group.members) {
      starts.push_back(member.schedule_start);
      same_duration =
          same_duration &&
          rows_[member.row].monitoring->record.syncPlay.frameScheduleDuration == duration;
    }
    group.schedule_duration_ms = same_duration ? duration : 0;
    group.spread_ms = ScheduleStartSpread(starts, group.schedule_duration_ms);
    spreads.push_back(std::move(group));
  }
  return spreads;
}

}  // namespace pacewire_monitor
