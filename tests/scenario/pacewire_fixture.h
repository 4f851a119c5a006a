// Reading what a Pacewire device's page saw, and driving its page, in the
// scenario tests: log lines with the time and thread that posted them, the
// play-time messages, the device's role, the instants of its ticks, and the
// page commands that start a synchronised frame schedule.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sim/sim.h"
#include "scenario/module_world.h"

namespace scenario {

constexpr int64_t kMs = sim::kMillisecond;
constexpr int64_t kSecond = sim::kSecond;
// The tick loop's period: each tick is queued this long after the previous
// one ends, and a tick takes no virtual time.
constexpr int64_t kTick = 100 * kMs;
// A receiver or sync sender that is missing is made on every 31st tick.
constexpr int kRecheckTicks = 31;
constexpr uint16_t kSyncPort = 47475;
constexpr char kVersionText[] = "NaCl-21.0802.2";

// ---- What a page saw ---------------------------------------------------------

// True when the value was posted by the worker thread `thread` ("mainThread",
// "receivingThread") of any of the device's instances: loops are named
// "<device> <thread>", "<device>/2 <thread>" after a restart.
inline bool OnThread(std::string_view loop, std::string_view thread) {
  return loop.size() > thread.size() && loop.substr(loop.size() - thread.size()) == thread &&
         loop[loop.size() - thread.size() - 1] == ' ';
}
inline bool PostedBy(const sim::PostedValue& posted, std::string_view thread) {
  return OnThread(posted.loop, thread);
}

inline bool IsLine(const sim::PostedValue& posted) {
  return posted.value.is_string();
}

inline std::string TextOf(const sim::PostedValue& posted) {
  return posted.value.AsString();
}

// The log lines that contain `part`, posted at or after `from_us`, in order.
inline std::vector<sim::PostedValue> LinesWith(const sim::Page& page, std::string_view part,
                                               int64_t from_us = 0) {
  std::vector<sim::PostedValue> out;
  for (const auto& posted : page.posted()) {
    if (posted.time_us >= from_us && IsLine(posted) &&
        TextOf(posted).find(part) != std::string::npos) {
      out.push_back(posted);
    }
  }
  return out;
}

inline std::optional<sim::PostedValue> FirstLineWith(const sim::Page& page, std::string_view part,
                                                     int64_t from_us = 0) {
  auto lines = LinesWith(page, part, from_us);
  if (lines.empty()) return std::nullopt;
  return lines.front();
}

// Virtual time of the first line with `part`, or -1 when there is none.
inline int64_t TimeOfFirstLine(const sim::Page& page, std::string_view part, int64_t from_us = 0) {
  const auto line = FirstLineWith(page, part, from_us);
  return line ? line->time_us : -1;
}

// Everything posted strictly after `time_us`.
inline std::vector<sim::PostedValue> PostedAfter(const sim::Page& page, int64_t time_us) {
  std::vector<sim::PostedValue> out;
  for (const auto& posted : page.posted()) {
    if (posted.time_us > time_us) out.push_back(posted);
  }
  return out;
}

// One "SET_PLAYTIME" / "SET_ELAPSED_PAGES_PLAYTIME" message to the page.
struct PlayTime {
  int64_t time_us = 0;
  std::string loop;
  int64_t play = 0;     // ms played of the current page
  int64_t elapsed = 0;  // ms from the start of the pass to the start of the page
  // Where the device is in its pass of the schedule; unlike `play`, it runs on
  // smoothly across the end of a page.
  int64_t schedule_position() const { return elapsed + play; }
};

inline std::vector<PlayTime> PlayTimes(const sim::Page& page, int64_t from_us = 0) {
  std::vector<PlayTime> out;
  for (const auto& posted : page.posted()) {
    if (posted.time_us < from_us || !posted.value.is_dictionary()) continue;
    const pp::VarDictionary message(posted.value);
    if (!message.HasKey("SET_PLAYTIME")) continue;
    out.push_back(PlayTime{posted.time_us, posted.loop,
                           std::stoll(message.Get("SET_PLAYTIME").AsString()),
                           std::stoll(message.Get("SET_ELAPSED_PAGES_PLAYTIME").AsString())});
  }
  return out;
}

// Virtual time of the latest "VERSION" message at or after `from_us`: the
// moment an instance ran Init. -1 when none.
inline int64_t InitTime(const sim::Page& page, int64_t from_us = 0) {
  int64_t init = -1;
  for (const auto& posted : page.posted()) {
    if (posted.time_us >= from_us && posted.value.is_dictionary() &&
        pp::VarDictionary(posted.value).HasKey("VERSION")) {
      init = posted.time_us;
    }
  }
  return init;
}

// The role the device's log says its latest instance has now: "parent" or
// "child" (every instance starts as a child).
inline std::string Role(const sim::Page& page) {
  const auto changes = LinesWith(page, "Device is set to ", std::max<int64_t>(InitTime(page), 0));
  if (changes.empty()) return "child";
  const std::string last = TextOf(changes.back());
  return last.substr(last.rfind(' ') + 1);
}

inline bool BecameParentSince(const sim::Page& page, int64_t from_us) {
  return !LinesWith(page, "Device is set to parent", from_us).empty();
}

// ---- Ticks -----------------------------------------------------------------

// The instants of one instance's ticks: tick k runs k ticks after Init.
class TickClock {
 public:
  explicit TickClock(int64_t init_us) : init_us_(init_us) {}
  int64_t At(int tick) const { return init_us_ + tick * kTick; }
  // The first re-check tick at or after `tick` (31, 62, 93, ...).
  static int RecheckAtOrAfter(int tick) {
    return (tick + kRecheckTicks - 1) / kRecheckTicks * kRecheckTicks;
  }

 private:
  int64_t init_us_;
};

// The tick clock of the device's latest instance (Init must have run).
inline TickClock TicksOf(Device& device) {
  const int64_t init = InitTime(device.page());
  EXPECT_GE(init, 0) << device.address() << " has not run Init";
  return TickClock(init);
}

// ---- Page commands ---------------------------------------------------------

struct FrameSchedule {
  int sync_id = 1;
  int32_t page_ms = 2500;        // each page lasts this long
  int32_t schedule_ms = 600000;  // one pass of the schedule
};

// What a page sends to start a synchronised frame schedule: the sync ID, the
// device's own address (as it answers the device-IP request) and the lengths.
inline void StartFrameSchedule(Device& device, const FrameSchedule& schedule) {
  device.Send("START_CLOCK_WITH_SYNC_ID", std::to_string(schedule.sync_id));
  device.Send("SET_DEVICEIP", device.address());
  device.Send("SET_TOTAL_PLAYTIME", std::to_string(schedule.page_ms));
  device.Send("SET_TOTAL_SCHEDULE_PLAYTIME", std::to_string(schedule.schedule_ms));
}

inline void StartFrameScheduleAt(Device& device, int64_t time_us, const FrameSchedule& schedule) {
  device.SendAt(time_us, "START_CLOCK_WITH_SYNC_ID", std::to_string(schedule.sync_id));
  device.SendAt(time_us, "SET_DEVICEIP", device.address());
  device.SendAt(time_us, "SET_TOTAL_PLAYTIME", std::to_string(schedule.page_ms));
  device.SendAt(time_us, "SET_TOTAL_SCHEDULE_PLAYTIME", std::to_string(schedule.schedule_ms));
}

// The last number of a dotted address ("10.0.0.17" -> 17).
inline int LastAddressNumber(const std::string& address) {
  return std::stoi(address.substr(address.rfind('.') + 1));
}

}  // namespace scenario
