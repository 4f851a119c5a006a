// A monitoring tool on the simulated LAN: a host of its own with one bare
// platform socket, bound to the tool's port. It keeps every datagram that
// devices send it (monitoring and notify packets), and it sends hand-made
// datagrams: set-monitoring-mode packets, sync packets of a group, or any
// bytes at all.
//
// Declare it after the ModuleWorld whose LAN it lives on, so that it goes
// first: its destructor removes its embedding, which closes its socket and
// drops every completion still queued for it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "pacewire/packets.h"
#include "platform/pp.h"
#include "platform/sim/sim.h"

namespace scenario {

// The bytes of a wire record, as they lie in memory and go on the wire.
template <typename Record>
std::string BytesOf(const Record& record) {
  return std::string(reinterpret_cast<const char*>(&record), sizeof record);
}

// A received datagram read as a record; the datagram must be exactly one record long.
template <typename Record>
Record Decode(const std::string& bytes) {
  Record record;
  EXPECT_EQ(bytes.size(), sizeof record);
  std::memcpy(&record, bytes.data(), std::min(bytes.size(), sizeof record));
  return record;
}

inline std::string SetMonitoringModeBytes(bool on, const std::string& address, int32_t port) {
  pacewire::PacketSetMonitoringMode packet;
  packet.header.setSize(static_cast<int32_t>(sizeof packet));
  packet.header.setType(pacewire::kPacketTypeSetMonitoringMode);
  packet.monitoringPort = port;
  pacewire::WriteTextField(packet.monitoringAddress, address);
  packet.monitoringOn = on ? 1 : 0;
  return BytesOf(packet);
}

// A sync packet as the parent of group `sync_id` would broadcast it.
inline std::string SyncPacketBytes(int32_t sync_id, int64_t play_ms, int64_t elapsed_ms,
                                   int32_t ip_last_number) {
  pacewire::PacketSyncPlay packet;
  packet.header.setType(pacewire::kPacketTypeSyncPlay);
  packet.syncId = sync_id;
  packet.playTime = play_ms;
  packet.elapsedTimeFromMaster = elapsed_ms;
  packet.ipLastNumber = ip_last_number;
  return BytesOf(packet);
}

class MonitoringTool {
 public:
  struct Arrival {
    int64_t time_us;
    std::string bytes;
  };

  MonitoringTool(sim::Lan& lan, const std::string& address, uint16_t port)
      : lan_(lan),
        address_(address),
        port_(port),
        embedding_(lan.AddHost(address).AddEmbedding()),
        factory_(this) {
    embedding_.RunOnMainLoop([this] {
      socket_ = pp::UDPSocket(embedding_.handle());
      socket_.Bind(pp::NetAddress::FromHostOrder(sim::kAnyAddress, port_),
                   factory_.NewCallback(&MonitoringTool::OnBound));
    });
    EXPECT_TRUE(lan_.RunUntil([this] { return bound_; }, sim::kSecond))
        << "the monitoring tool could not bind " << address << ":" << port;
  }

  ~MonitoringTool() {
    factory_.CancelAll();
    embedding_.host()->RemoveEmbedding();
  }
  MonitoringTool(const MonitoringTool&) = delete;
  MonitoringTool& operator=(const MonitoringTool&) = delete;

  const std::string& address() const { return address_; }
  uint16_t port() const { return port_; }

  // Sends `bytes` as one datagram to address:port. The datagram leaves when
  // the LAN next runs, at the current virtual time; datagrams sent one after
  // another leave in that order.
  void SendTo(const std::string& address, uint16_t port, std::string bytes) {
    const pp::NetAddress destination =
        pp::NetAddress::FromHostOrder(*sim::ParseIpv4(address), port);
    embedding_.RunOnMainLoop([this, destination, bytes = std::move(bytes)] {
      socket_.SendTo(bytes.data(), static_cast<int32_t>(bytes.size()), destination,
                     factory_.NewCallback(&MonitoringTool::OnSent));
    });
  }

  // Asks the device at `device` to switch monitoring on or off and to send
  // to the tool's own address and port.
  void SetMonitoring(const std::string& device, bool on, uint16_t sync_port = 47475) {
    SetMonitoringNaming(device, on, address_, port_, sync_port);
  }
  // The same, naming any destination.
  void SetMonitoringNaming(const std::string& device, bool on, const std::string& address,
                           int32_t port, uint16_t sync_port = 47475) {
    SendTo(device, sync_port, SetMonitoringModeBytes(on, address, port));
  }

  const std::vector<Arrival>& arrivals() const { return arrivals_; }
  std::vector<Arrival> ArrivalsOfSize(size_t size, int64_t from_us = 0) const {
    std::vector<Arrival> out;
    for (const auto& arrival : arrivals_) {
      if (arrival.bytes.size() == size && arrival.time_us >= from_us) out.push_back(arrival);
    }
    return out;
  }
  std::vector<Arrival> MonitoringPackets(int64_t from_us = 0) const {
    return ArrivalsOfSize(sizeof(pacewire::PacketMonitoring), from_us);
  }
  std::vector<Arrival> NotifyPackets(int64_t from_us = 0) const {
    return ArrivalsOfSize(sizeof(pacewire::PacketMonitoringToNotifyPlayStarted), from_us);
  }
  // Sends that the platform reported as failed (it should be none).
  int failed_sends() const { return failed_sends_; }

 private:
  void OnBound(int32_t result) {
    bound_ = true;
    EXPECT_EQ(result, PP_OK);
    if (result == PP_OK) ReceiveNext();
  }

  void ReceiveNext() {
    socket_.RecvFrom(buffer_, sizeof buffer_,
                     factory_.NewCallbackWithOutput(&MonitoringTool::OnReceived));
  }

  void OnReceived(int32_t result, const pp::NetAddress&) {
    if (result < 0) return;  // closed
    arrivals_.push_back(Arrival{lan_.now_us(), std::string(buffer_, static_cast<size_t>(result))});
    ReceiveNext();
  }

  void OnSent(int32_t result) {
    if (result < 0) ++failed_sends_;
  }

  sim::Lan& lan_;
  std::string address_;
  uint16_t port_;
  sim::SimEmbedding& embedding_;
  pp::CompletionCallbackFactory<MonitoringTool> factory_;
  pp::UDPSocket socket_;
  char buffer_[2048] = {};
  bool bound_ = false;
  int failed_sends_ = 0;
  std::vector<Arrival> arrivals_;
};

}  // namespace scenario
