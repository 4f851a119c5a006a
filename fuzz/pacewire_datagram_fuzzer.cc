// A datagram from anyone on the LAN into Pacewire's logic, as the receive loop
// hands it over: at the start of a zero-filled receive buffer, between ticks.
// The header of the input chooses the device's state (input_formats.h).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "common/utils.h"
#include "fuzz/byte_reader.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_page.h"
#include "fuzz/input_formats.h"
#include "pacewire/packets.h"
#include "pacewire/play_timer_logic.h"

namespace {

using fuzz::PacewireDatagramHeader;
using pacewire::Packet;
using pacewire::PlayTimerLogic;

constexpr int64_t kStartClock = 1'700'000'000'000;
constexpr int64_t kTick = PlayTimerLogic::kTickMilliseconds;

pp::VarDictionary Command(const std::string& key, const std::string& value) {
  pp::VarDictionary message;
  message.Set("key", pp::Var(key));
  message.Set("value", pp::Var(value));
  return message;
}

// What the host does with a record the logic hands out: sends its first
// getSize() bytes at once.
void Send(const Packet* packet, int32_t expected_size, int32_t expected_type) {
  if (!packet) return;
  FUZZ_CHECK(packet->getSize() == expected_size, "a handed-out record announces its own size");
  FUZZ_CHECK(packet->getType() == expected_type, "a handed-out record is filled for sending");
  std::vector<uint8_t> wire(static_cast<size_t>(packet->getSize()));
  std::memcpy(wire.data(), packet, wire.size());
}

struct Device {
  PlayTimerLogic logic;
  int64_t now = kStartClock;

  void Tick() {
    now += kTick;
    const bool sends =
        logic.IsMaster() && logic.IsSyncFrameSchedule() && !logic.IsDeviceIpTrouble();
    const Packet* sync = logic.GetSyncPacket(now);
    FUZZ_CHECK((sync != nullptr) == sends, "only a parent in sync mode with an address sends");
    Send(sync, pacewire::PacketSyncPlay::kSize, pacewire::kPacketTypeSyncPlay);
    Send(logic.GetMonitoringPacket(now), pacewire::PacketMonitoring::kSize,
         pacewire::kPacketTypeMonitoring);
    logic.GetMessageToPlayer();
    // The tick loop keeps its sockets in line with these.
    int port = 0;
    std::string host;
    ParseHost(logic.GetSyncCastIpPort(), 0, port, host);
    logic.GetSyncListenPort();
  }

  void Receive(const std::string& datagram) {
    // A fresh buffer each time, one byte longer than the receiver's, so that
    // AddressSanitizer sees any read past it.
    std::vector<char> buffer(PlayTimerLogic::kReceiveBufferBytes + 1, 0);
    std::memcpy(buffer.data(), datagram.data(), datagram.size());
    pacewire::PacketSyncPlay sent;
    std::memcpy(&sent, buffer.data(), sizeof sent);
    const bool ofTheGroup = sent.header.getType() != pacewire::kPacketTypeSetMonitoringMode &&
                            logic.IsSyncFrameSchedule() &&
                            sent.syncId == logic.GetSyncRecord().syncId;
    const bool wasChild = !logic.IsMaster();
    const pacewire::PacketSyncPlay before = logic.GetSyncRecord();

    logic.LoadPacket(buffer.data(), now);

    if (sent.header.getType() == pacewire::kPacketTypeSetMonitoringMode) {
      const uint8_t monitoringOn =
          static_cast<uint8_t>(buffer[offsetof(pacewire::PacketSetMonitoringMode, monitoringOn)]);
      FUZZ_CHECK(logic.IsMonitoringMode() == ((monitoringOn & 1) != 0), "bit 0 switches");
    }
    if (ofTheGroup) {
      FUZZ_CHECK(logic.GetNoParentTickCount() == 0, "a group packet restarts the parent search");
      // A parent that stays keeps its own position, the group's; any other takes the packet's.
      const pacewire::PacketSyncPlay& expected = logic.IsMaster() ? before : sent;
      FUZZ_CHECK(logic.GetSyncRecord().playTime == expected.playTime &&
                     logic.GetSyncRecord().elapsedTimeFromMaster == expected.elapsedTimeFromMaster,
                 "a group packet's play position is taken unless the device stays parent");
      if (wasChild) {
        FUZZ_CHECK(static_cast<uint64_t>(logic.GetContentStartClock()) ==
                       static_cast<uint64_t>(now) - static_cast<uint64_t>(sent.playTime),
                   "a child adopts the parent's page clock");
      }
    }
    const pp::VarDictionary message = logic.GetMessageToPlayerAfterLoadPacket();
    FUZZ_CHECK(message.size() == (logic.IsSyncFrameSchedule() ? 2u : 0u),
               "a datagram yields the play time in sync mode and nothing otherwise");
    // The receive loop opens its monitoring sender towards this.
    int port = 0;
    std::string host;
    const std::string destination = logic.GetMonitoringCastIpPort();
    FUZZ_CHECK(destination.size() <= 39, "the monitoring destination fits its 40-byte buffer");
    ParseHost(destination, 0, port, host);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::FreshPage();
  fuzz::ByteReader in(data, size);
  const uint8_t flags = in.Byte();
  const uint8_t ipLastNumber = in.Byte();
  const int ticksBefore = in.Byte() % 64;
  const int deliveries = 1 + in.Byte() % 4;
  const int64_t pageDuration = int64_t{in.Integer<int16_t>()} * 100;
  const int64_t scheduleDuration = int64_t{in.Integer<int16_t>()} * 100;
  const std::string datagram = in.Bytes(fuzz::kMaxDatagramBytes);

  // The sync ID field as the logic reads it: bytes past a short datagram are zero.
  int32_t datagramSyncId = 0;
  const size_t syncIdOffset = offsetof(pacewire::PacketSyncPlay, syncId);
  if (datagram.size() > syncIdOffset) {
    std::memcpy(&datagramSyncId, datagram.data() + syncIdOffset,
                std::min(sizeof datagramSyncId, datagram.size() - syncIdOffset));
  }
  int32_t syncId = datagramSyncId & 0x7fffffff;
  if (flags & PacewireDatagramHeader::kForeignGroup) syncId ^= 1;

  Device device;
  PlayTimerLogic& logic = device.logic;
  const bool nonSync = flags & PacewireDatagramHeader::kNonSync;
  logic.LoadMessage(Command("START_CLOCK_WITH_SYNC_ID", nonSync ? "-1" : std::to_string(syncId)),
                    device.now);
  logic.LoadMessage(Command("SET_TOTAL_PLAYTIME", std::to_string(pageDuration)), device.now);
  logic.LoadMessage(Command("SET_TOTAL_SCHEDULE_PLAYTIME", std::to_string(scheduleDuration)),
                    device.now);
  logic.LoadMessage(Command("SET_DEVICEIP", (flags & PacewireDatagramHeader::kDeviceIpTrouble)
                                                ? "-1"
                                                : "192.168.0." + std::to_string(ipLastNumber)),
                    device.now);
  if (flags & PacewireDatagramHeader::kParent) logic.SetMaster(true);
  if (flags & PacewireDatagramHeader::kMonitoring) logic.SetMonitoringMode(true);

  for (int i = 0; i < ticksBefore; ++i) device.Tick();
  if (datagram.empty()) return 0;  // the receive loop passes on no empty datagram
  for (int i = 0; i < deliveries; ++i) {
    device.Receive(datagram);
    device.Tick();
  }
  return 0;
}
