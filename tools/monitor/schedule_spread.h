// Where a device's frame schedule started, judged from one monitoring packet,
// and how far apart those starts are within a sync group.
//
// A device that plays in step with its group has started its schedule at the
// same moment as the others, so the estimates of a group agree up to network
// delay and the devices' own error: the spread is the group's sync error.
#pragma once

#include <cstdint>
#include <vector>

#include "pacewire/packets.h"

namespace pacewire_monitor {

// receivedAtMs - playTime - elapsedTimeFromMaster, the clock of the schedule's
// start. The arithmetic wraps instead of overflowing: the numbers come from
// the network.
int64_t EstimateScheduleStart(int64_t received_at_ms, const pacewire::PacketSyncPlay& state);

// The largest minus the smallest of `starts`. With a positive
// `schedule_duration_ms` the starts are compared around the schedule (modulo
// its duration), since a device that has just begun a new pass reports a start
// one schedule later than one about to end the previous pass. 0 for fewer than
// two starts.
uint64_t ScheduleStartSpread(const std::vector<int64_t>& starts, int32_t schedule_duration_ms);

}  // namespace pacewire_monitor
