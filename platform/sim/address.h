// IPv4 addresses of the simulated LAN, kept in host byte order (10.0.0.3 is
// 0x0A000003), and the few rules about them that routing needs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sim {

constexpr uint32_t kAnyAddress = 0;                 // 0.0.0.0
constexpr uint32_t kLimitedBroadcast = 0xFFFFFFFF;  // 255.255.255.255
constexpr uint32_t kLoopbackAddress = 0x7F000001;   // 127.0.0.1

// Strict dotted quad: four decimal numbers 0-255, nothing else around them.
std::optional<uint32_t> ParseIpv4(std::string_view text);
std::string FormatIpv4(uint32_t address);
std::string FormatEndpoint(uint32_t address, uint16_t port);  // "10.0.0.3:47475"

inline uint32_t Subnet24(uint32_t address) {
  return address & 0xFFFFFF00u;
}
inline bool SameSubnet24(uint32_t a, uint32_t b) {
  return Subnet24(a) == Subnet24(b);
}
inline bool IsLoopback(uint32_t address) {
  return (address >> 24) == 127;
}
// 255.255.255.255, or the a.b.c.255 of the sender's own /24.
inline bool IsBroadcastFrom(uint32_t sender, uint32_t destination) {
  return destination == kLimitedBroadcast ||
         (SameSubnet24(sender, destination) && (destination & 0xFF) == 0xFF);
}

}  // namespace sim
