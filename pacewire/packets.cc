#include "pacewire/packets.h"

#include <cstring>

namespace pacewire {

void WriteTextField(char* field, size_t width, std::string_view text) {
  if (width == 0) return;
  size_t kept = text.size() < width - 1 ? text.size() : width - 1;
  if (kept > 0) {
    if (const void* nul = std::memchr(text.data(), '\0', kept)) {
      kept = static_cast<size_t>(static_cast<const char*>(nul) - text.data());
    }
    std::memcpy(field, text.data(), kept);
  }
  std::memset(field + kept, 0, width - kept);
}

std::string ReadTextField(const char* field, size_t width) {
  const void* nul = std::memchr(field, '\0', width);
  const size_t length = nul ? static_cast<size_t>(static_cast<const char*>(nul) - field) : width;
  return std::string(field, length);
}

void PacketMonitoring::reset() {
  header = Packet(kSize, kPacketTypeNotFilled);
  WriteTextField(deviceIP, std::string_view());
  packetClock = 0;
  isMaster = 0;
}

void PacketMonitoringToNotifyPlayStarted::reset() {
  header = Packet(kSize, kPacketTypeNotFilled);
  syncId = -1;
  WriteTextField(deviceIP, std::string_view());
  playStartedClock = 0;
  setTimeStamp(std::string_view());
}

void PacketMonitoringToNotifyPlayStarted::setTimeStamp(std::string_view text) {
  WriteTextField(timeStamp, text);
}

std::string PacketMonitoringToNotifyPlayStarted::getTimeStamp() const {
  return ReadTextField(timeStamp, kTimeStampWidth);
}

std::string PacketSetMonitoringMode::address() const {
  return ReadTextField(monitoringAddress, kAddressWidth);
}

}  // namespace pacewire
