// Everything the monitor knows: one row per device with its latest monitoring
// and notify packets, the count of malformed datagrams, and the sync groups
// with their schedule-start spread.
//
// Datagrams are put in rows by where they come from. A device sends from its
// own address, but from a port of its choosing, so the source address decides;
// where several named devices share an address (devices on one machine's
// loopback), the deviceIP text their pages gave tells them apart, in the order
// they first report. A datagram from an address that matches no named device
// is put in the row of the named device whose address is its deviceIP text, or
// else in a row of its own, marked as not requested; such rows are limited in
// number, and what would need more is only counted.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pacewire/packets.h"
#include "tools/event/udp_socket.h"
#include "tools/monitor/datagram_decoder.h"

namespace pacewire_monitor {

// When a datagram arrived: the wall clock (comparable with the devices'
// clocks) and a steady clock (for ages), both in ms.
struct ReceiptTime {
  int64_t wall_ms = 0;
  int64_t steady_ms = 0;
};

// A device named on the command line.
struct WatchedDevice {
  std::string host;     // as typed
  uint16_t port = 0;    // its sync port
  std::string address;  // dotted IPv4 of `host`
  std::string name() const { return host + ":" + std::to_string(port); }
};

template <typename Record>
struct Sample {
  Record record;
  ReceiptTime at;
  tool_io::UdpEndpoint from;
};

struct DeviceRow {
  std::string name;     // HOST:PORT as named, or the sender's address
  std::string address;  // where its datagrams come from
  bool requested = true;
  std::string device_ip;  // the deviceIP text of its latest packet
  std::optional<Sample<pacewire::PacketMonitoring>> monitoring;
  std::optional<Sample<pacewire::PacketMonitoringToNotifyPlayStarted>> notify;
  uint64_t monitoring_packets = 0;
  uint64_t notify_packets = 0;
  std::string request_error;  // why the last request could not be sent; empty when it was
};

struct MalformedCounts {
  std::array<uint64_t, 4> by_reason{};  // indexed by MalformedReason
  std::string last_from;
  uint64_t total() const;
  uint64_t of(MalformedReason reason) const { return by_reason[static_cast<size_t>(reason)]; }
};

// One datagram as the monitor took it.
struct TakenDatagram {
  DecodedDatagram decoded;
  std::optional<size_t> row;  // none for malformed datagrams and for dropped ones
  size_t length = 0;
  tool_io::UdpEndpoint from;
  ReceiptTime at;
};

struct GroupMember {
  size_t row = 0;
  int64_t schedule_start = 0;  // wall clock, ms
  bool parent = false;
};

struct GroupSpread {
  int32_t sync_id = 0;
  std::vector<GroupMember> members;
  size_t parents = 0;
  uint64_t spread_ms = 0;
  // The schedule duration the starts were compared around; 0 when the
  // members' durations differ (or are not positive) and the starts were
  // compared on a straight line.
  int32_t schedule_duration_ms = 0;
};

class MonitorState {
 public:
  // A device whose latest monitoring packet is older than this is left out of
  // its group.
  static constexpr int64_t kFreshForMs = 3000;
  static constexpr size_t kMaxUnrequestedRows = 32;

  explicit MonitorState(const std::vector<WatchedDevice>& devices);

  // Decodes one datagram (`bytes` its start, `length` its real length) and
  // records it.
  TakenDatagram Take(std::string_view bytes, size_t length, const tool_io::UdpEndpoint& from,
                     ReceiptTime at);
  void SetRequestError(size_t row, std::string error) { rows_.at(row).request_error = error; }

  // The groups of the devices that report a sync ID of 0 or more and have
  // reported within kFreshForMs of `now_steady_ms`, by sync ID.
  std::vector<GroupSpread> Groups(int64_t now_steady_ms) const;

  const std::vector<DeviceRow>& rows() const { return rows_; }
  const MalformedCounts& malformed() const { return malformed_; }
  // Packets left out because there were too many senders nobody asked for.
  uint64_t dropped() const { return dropped_; }

 private:
  std::optional<size_t> RowFor(const std::string& source, const std::string& device_ip);

  std::vector<DeviceRow> rows_;
  std::vector<std::string> hosts_;  // each requested row's host as typed
  MalformedCounts malformed_;
  uint64_t dropped_ = 0;
};

}  // namespace pacewire_monitor
