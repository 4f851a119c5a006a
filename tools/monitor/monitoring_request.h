// The set-monitoring-mode datagram a monitoring tool sends to a device's sync
// port: where the device is to send its monitoring packets, and whether at all.
#pragma once

#include <cstdint>
#include <string>

namespace pacewire_monitor {

// The 48 bytes of the request: size 48, type 1, the port, the address text
// (at most 31 bytes, zero-padded), monitoringOn 1 or 0, zeros after.
std::string SetMonitoringModeDatagram(const std::string& address, uint16_t port, bool on);

}  // namespace pacewire_monitor
