// The monitor's --jsonl objects, one per output line. Every object has "kind":
// "monitoring" and "notify" (one per packet, every field of the record by its
// wire name), "malformed", "group" and "request". Texts from the network are
// escaped as in the table (see tools/event/printable_text.h).
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "tools/monitor/monitor_state.h"

namespace pacewire_monitor {

nlohmann::json PacketJson(const TakenDatagram& taken, const MonitorState& state);
nlohmann::json GroupJson(const GroupSpread& group, const MonitorState& state, int64_t at_wall_ms);

struct SentRequest {
  std::string device;   // HOST:PORT as named
  std::string address;  // where it went
  std::string monitoring_address;
  uint16_t monitoring_port = 0;
  bool on = true;
  std::string error;  // empty when sent
};
nlohmann::json RequestJson(const SentRequest& request, int64_t at_wall_ms);

}  // namespace pacewire_monitor
