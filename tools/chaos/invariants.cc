#include "tools/chaos/invariants.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "tools/chaos/duration_text.h"
#include "tools/lansim/sync_spread.h"

namespace chaos {
namespace {

using scenario::DeviceRole;

// "Q + 7.215 s", so that a report reads against the start of the quiet phase.
std::string AfterQuiet(int64_t time_us, const GroupBounds& bounds) {
  char text[48];
  std::snprintf(text, sizeof text, "Q + %.6f s",
                static_cast<double>(time_us - bounds.quiet_from_us) / kSecondUs);
  return text;
}

size_t HighestAddress(const std::vector<DeviceRecord>& group, const std::set<size_t>& devices) {
  return *std::max_element(devices.begin(), devices.end(), [&](size_t a, size_t b) {
    return LastAddressNumber(group[a].address) < LastAddressNumber(group[b].address);
  });
}

// A new pass of the schedule as the parent's page was told of it: when, and
// how far its position fell.
struct PassWrap {
  int64_t time_us;
  int64_t jump_us;
};

// The instants at which the parent's page was told of a new pass: its position
// fell by more than half the schedule's total (a pass lasts more than the
// total, since the module wraps only once the elapsed time exceeds it).
// Nothing else lowers the position by as much in a quiet phase: a position
// told again from a device's own state after another group's datagram is at
// most a tick and D behind. The jump is measured from the freshest position
// told in the two ticks before.
std::vector<PassWrap> PassWraps(const std::vector<scenario::PositionSample>& samples,
                                int64_t from_us, int64_t to_us, int64_t total_us) {
  std::vector<PassWrap> wraps;
  for (size_t i = 1; i < samples.size() && samples[i].time_us <= to_us; ++i) {
    const auto& now = samples[i];
    const auto& before = samples[i - 1];
    if (now.time_us < from_us || !now.position_ms || !before.position_ms) continue;
    if (*now.position_ms * 1000 >= *before.position_ms * 1000 - total_us / 2) continue;
    int64_t reached_us = INT64_MIN;
    for (size_t j = i; j-- > 0 && samples[j].time_us >= now.time_us - 2 * kTickUs;) {
      if (!samples[j].position_ms) break;
      reached_us =
          std::max(reached_us, *samples[j].position_ms * 1000 + (now.time_us - samples[j].time_us));
    }
    wraps.push_back({now.time_us, reached_us - *now.position_ms * 1000});
  }
  return wraps;
}

const PassWrap* NearestWrap(const std::vector<PassWrap>& wraps, int64_t time_us,
                            int64_t window_us) {
  const PassWrap* nearest = nullptr;
  for (const auto& wrap : wraps) {
    if (wrap.time_us < time_us - window_us) continue;
    if (wrap.time_us > time_us + window_us) break;
    if (!nearest || std::llabs(wrap.time_us - time_us) < std::llabs(nearest->time_us - time_us)) {
      nearest = &wrap;
    }
  }
  return nearest;
}

// The spread of the pages' positions at `time_us`, each the position last told
// plus the time since. Around a pass wrap, a position still in the old pass is
// compared as its distance past the wrap (the jump taken off).
std::optional<int64_t> SpreadNearWrap(
    const std::vector<std::optional<scenario::PositionSample>>& latest, int64_t time_us,
    int64_t jump_us) {
  std::vector<int64_t> positions;
  for (const auto& sample : latest) {
    if (!sample || !sample->position_ms) continue;
    const int64_t position = *sample->position_ms * 1000 + (time_us - sample->time_us);
    const int64_t unwrapped = position - jump_us;
    positions.push_back(std::llabs(unwrapped) < std::llabs(position) ? unwrapped : position);
  }
  if (positions.size() < 2) return std::nullopt;
  const auto [low, high] = std::minmax_element(positions.begin(), positions.end());
  return *high - *low;
}

std::string PositionsText(const std::vector<DeviceRecord>& group,
                          const std::vector<std::optional<scenario::PositionSample>>& latest,
                          int64_t time_us) {
  std::string text;
  for (size_t i = 0; i < group.size(); ++i) {
    if (!text.empty()) text += ", ";
    text += group[i].address + " ";
    if (!latest[i] || !latest[i]->position_ms) {
      text += "-";
      continue;
    }
    char value[96];
    std::snprintf(value, sizeof value, "%.3f s (told %.3f ms earlier)",
                  (static_cast<double>(*latest[i]->position_ms) * 1000 +
                   static_cast<double>(time_us - latest[i]->time_us)) /
                      kSecondUs,
                  static_cast<double>(time_us - latest[i]->time_us) / kMillisecondUs);
    text += value;
  }
  return text;
}

// Every page is told a position at least once every tick plus D, up to the end.
void CheckFreshness(const std::vector<DeviceRecord>& group, const GroupBounds& bounds,
                    int64_t end_us, SpreadOutcome& outcome, std::vector<Violation>& violations) {
  const int64_t limit_us = kTickUs + bounds.delay_us;
  size_t silences = 0;
  std::string first;
  for (const auto& page : group) {
    int64_t told_us = bounds.spread_from_us;
    const auto silent_until = [&](int64_t until_us) {
      const int64_t silence = until_us - told_us;
      outcome.longest_silence_us = std::max(outcome.longest_silence_us, silence);
      if (silence > limit_us && silences++ == 0) {
        first = page.address + " was told no position from " + AfterQuiet(told_us, bounds) +
                " to " + AfterQuiet(until_us, bounds) + " (limit " + MillisecondsText(limit_us) +
                ")";
      }
    };
    for (const auto& sample : page.positions) {
      if (sample.time_us <= bounds.spread_from_us || sample.time_us > end_us ||
          !sample.position_ms) {
        continue;
      }
      silent_until(sample.time_us);
      told_us = sample.time_us;
    }
    silent_until(end_us);
  }
  if (silences > 0) {
    violations.push_back(
        {"page-freshness", std::to_string(silences) + " silence(s); first: " + first});
  }
}

}  // namespace

DeviceRole RoleAt(const std::vector<scenario::RoleEvent>& roles, int64_t time_us) {
  DeviceRole role = DeviceRole::kDown;
  for (const auto& event : roles) {
    if (event.time_us > time_us) break;
    role = event.role;
  }
  return role;
}

ElectionOutcome CheckElection(const std::vector<DeviceRecord>& group, const GroupBounds& bounds,
                              int64_t end_us, std::vector<Violation>& violations) {
  ElectionOutcome outcome;
  outcome.settled_us = bounds.quiet_from_us;
  std::vector<size_t> parents_at_end;
  std::set<size_t> parents_since_order_bound;
  std::string changes_after_bound;
  size_t change_count = 0;
  for (size_t device = 0; device < group.size(); ++device) {
    const auto& roles = group[device].roles;
    if (RoleAt(roles, bounds.one_parent_by_us) == DeviceRole::kParent) ++outcome.parents_at_bound;
    if (RoleAt(roles, end_us) == DeviceRole::kParent) parents_at_end.push_back(device);
    if (RoleAt(roles, bounds.order_from_us) == DeviceRole::kParent) {
      parents_since_order_bound.insert(device);
    }
    for (const auto& event : roles) {
      if (event.time_us <= bounds.quiet_from_us || event.time_us > end_us) continue;
      outcome.settled_us = std::max(outcome.settled_us, event.time_us);
      if (event.time_us > bounds.order_from_us && event.role == DeviceRole::kParent) {
        parents_since_order_bound.insert(device);
      }
      if (event.time_us > bounds.one_parent_by_us) {
        if (++change_count <= 4) {
          changes_after_bound +=
              std::string(changes_after_bound.empty() ? "" : ", ") + group[device].address + " " +
              scenario::DeviceRoleName(event.role) + " at " + AfterQuiet(event.time_us, bounds);
        }
      }
    }
  }
  if (parents_at_end.size() == 1) outcome.parent_at_end = parents_at_end.front();
  if (!parents_since_order_bound.empty()) {
    outcome.highest_parent_since_order_bound = HighestAddress(group, parents_since_order_bound);
  }

  if (outcome.parents_at_bound != 1) {
    violations.push_back({"one-parent", std::to_string(outcome.parents_at_bound) +
                                            " parents at the bound " +
                                            AfterQuiet(bounds.one_parent_by_us, bounds)});
  }
  if (change_count > 0) {
    violations.push_back({"one-parent", std::to_string(change_count) +
                                            " role changes after the bound " +
                                            AfterQuiet(bounds.one_parent_by_us, bounds) + ": " +
                                            changes_after_bound});
  }
  if (outcome.parent_at_end && outcome.highest_parent_since_order_bound &&
      *outcome.parent_at_end != *outcome.highest_parent_since_order_bound) {
    violations.push_back(
        {"parent-order", "the parent at the end is " + group[*outcome.parent_at_end].address +
                             ", but " + group[*outcome.highest_parent_since_order_bound].address +
                             " was a parent after " + AfterQuiet(bounds.order_from_us, bounds)});
  }
  return outcome;
}

SpreadOutcome CheckSpread(const std::vector<DeviceRecord>& group, size_t parent,
                          int64_t schedule_total_ms, const GroupBounds& bounds, int64_t end_us,
                          std::vector<Violation>& violations) {
  SpreadOutcome outcome;
  const int64_t from_us = bounds.spread_from_us;
  // The spread is judged up to a wrap window before the end, so that a wrap
  // just after an instant judged is one the parent's page was told of.
  const int64_t to_us = end_us - bounds.wrap_window_us;
  const std::vector<PassWrap> wraps = PassWraps(
      group[parent].positions, from_us - bounds.wrap_window_us, end_us, schedule_total_ms * 1000);
  outcome.wraps = wraps.size();

  // The latest sample of each page, and the instants at which one changes.
  std::vector<std::optional<scenario::PositionSample>> latest(group.size());
  std::vector<size_t> cursor(group.size(), 0);
  std::vector<int64_t> instants{from_us};
  for (size_t i = 0; i < group.size(); ++i) {
    for (const auto& sample : group[i].positions) {
      if (sample.time_us > from_us && sample.time_us <= to_us) instants.push_back(sample.time_us);
    }
  }
  std::sort(instants.begin(), instants.end());
  instants.erase(std::unique(instants.begin(), instants.end()), instants.end());

  size_t spread_violations = 0;
  std::string first_spread;
  std::vector<lansim::PositionTrack> singles(group.size());
  for (const int64_t instant : instants) {
    for (size_t i = 0; i < group.size(); ++i) {
      const auto& samples = group[i].positions;
      while (cursor[i] < samples.size() && samples[cursor[i]].time_us <= instant) {
        latest[i] = samples[cursor[i]++];
      }
    }
    std::optional<int64_t> spread;
    const PassWrap* wrap = NearestWrap(wraps, instant, bounds.wrap_window_us);
    if (wrap) {
      spread = SpreadNearWrap(latest, instant, wrap->jump_us);
    } else {
      // Away from a wrap every page is in the same pass: positions compare
      // on a straight line.
      std::vector<const lansim::PositionTrack*> tracks;
      for (size_t i = 0; i < group.size(); ++i) {
        singles[i].clear();
        if (latest[i]) singles[i].push_back(*latest[i]);
        tracks.push_back(&singles[i]);
      }
      if (const auto point = lansim::SpreadAt(tracks, instant, 0)) spread = point->spread_us;
    }
    if (!spread) continue;
    ++outcome.instants;
    int64_t limit = bounds.spread_limit_us;
    if (wrap) {
      limit += bounds.wrap_allowance_us;
      outcome.max_spread_near_wrap_us = std::max(outcome.max_spread_near_wrap_us, *spread);
    } else {
      outcome.max_spread_us = std::max(outcome.max_spread_us, *spread);
    }
    if (*spread > limit && spread_violations++ == 0) {
      first_spread = "spread " + MillisecondsText(*spread) + " over the limit " +
                     MillisecondsText(limit) + (wrap ? " (near a pass wrap)" : "") + " at " +
                     AfterQuiet(instant, bounds) + ": " + PositionsText(group, latest, instant);
    }
  }

  if (spread_violations > 0) {
    violations.push_back(
        {"sync-spread", std::to_string(spread_violations) + " instant(s); first: " + first_spread});
  }
  CheckFreshness(group, bounds, end_us, outcome, violations);
  return outcome;
}

void CheckMemory(const MemoryProbe& early, const MemoryProbe& late,
                 const MemoryAllowance& allowance, std::vector<Violation>& violations) {
  const int64_t grown = late.heap_bytes - early.heap_bytes;
  const auto seconds = [](int64_t us) { return std::to_string(us / kSecondUs) + " s"; };
  if (grown > allowance.heap_bytes) {
    violations.push_back({"memory", "the heap grew by " + std::to_string(grown) + " bytes from " +
                                        seconds(early.time_us) + " to " + seconds(late.time_us) +
                                        " (allowed " + std::to_string(allowance.heap_bytes) + ")"});
  }
  if (late.pending_actions > early.pending_actions + allowance.pending_actions) {
    violations.push_back({"memory", "pending scheduler actions went from " +
                                        std::to_string(early.pending_actions) + " to " +
                                        std::to_string(late.pending_actions) + " (allowed +" +
                                        std::to_string(allowance.pending_actions) + ")"});
  }
}

}  // namespace chaos
