#include "tools/monitor/json_lines.h"

#include "tools/event/printable_text.h"
#include "tools/monitor/schedule_spread.h"

namespace pacewire_monitor {
namespace {

using nlohmann::json;

std::string TextField(const char* field, size_t width) {
  return tool_io::EscapeForLine(pacewire::ReadTextField(field, width));
}

json SyncPlayJson(const pacewire::PacketSyncPlay& state) {
  return json{{"size", state.header.getSize()},
              {"type", state.header.getType()},
              {"syncId", state.syncId},
              {"playTime", state.playTime},
              {"elapsedTimeFromMaster", state.elapsedTimeFromMaster},
              {"ipLastNumber", state.ipLastNumber},
              {"currentPageDuration", state.currentPageDuration},
              {"frameScheduleDuration", state.frameScheduleDuration}};
}

json Common(const char* kind, const TakenDatagram& taken, const MonitorState& state) {
  json object{{"kind", kind},
              {"receivedAt", taken.at.wall_ms},
              {"from", taken.from.ToString()},
              {"length", taken.length}};
  object["device"] =
      taken.row ? json(tool_io::EscapeForLine(state.rows()[*taken.row].name)) : json(nullptr);
  return object;
}

}  // namespace

json PacketJson(const TakenDatagram& taken, const MonitorState& state) {
  if (const auto* packet = std::get_if<pacewire::PacketMonitoring>(&taken.decoded)) {
    json object = Common("monitoring", taken, state);
    object["size"] = packet->header.getSize();
    object["type"] = packet->header.getType();
    object["deviceIP"] = TextField(packet->deviceIP, pacewire::PacketMonitoring::kDeviceIPWidth);
    object["packetClock"] = packet->packetClock;
    object["isMaster"] = packet->isMaster;
    object["role"] = packet->isMaster != 0 ? "parent" : "child";
    object["syncPlay"] = SyncPlayJson(packet->syncPlay);
    object["scheduleStart"] = EstimateScheduleStart(taken.at.wall_ms, packet->syncPlay);
    return object;
  }
  if (const auto* packet =
          std::get_if<pacewire::PacketMonitoringToNotifyPlayStarted>(&taken.decoded)) {
    using Notify = pacewire::PacketMonitoringToNotifyPlayStarted;
    json object = Common("notify", taken, state);
    object["size"] = packet->header.getSize();
    object["type"] = packet->header.getType();
    object["syncId"] = packet->syncId;
    object["deviceIP"] = TextField(packet->deviceIP, Notify::kDeviceIPWidth);
    object["playStartedClock"] = packet->playStartedClock;
    object["timeStamp"] = TextField(packet->timeStamp, Notify::kTimeStampWidth);
    return object;
  }
  const auto& malformed = std::get<MalformedDatagram>(taken.decoded);
  json object = Common("malformed", taken, state);
  object["reason"] = Describe(malformed.reason);
  if (malformed.reason != MalformedReason::kTooShort) object["type"] = malformed.type;
  return object;
}

json GroupJson(const GroupSpread& group, const MonitorState& state, int64_t at_wall_ms) {
  json members = json::array();
  for (const GroupMember& member : group.members) {
    members.push_back(json{{"device", tool_io::EscapeForLine(state.rows()[member.row].name)},
                           {"role", member.parent ? "parent" : "child"},
                           {"scheduleStart", member.schedule_start}});
  }
  return json{{"kind", "group"},
              {"at", at_wall_ms},
              {"syncId", group.sync_id},
              {"devices", group.members.size()},
              {"parents", group.parents},
              {"spreadMs", group.spread_ms},
              {"aroundScheduleMs", group.schedule_duration_ms},
              {"members", std::move(members)}};
}

json RequestJson(const SentRequest& request, int64_t at_wall_ms) {
  json object{{"kind", "request"},
              {"at", at_wall_ms},
              {"device", tool_io::EscapeForLine(request.device)},
              {"to", request.address},
              {"monitoringAddress", request.monitoring_address},
              {"monitoringPort", request.monitoring_port},
              {"monitoringOn", request.on ? 1 : 0}};
  if (!request.error.empty()) object["error"] = request.error;
  return object;
}

}  // namespace pacewire_monitor
