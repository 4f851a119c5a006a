#include "tools/lansim/group_roles.h"

#include <algorithm>

namespace lansim {
namespace {

struct Change {
  int64_t time_us;
  size_t device;
  scenario::DeviceRole role;
};

}  // namespace

GroupRoles AnalyseGroupRoles(const std::vector<const std::vector<scenario::RoleEvent>*>& devices,
                             int64_t end_us, int64_t hold_us) {
  GroupRoles result;
  std::vector<Change> changes;
  for (size_t device = 0; device < devices.size(); ++device) {
    for (const auto& event : *devices[device]) {
      if (event.time_us > end_us) continue;
      changes.push_back({event.time_us, device, event.role});
      if (event.announced) {
        ++result.role_changes;
        result.change_times_us.push_back(event.time_us);
      }
    }
  }
  std::stable_sort(changes.begin(), changes.end(),
                   [](const Change& a, const Change& b) { return a.time_us < b.time_us; });
  std::sort(result.change_times_us.begin(), result.change_times_us.end());

  // Walk the intervals between instants of change; all changes of one instant
  // apply together, so a tie-break at one instant is not a lone parent.
  std::vector<scenario::DeviceRole> roles(devices.size(), scenario::DeviceRole::kDown);
  const auto parents = [&] {
    return static_cast<size_t>(
        std::count(roles.begin(), roles.end(), scenario::DeviceRole::kParent));
  };
  int64_t one_parent_us = 0;
  size_t next = 0;
  int64_t interval_start = 0;
  while (interval_start < end_us) {
    while (next < changes.size() && changes[next].time_us <= interval_start) {
      roles[changes[next].device] = changes[next].role;
      ++next;
    }
    const int64_t interval_end =
        next < changes.size() ? std::min(changes[next].time_us, end_us) : end_us;
    if (parents() == 1) {
      // A lone parent's run lasts across instants that keep exactly one parent.
      if (!result.settled_us) {
        int64_t run_end = interval_end;
        std::vector<scenario::DeviceRole> ahead = roles;
        size_t look = next;
        while (run_end < end_us && run_end - interval_start < hold_us) {
          const int64_t instant = changes[look].time_us;
          while (look < changes.size() && changes[look].time_us == instant) {
            ahead[changes[look].device] = changes[look].role;
            ++look;
          }
          if (std::count(ahead.begin(), ahead.end(), scenario::DeviceRole::kParent) != 1) break;
          run_end = look < changes.size() ? std::min(changes[look].time_us, end_us) : end_us;
        }
        if (run_end - interval_start >= hold_us || run_end >= end_us) {
          result.settled_us = interval_start;
        }
      }
      if (result.settled_us) one_parent_us += interval_end - interval_start;
    }
    interval_start = interval_end;
  }
  while (next < changes.size() && changes[next].time_us <= end_us) {
    roles[changes[next].device] = changes[next].role;
    ++next;
  }
  result.parents_at_end = parents();
  if (result.settled_us && end_us > *result.settled_us) {
    result.one_parent_share =
        static_cast<double>(one_parent_us) / static_cast<double>(end_us - *result.settled_us);
  }
  return result;
}

}  // namespace lansim
