// How a sync group's roles went over a run, from its devices' role events:
// when it first settled on one parent, how often roles changed, and how much
// of the time after that it had exactly one parent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "scenario/reference_page.h"

namespace lansim {

// A group has settled once it has had exactly one parent for this long (or
// until the run ended): a lone parent that another device's time-out joins a
// moment later is not yet a settled group.
constexpr int64_t kSettleHoldUs = 1000 * 1000;

struct GroupRoles {
  std::optional<int64_t> settled_us;  // start of the first lone parent that held
  size_t role_changes = 0;            // changes the modules announced
  std::vector<int64_t> change_times_us;
  size_t parents_at_end = 0;
  // Share of the time from settling to the end with exactly one parent; 0 when never settled.
  double one_parent_share = 0;
};

GroupRoles AnalyseGroupRoles(const std::vector<const std::vector<scenario::RoleEvent>*>& devices,
                             int64_t end_us, int64_t hold_us = kSettleHoldUs);

}  // namespace lansim
