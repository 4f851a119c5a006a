#include "platform/sim/address.h"

#include <cstdio>

namespace sim {

std::optional<uint32_t> ParseIpv4(std::string_view text) {
  uint32_t address = 0;
  size_t position = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (position >= text.size() || text[position] != '.') return std::nullopt;
      ++position;
    }
    const size_t start = position;
    uint32_t value = 0;
    while (position < text.size() && text[position] >= '0' && text[position] <= '9' &&
           position - start < 3) {
      value = value * 10 + static_cast<uint32_t>(text[position] - '0');
      ++position;
    }
    if (position == start || value > 255) return std::nullopt;
    address = (address << 8) | value;
  }
  if (position != text.size()) return std::nullopt;
  return address;
}

std::string FormatIpv4(uint32_t address) {
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", address >> 24, (address >> 16) & 0xFF,
                (address >> 8) & 0xFF, address & 0xFF);
  return text;
}

std::string FormatEndpoint(uint32_t address, uint16_t port) {
  return FormatIpv4(address) + ":" + std::to_string(port);
}

}  // namespace sim
