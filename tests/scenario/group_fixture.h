// Groups of Pacewire devices on the simulated LAN: which device is the parent,
// which devices took the role on the way, who broadcasts, and whether the
// children's pages show the parent's play position.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/sim/sim.h"
#include "scenario/module_world.h"
#include "tests/scenario/pacewire_fixture.h"

namespace scenario {

constexpr int32_t kSyncPacketBytes = 48;

inline std::vector<Device*> Parents(const std::vector<Device*>& group) {
  std::vector<Device*> parents;
  for (Device* device : group) {
    if (Role(device->page()) == "parent") parents.push_back(device);
  }
  return parents;
}

// The device with the highest last address number among those of `group`
// that took the parent role at or after `from_us`; null when none did.
inline Device* HighestParentSince(const std::vector<Device*>& group, int64_t from_us) {
  Device* highest = nullptr;
  for (Device* device : group) {
    if (!BecameParentSince(device->page(), from_us)) continue;
    if (!highest || LastAddressNumber(device->address()) > LastAddressNumber(highest->address())) {
      highest = device;
    }
  }
  return highest;
}

// The last moment any device of `group` changed its role; 0 when none did.
inline int64_t LastRoleChange(const std::vector<Device*>& group) {
  int64_t last = 0;
  for (Device* device : group) {
    for (const auto& line : LinesWith(device->page(), "Device is set to ")) {
      last = std::max(last, line.time_us);
    }
  }
  return last;
}

// The last moment a device of `group` started its frame schedule; 0 when none did.
inline int64_t LastScheduleStart(const std::vector<Device*>& group) {
  int64_t last = 0;
  for (Device* device : group) {
    for (const auto& line : LinesWith(device->page(), "FrameSchedule is started.")) {
      last = std::max(last, line.time_us);
    }
  }
  return last;
}

// The addresses that sent sync packets to `port` at or after `from_us`.
inline std::set<std::string> SyncSenders(const sim::Trace& trace, int64_t from_us,
                                         uint16_t port = kSyncPort) {
  std::set<std::string> senders;
  for (const auto& event : trace.events()) {
    if (event.kind == sim::TraceKind::kSend && event.time_us >= from_us && event.to_port == port &&
        event.size == kSyncPacketBytes) {
      senders.insert(sim::FormatIpv4(event.from_address));
    }
  }
  return senders;
}

// The instants at which datagrams from `from` reached the sync port of `to`.
inline std::set<int64_t> DeliveryTimes(const sim::Trace& trace, const Device& from,
                                       const Device& to, uint16_t port = kSyncPort) {
  std::set<int64_t> times;
  const uint32_t from_address = *sim::ParseIpv4(from.address());
  const uint32_t to_address = *sim::ParseIpv4(to.address());
  for (const auto& event : trace.events()) {
    if (event.kind == sim::TraceKind::kDeliver && event.from_address == from_address &&
        event.to_address == to_address && event.to_port == port) {
      times.insert(event.time_us);
    }
  }
  return times;
}

// Which of a child's play-time messages to compare with its parent's.
enum class Answering {
  kParentPackets,   // those posted when a packet of the parent arrived
  kOtherDatagrams,  // those posted when any other datagram arrived
};

// Compares the play-time messages of `child` posted at or after `from_us`
// with where `parent` was at the same virtual time: the parent's latest
// message before then, moved on by the time between the two. A datagram is
// handled at the instant it is delivered, so the trace tells which
// datagram each message answers. `compared` counts the messages checked.
inline ::testing::AssertionResult FollowsParent(sim::Lan& lan, Device& child, Device& parent,
                                                int64_t from_us, double tolerance_ms,
                                                Answering answering, int* compared = nullptr) {
  const auto parent_times = PlayTimes(parent.page());
  const auto from_parent = DeliveryTimes(lan.trace(), parent, child);
  int checked = 0;
  std::ostringstream problems;
  for (const PlayTime& message : PlayTimes(child.page(), from_us)) {
    const bool answers_parent = from_parent.count(message.time_us) != 0;
    if (answers_parent != (answering == Answering::kParentPackets)) continue;
    auto latest = std::upper_bound(
        parent_times.begin(), parent_times.end(), message.time_us,
        [](int64_t time, const PlayTime& candidate) { return time < candidate.time_us; });
    if (latest == parent_times.begin()) continue;
    --latest;
    const double parent_position = static_cast<double>(latest->schedule_position()) +
                                   static_cast<double>(message.time_us - latest->time_us) / kMs;
    const double off_by = static_cast<double>(message.schedule_position()) - parent_position;
    ++checked;
    if (std::abs(off_by) > tolerance_ms) {
      problems << "\n  at " << message.time_us << " us " << child.address() << " shows "
               << message.schedule_position() << " ms, parent " << parent.address() << " is at "
               << parent_position << " ms (off by " << off_by << " ms)";
    }
  }
  if (compared) *compared = checked;
  if (!problems.str().empty()) {
    return ::testing::AssertionFailure()
           << "play positions beyond " << tolerance_ms << " ms:" << problems.str();
  }
  return ::testing::AssertionSuccess();
}

}  // namespace scenario
