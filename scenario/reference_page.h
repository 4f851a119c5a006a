// The reference player page of a simulated device: it plays a frame schedule
// (a list of page durations) the way a player page drives Pacewire, and
// records what it is told, so that a scenario can see how well the screens of
// a group agree.
//
// What it does with the module:
// - when the module announces itself ("VERSION", after every start of the
//   instance) it starts the schedule from its first page: it sends
//   "SET_TOTAL_SCHEDULE_PLAYTIME" (the sum of the durations),
//   "SET_TOTAL_PLAYTIME" (the first page's duration) and
//   "START_CLOCK_WITH_SYNC_ID" (its group's sync ID);
// - it answers every "REQUEST_DEVICE_IP" with "SET_DEVICEIP" and its host's address;
// - it follows "SET_PLAYTIME" (ms into the current page) and
//   "SET_ELAPSED_PAGES_PLAYTIME" (ms from the schedule start to the current
//   page's start): its schedule position is their sum. From the position it
//   derives its current page and, when that changes, sends
//   "SET_TOTAL_PLAYTIME" with the new page's duration;
// - it reads its device's role from the module's log lines ("Device is set to ...").
//
// Everything it records carries the virtual time it happened at.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/sim/page.h"
#include "scenario/module_world.h"

namespace scenario {

// One thing the page learnt about its schedule position: the position it was
// told at `time_us`, or no position at all from `time_us` on (the device went
// down, or its module started again and has not told it anything yet).
struct PositionSample {
  int64_t time_us = 0;
  std::optional<int64_t> position_ms;

  friend bool operator==(const PositionSample&, const PositionSample&) = default;
};

enum class DeviceRole { kDown, kChild, kParent };
const char* DeviceRoleName(DeviceRole role);

struct RoleEvent {
  int64_t time_us = 0;
  DeviceRole role = DeviceRole::kDown;
  // True when the module announced the change ("Device is set to ..."); false
  // for a start (child) or the device going down.
  bool announced = false;
};

class ReferencePage {
 public:
  // Hooks onto `device`'s page; `schedule_ms` must not be empty. The device
  // must outlive the page object.
  ReferencePage(Device& device, int32_t sync_id, std::vector<int64_t> schedule_ms);
  ~ReferencePage();
  ReferencePage(const ReferencePage&) = delete;
  ReferencePage& operator=(const ReferencePage&) = delete;

  // The device went down (its instance is being destroyed): the page knows
  // neither position nor role, and follows nothing, until its module starts
  // again and says "VERSION".
  void DeviceDown();

  Device& device() const { return device_; }
  int32_t sync_id() const { return sync_id_; }
  const std::vector<int64_t>& schedule_ms() const { return schedule_ms_; }
  int64_t schedule_total_ms() const { return schedule_total_ms_; }

  // The page index of schedule position `position_ms`: the page whose span
  // (start, end] holds it, the first page at or before 0 and the last page at
  // or beyond the schedule's end (the module, not the page, wraps the schedule).
  size_t PageIndexAt(int64_t position_ms) const;

  // The position last told, its virtual time, and the current page index.
  std::optional<int64_t> position_ms() const;
  std::optional<int64_t> position_time_us() const;
  size_t page_index() const { return page_index_; }
  DeviceRole role() const { return role_; }

  const std::vector<PositionSample>& samples() const { return samples_; }
  const std::vector<RoleEvent>& role_events() const { return role_events_; }

  // What passed between the page and its module.
  struct Counts {
    uint64_t dictionaries_received = 0;  // messages from the module
    uint64_t log_lines_received = 0;
    uint64_t other_values_received = 0;
    uint64_t messages_sent = 0;  // page messages to the module
    uint64_t play_time_messages = 0;
    uint64_t device_ip_requests = 0;
    uint64_t page_changes = 0;
    uint64_t starts = 0;
    uint64_t unreadable_numbers = 0;  // play-time entries that were not decimal integers
  };
  const Counts& counts() const { return counts_; }

 private:
  void OnPosted(const sim::PostedValue& posted);
  void OnDictionary(const pp::Var& value, int64_t time_us);
  void OnLogLine(const std::string& line, int64_t time_us);
  void StartSchedule(int64_t time_us);
  void Send(const std::string& key, const std::string& value);
  void SetRole(DeviceRole role, int64_t time_us, bool announced);

  Device& device_;
  int32_t sync_id_;
  std::vector<int64_t> schedule_ms_;
  std::vector<int64_t> page_ends_ms_;  // end of page k, from the schedule start
  int64_t schedule_total_ms_ = 0;

  std::optional<int64_t> play_time_ms_;
  std::optional<int64_t> elapsed_pages_ms_;
  size_t page_index_ = 0;
  DeviceRole role_ = DeviceRole::kDown;
  std::vector<PositionSample> samples_;
  std::vector<RoleEvent> role_events_;
  Counts counts_;
};

}  // namespace scenario
