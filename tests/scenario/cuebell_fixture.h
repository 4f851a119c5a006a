// One Cuebell device on the simulated LAN, and a neighbour that sends it event
// datagrams and listens for what it broadcasts. The device's instance starts at
// virtual time 0, so its n-th tick runs at n * 100 ms.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/sim/sim.h"
#include "scenario/module_world.h"
#include "tests/scenario/udp_peer.h"

namespace scenario {

constexpr int64_t kMs = sim::kMillisecond;
constexpr uint16_t kEventPort = 55555;
constexpr char kCuebellAddress[] = "10.0.0.7";
constexpr char kNeighbourAddress[] = "10.0.0.9";

// When the device's n-th tick runs.
constexpr int64_t Tick(int n) {
  return n * 100 * kMs;
}

class CuebellOnTheLan : public ::testing::Test {
 protected:
  void RunUntil(int64_t time_us) { world.lan().RunUntil(time_us); }
  void RunFor(int64_t duration_us) { world.RunFor(duration_us); }
  // Just past the 31st tick, which makes the receiver and the sender.
  void RunUntilSocketsAreMade() { RunUntil(Tick(31) + 10 * kMs); }

  // The page sends {"key": key, "value": value}; the LAN then runs 10 ms, long
  // enough for a datagram that the message causes to arrive everywhere.
  void PageSends(const std::string& key, const std::string& value = "") {
    cuebell.Send(key, value);
    RunFor(10 * kMs);
  }
  // The neighbour sends `bytes` to the device; the LAN then runs 10 ms.
  void NeighbourSends(const std::string& bytes, uint16_t port = kEventPort) {
    neighbour.SendTo(kCuebellAddress, port, bytes);
    RunFor(10 * kMs);
  }

  // The texts of the "EVENT_TYPE" messages the page got, in order. Each such
  // message must have that one entry and no other.
  std::vector<std::string> EventsOnPage() {
    std::vector<std::string> events;
    for (const pp::Var& value : cuebell.page().dictionaries()) {
      const pp::VarDictionary message(value);
      if (!message.HasKey("EVENT_TYPE")) continue;
      EXPECT_EQ(message.size(), 1u) << value.DebugString();
      events.push_back(message.Get("EVENT_TYPE").AsString());
    }
    return events;
  }

  // The datagrams the device has put on the wire, as the trace saw them leave.
  std::vector<sim::TraceEvent> DatagramsSentByDevice() {
    std::vector<sim::TraceEvent> sent;
    for (const auto& event : world.lan().trace().EventsOfKind(sim::TraceKind::kSend)) {
      if (event.from_address == *sim::ParseIpv4(kCuebellAddress)) sent.push_back(event);
    }
    return sent;
  }

  // Datagrams to the device's `port` that found no socket there.
  size_t DatagramsUnheardOn(uint16_t port) {
    size_t count = 0;
    for (const auto& event : world.lan().trace().EventsOfKind(sim::TraceKind::kDrop)) {
      count += event.reason == sim::DropReason::kNoListener &&
               event.to_address == *sim::ParseIpv4(kCuebellAddress) && event.to_port == port;
    }
    return count;
  }

  // The log lines among the posted values from index `first` on, in order.
  std::vector<std::string> LinesFrom(size_t first) {
    std::vector<std::string> lines;
    const auto& posted = cuebell.page().posted();
    for (size_t i = first; i < posted.size(); ++i) {
      if (posted[i].value.is_string()) lines.push_back(posted[i].value.AsString());
    }
    return lines;
  }

  // When the first log line that contains `part` was posted at or after
  // `from_us`; -1 when there is none.
  int64_t TimeOfLine(const std::string& part, int64_t from_us = 0) {
    for (const auto& posted : cuebell.page().posted()) {
      if (posted.time_us >= from_us && posted.value.is_string() &&
          posted.value.AsString().find(part) != std::string::npos) {
        return posted.time_us;
      }
    }
    return -1;
  }

  ModuleWorld world;
  Device& cuebell = world.AddDevice(kCuebellAddress, ModuleKind::kCuebell);
  UdpPeer neighbour{world.lan(), kNeighbourAddress};
};

}  // namespace scenario
