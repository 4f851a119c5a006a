// The datagrams a load harness throws at a module: a pool built once from a
// seed and then sent over and over, so that sending costs no more than the
// kernel's share.
//
// Safety: the only datagram that makes a Pacewire device send anywhere is the
// set-monitoring request, and the pools put in it only the monitoring address
// the caller names (the flooder's own address, inside a lab namespace or on
// loopback). Garbage is never read as a set-monitoring request: its type field
// is never 1.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace stress {

enum class DatagramKind : size_t {
  kGarbage,        // random bytes of random length
  kForeignSync,    // a well-formed sync packet of another group
  kGroupSync,      // a well-formed sync packet of the device's own group
  kSetMonitoring,  // a monitoring tool's request, naming the flooder as destination
  kEvent,          // an event text
  kCount
};
constexpr size_t kDatagramKinds = static_cast<size_t>(DatagramKind::kCount);
const char* KindName(DatagramKind kind);

struct PoolDatagram {
  DatagramKind kind;
  std::string bytes;
};
using DatagramPool = std::vector<PoolDatagram>;
using KindCounts = std::array<uint64_t, kDatagramKinds>;

// Random bytes, 1 to `max_bytes` long (at least 8, so the type field is
// written), whose type field is never the set-monitoring type.
std::string GarbageDatagram(std::mt19937& rng, size_t max_bytes);
// A 48-byte sync packet of group `sync_id` with random clock fields.
std::string SyncDatagram(std::mt19937& rng, int32_t sync_id);
// A set-monitoring request naming `address`:`port`, switching monitoring on or off.
std::string SetMonitoringDatagram(const std::string& address, int32_t port, bool on);
// An event: mostly short readable texts, sometimes up to `max_bytes` random
// bytes (zero bytes included, which end the text where they fall).
std::string EventDatagram(std::mt19937& rng, size_t max_bytes);

// What a Pacewire flood is made of, in parts per hundred.
struct PacewireMix {
  int garbage_percent = 45;
  int foreign_sync_percent = 45;
  int group_sync_percent = 0;
  int set_monitoring_percent = 10;
  size_t max_garbage_bytes = 1500;
  int32_t group_sync_id = 0;  // the group of kGroupSync; foreign groups are never this one
  // Where set-monitoring requests send the device's monitoring packets: the
  // flooder's own address. Most requests name `monitoring_port`; one in
  // sixteen switches monitoring off, one in sixteen names `other_port`, so the
  // device keeps closing and making its monitoring sender.
  std::string monitoring_address;
  int32_t monitoring_port = 0;
  int32_t other_port = 0;
};
DatagramPool MakePacewirePool(const PacewireMix& mix, size_t count, uint32_t seed);

DatagramPool MakeEventPool(size_t max_event_bytes, size_t count, uint32_t seed);

}  // namespace stress
