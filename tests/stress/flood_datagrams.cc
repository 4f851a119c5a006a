#include "tests/stress/flood_datagrams.h"

#include <algorithm>
#include <cstring>

#include "pacewire/packets.h"

namespace stress {

namespace {

template <typename Record>
std::string BytesOf(const Record& record) {
  return std::string(reinterpret_cast<const char*>(&record), sizeof record);
}

size_t Uniform(std::mt19937& rng, size_t low, size_t high) {
  return std::uniform_int_distribution<size_t>(low, high)(rng);
}

}  // namespace

const char* KindName(DatagramKind kind) {
  switch (kind) {
    case DatagramKind::kGarbage:
      return "garbage";
    case DatagramKind::kForeignSync:
      return "foreign-group sync";
    case DatagramKind::kGroupSync:
      return "own-group sync";
    case DatagramKind::kSetMonitoring:
      return "set-monitoring";
    case DatagramKind::kEvent:
      return "event";
    case DatagramKind::kCount:
      break;
  }
  return "?";
}

std::string GarbageDatagram(std::mt19937& rng, size_t max_bytes) {
  std::string bytes(Uniform(rng, 8, std::max<size_t>(8, max_bytes)), '\0');
  for (char& byte : bytes) byte = static_cast<char>(rng());
  int32_t type = 0;
  std::memcpy(&type, bytes.data() + offsetof(pacewire::Packet, type), sizeof type);
  if (type == pacewire::kPacketTypeSetMonitoringMode) {
    type = pacewire::kPacketTypeSyncPlay + 1;
    std::memcpy(bytes.data() + offsetof(pacewire::Packet, type), &type, sizeof type);
  }
  return bytes;
}

std::string SyncDatagram(std::mt19937& rng, int32_t sync_id) {
  pacewire::PacketSyncPlay packet;
  packet.header = pacewire::Packet(pacewire::PacketSyncPlay::kSize, pacewire::kPacketTypeSyncPlay);
  packet.syncId = sync_id;
  packet.playTime = static_cast<int64_t>(Uniform(rng, 0, 600000));
  packet.elapsedTimeFromMaster = static_cast<int64_t>(Uniform(rng, 0, 6000000));
  packet.ipLastNumber = static_cast<int32_t>(Uniform(rng, 1, 254));
  packet.currentPageDuration = 600000;
  packet.frameScheduleDuration = 6000000;
  return BytesOf(packet);
}

std::string SetMonitoringDatagram(const std::string& address, int32_t port, bool on) {
  pacewire::PacketSetMonitoringMode packet;
  packet.header = pacewire::Packet(sizeof packet, pacewire::kPacketTypeSetMonitoringMode);
  packet.monitoringPort = port;
  pacewire::WriteTextField(packet.monitoringAddress, address);
  packet.monitoringOn = on ? 1 : 0;
  return BytesOf(packet);
}

std::string EventDatagram(std::mt19937& rng, size_t max_bytes) {
  if (Uniform(rng, 0, 9) != 0) {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789 _-:/";
    std::string text = "event-";
    const size_t length = Uniform(rng, 1, std::min<size_t>(58, max_bytes));
    for (size_t i = 0; i < length; ++i) text.push_back(kLetters[rng() % (sizeof kLetters - 1)]);
    return text;
  }
  std::string bytes(Uniform(rng, 1, std::max<size_t>(1, max_bytes)), '\0');
  for (char& byte : bytes) byte = static_cast<char>(rng());
  return bytes;
}

DatagramPool MakePacewirePool(const PacewireMix& mix, size_t count, uint32_t seed) {
  std::mt19937 rng(seed);
  DatagramPool pool;
  pool.reserve(count);
  const int total = mix.garbage_percent + mix.foreign_sync_percent + mix.group_sync_percent +
                    mix.set_monitoring_percent;
  for (size_t i = 0; i < count; ++i) {
    int pick = static_cast<int>(Uniform(rng, 0, static_cast<size_t>(std::max(total, 1) - 1)));
    if ((pick -= mix.garbage_percent) < 0) {
      pool.push_back({DatagramKind::kGarbage, GarbageDatagram(rng, mix.max_garbage_bytes)});
    } else if ((pick -= mix.foreign_sync_percent) < 0) {
      int32_t group = static_cast<int32_t>(Uniform(rng, 0, 1000000));
      if (group == mix.group_sync_id) ++group;
      pool.push_back({DatagramKind::kForeignSync, SyncDatagram(rng, group)});
    } else if ((pick -= mix.group_sync_percent) < 0) {
      pool.push_back({DatagramKind::kGroupSync, SyncDatagram(rng, mix.group_sync_id)});
    } else {
      const size_t variant = Uniform(rng, 0, 15);
      const bool on = variant != 0;
      const int32_t port = variant == 1 ? mix.other_port : mix.monitoring_port;
      pool.push_back(
          {DatagramKind::kSetMonitoring, SetMonitoringDatagram(mix.monitoring_address, port, on)});
    }
  }
  return pool;
}

DatagramPool MakeEventPool(size_t max_event_bytes, size_t count, uint32_t seed) {
  std::mt19937 rng(seed);
  DatagramPool pool;
  pool.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    pool.push_back({DatagramKind::kEvent, EventDatagram(rng, max_event_bytes)});
  }
  return pool;
}

}  // namespace stress
