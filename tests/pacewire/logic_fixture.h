// A PlayTimerLogic whose log lines go to a recording page, with helpers that
// build page messages, received datagrams and readable views of what the logic
// hands out.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "pacewire/packets.h"
#include "pacewire/play_timer_logic.h"
#include "page_fixture.h"
#include "platform/var.h"

namespace pacewire::testing {

inline pp::VarDictionary PageMessage(const std::string& key, const std::string& value) {
  pp::VarDictionary message;
  message.Set("key", pp::Var(key));
  message.Set("value", pp::Var(value));
  return message;
}

// Every entry of a message to the page, as text.
inline std::map<std::string, std::string> Entries(const pp::VarDictionary& message) {
  std::map<std::string, std::string> entries;
  const pp::VarArray keys = message.GetKeys();
  for (uint32_t i = 0; i < keys.GetLength(); ++i) {
    const std::string key = keys.Get(i).AsString();
    entries[key] = message.Get(key).AsString();
  }
  return entries;
}

inline std::map<std::string, std::string> PlayTime(int64_t playTime, int64_t elapsed) {
  return {{"SET_PLAYTIME", std::to_string(playTime)},
          {"SET_ELAPSED_PAGES_PLAYTIME", std::to_string(elapsed)}};
}
inline const std::map<std::string, std::string> kDeviceIpRequest = {{"REQUEST_DEVICE_IP", ""}};
inline const std::map<std::string, std::string> kNothing = {};

// The bytes a host would send for a record the logic handed out.
inline std::vector<uint8_t> WireBytes(const Packet* packet) {
  const auto* first = reinterpret_cast<const uint8_t*>(packet);
  return std::vector<uint8_t>(first, first + packet->getSize());
}

// A receive buffer as the host's receiver leaves it: zero-filled, the datagram
// at its start, one always-zero byte past the 1024.
class ReceiveBuffer {
 public:
  template <typename T>
  ReceiveBuffer& Put(size_t offset, const T& value) {
    std::memcpy(bytes_.data() + offset, &value, sizeof value);
    return *this;
  }
  ReceiveBuffer& PutBytes(size_t offset, const void* data, size_t size) {
    std::memcpy(bytes_.data() + offset, data, size);
    return *this;
  }
  const char* data() const { return bytes_.data(); }

 private:
  std::array<char, PlayTimerLogic::kReceiveBufferBytes + 1> bytes_{};
};

struct SyncFields {
  int32_t syncId = 0;
  int64_t playTime = 0;
  int64_t elapsed = 0;
  int32_t ipLastNumber = 0;
  int32_t type = kPacketTypeSyncPlay;
};

// A sync datagram of another device, written field by field at its wire offsets.
inline ReceiveBuffer SyncDatagram(const SyncFields& f) {
  ReceiveBuffer buffer;
  buffer.Put<int32_t>(0, PacketSyncPlay::kSize)
      .Put<int32_t>(4, f.type)
      .Put<int32_t>(8, f.syncId)
      .Put<int64_t>(16, f.playTime)
      .Put<int64_t>(24, f.elapsed)
      .Put<int32_t>(32, f.ipLastNumber);
  return buffer;
}

inline ReceiveBuffer SetMonitoringDatagram(const std::string& address, int32_t port,
                                           uint8_t monitoringOn) {
  ReceiveBuffer buffer;
  buffer.Put<int32_t>(0, 45)
      .Put<int32_t>(4, kPacketTypeSetMonitoringMode)
      .Put<int32_t>(8, port)
      .PutBytes(12, address.data(), address.size() < 32 ? address.size() : 32)
      .Put<uint8_t>(44, monitoringOn);
  return buffer;
}

class LogicTest : public LoggedPageTest {
 protected:
  static constexpr int64_t kStart = 1'000'000;

  void Command(const std::string& key, const std::string& value, int64_t now = kStart) {
    logic_.LoadMessage(PageMessage(key, value), now);
  }
  // Sync mode from `now`, with a usable address ending in `ipLastNumber`.
  void StartSync(int32_t syncId, int32_t ipLastNumber, int64_t now = kStart) {
    Command("START_CLOCK_WITH_SYNC_ID", std::to_string(syncId), now);
    Command("SET_DEVICEIP", "192.168.0." + std::to_string(ipLastNumber), now);
  }
  void Receive(const ReceiveBuffer& buffer, int64_t now) { logic_.LoadPacket(buffer.data(), now); }
  // The message the page receives on one tick, after the tick's packets.
  std::map<std::string, std::string> Tick(int64_t now) {
    logic_.GetSyncPacket(now);
    logic_.GetMonitoringPacket(now);
    return Entries(logic_.GetMessageToPlayer());
  }
  bool Contains(const std::string& line) const {
    for (const auto& l : lines()) {
      if (l == line) return true;
    }
    return false;
  }

  PlayTimerLogic logic_;
};

}  // namespace pacewire::testing
