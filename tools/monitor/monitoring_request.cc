#include "tools/monitor/monitoring_request.h"

#include <cstring>

#include "pacewire/packets.h"

namespace pacewire_monitor {

std::string SetMonitoringModeDatagram(const std::string& address, uint16_t port, bool on) {
  pacewire::PacketSetMonitoringMode request;
  request.header = pacewire::Packet(static_cast<int32_t>(sizeof request),
                                    pacewire::kPacketTypeSetMonitoringMode);
  request.monitoringPort = port;
  pacewire::WriteTextField(request.monitoringAddress, address);
  request.monitoringOn = on ? 1 : 0;
  std::string bytes(sizeof request, '\0');
  std::memcpy(bytes.data(), &request, sizeof request);
  return bytes;
}

}  // namespace pacewire_monitor
