#include "tools/chaos/campaign.h"

#include <algorithm>
#include <cstdio>

#include "tools/chaos/duration_text.h"

namespace chaos {
namespace {

std::string Indented(const std::string& text, const std::string& indent) {
  std::string out;
  size_t begin = 0;
  while (begin < text.size()) {
    const size_t end = text.find('\n', begin);
    const size_t stop = end == std::string::npos ? text.size() : end;
    out += indent + text.substr(begin, stop - begin) + "\n";
    begin = stop + 1;
  }
  return out;
}

bool LedBelowHighest(const GroupReport& group) {
  if (!group.election.parent_at_end) return false;
  const int parent = LastAddressNumber(group.addresses[*group.election.parent_at_end]);
  return std::any_of(
      group.addresses.begin(), group.addresses.end(),
      [&](const std::string& address) { return LastAddressNumber(address) > parent; });
}

}  // namespace

void CampaignSummary::Add(const RunReport& report) {
  ++seeds_run;
  virtual_us += report.plan.end_us();
  if (!report.ok()) failed_seeds.push_back(report.plan.seed);
  for (const auto& violation : report.violations) ++violations_by_invariant[violation.invariant];
  for (const auto& group : report.groups) {
    ++groups;
    if (LedBelowHighest(group)) ++groups_led_below_highest;
    const int64_t settling = group.election.settled_us - group.bounds.quiet_from_us;
    longest_settling_us = std::max(longest_settling_us, settling);
    smallest_settling_slack_us = std::min(
        smallest_settling_slack_us, group.bounds.one_parent_by_us - group.election.settled_us);
    if (!group.spread_checked) continue;
    largest_spread_us = std::max(largest_spread_us, group.spread.max_spread_us);
    largest_spread_share =
        std::max(largest_spread_share, static_cast<double>(group.spread.max_spread_us) /
                                           static_cast<double>(group.bounds.spread_limit_us));
    largest_spread_near_wrap_us =
        std::max(largest_spread_near_wrap_us, group.spread.max_spread_near_wrap_us);
    longest_silence_us = std::max(longest_silence_us, group.spread.longest_silence_us);
  }
  largest_heap_growth =
      std::max(largest_heap_growth, report.late_memory.heap_bytes - report.early_memory.heap_bytes);
  largest_pending_growth = std::max(largest_pending_growth,
                                    static_cast<int64_t>(report.late_memory.pending_actions) -
                                        static_cast<int64_t>(report.early_memory.pending_actions));
}

std::string SeedReportText(const RunReport& report, const CampaignOptions& options,
                           bool with_plan) {
  std::string text = (report.ok() ? "ok   seed " : "FAIL seed ") + SeedText(report.plan.seed);
  char digest[40];
  std::snprintf(digest, sizeof digest, " (trace digest %016llx)",
                static_cast<unsigned long long>(report.trace_digest));
  text += digest;
  text += report.ok() ? "\n" : ": " + std::to_string(report.violations.size()) + " violation(s)\n";
  for (const auto& violation : report.violations) {
    text += "  " + violation.invariant + ": " + violation.detail + "\n";
  }
  if (!report.ok()) text += "  replay: " + ReplayCommand(report.plan.seed, options) + "\n";
  if (with_plan || !report.ok()) {
    text += Indented(DescribePlan(report.plan), "  | ");
    for (size_t group = 0; group < report.groups.size(); ++group) {
      const GroupReport& g = report.groups[group];
      std::string parent = "none";
      if (g.election.parent_at_end) parent = g.addresses[*g.election.parent_at_end];
      text += "  | group " + std::to_string(group) + ": " + DescribeBounds(g.bounds) + "\n";
      text += "  |   parent at the end " + parent + ", settled at Q + " +
              SecondsText(g.election.settled_us - g.bounds.quiet_from_us) + ", spread max " +
              MillisecondsText(g.spread.max_spread_us) + " (near wraps " +
              MillisecondsText(g.spread.max_spread_near_wrap_us) + "), longest silence " +
              MillisecondsText(g.spread.longest_silence_us) + "\n";
    }
  }
  return text;
}

std::string SummaryText(const CampaignSummary& summary, const CampaignOptions& options) {
  std::string text = "pacewire-chaos: " + std::to_string(summary.seeds_run) + " seed(s) from " +
                     SeedText(options.first_seed) + ", " +
                     std::to_string(summary.failed_seeds.size()) + " failed, " +
                     SecondsText(summary.virtual_us) + " virtual\n";
  for (const auto& [invariant, count] : summary.violations_by_invariant) {
    text += "  " + invariant + ": " + std::to_string(count) + " violation(s)\n";
  }
  if (summary.groups == 0) return text;
  text += "  election: settled at most Q + " + SecondsText(summary.longest_settling_us) +
          " after the faults; smallest slack to the bound " +
          SecondsText(summary.smallest_settling_slack_us) + "\n";
  text += "  parent order: " + std::to_string(summary.groups_led_below_highest) + " of " +
          std::to_string(summary.groups) +
          " groups ended led by a device below the group's highest address (allowed)\n";
  char share[32];
  std::snprintf(share, sizeof share, "%.0f%%", summary.largest_spread_share * 100);
  text += "  spread: at most " + MillisecondsText(summary.largest_spread_us) + " (" + share +
          " of its limit), near pass wraps " +
          MillisecondsText(summary.largest_spread_near_wrap_us) + "; longest silence of a page " +
          MillisecondsText(summary.longest_silence_us) + "\n";
  text += "  memory: heap grew at most " + std::to_string(summary.largest_heap_growth) +
          " bytes, scheduler queue at most " + std::to_string(summary.largest_pending_growth) +
          " actions, from a third into the quiet phase to its end\n";
  for (const uint64_t seed : summary.failed_seeds) {
    text += "  replay: " + ReplayCommand(seed, options) + "\n";
  }
  return text;
}

nlohmann::json SeedJson(const RunReport& report, const CampaignOptions& options) {
  nlohmann::json seed = {
      {"seed", SeedText(report.plan.seed)},
      {"ok", report.ok()},
      {"devices", report.plan.devices.size()},
      {"trace_digest", report.trace_digest},
      {"heap_growth_bytes", report.late_memory.heap_bytes - report.early_memory.heap_bytes}};
  nlohmann::json violations = nlohmann::json::array();
  for (const auto& violation : report.violations) {
    violations.push_back({{"invariant", violation.invariant}, {"detail", violation.detail}});
  }
  seed["violations"] = violations;
  if (!report.ok()) {
    seed["replay"] = ReplayCommand(report.plan.seed, options);
    seed["plan"] = DescribePlan(report.plan);
  }
  nlohmann::json groups = nlohmann::json::array();
  for (const auto& group : report.groups) {
    nlohmann::json entry = {
        {"sync_id", group.sync_id},
        {"addresses", group.addresses},
        {"settled_after_quiet_us", group.election.settled_us - group.bounds.quiet_from_us},
        {"one_parent_bound_after_quiet_us",
         group.bounds.one_parent_by_us - group.bounds.quiet_from_us},
        {"spread_limit_us", group.bounds.spread_limit_us},
        {"max_spread_us", group.spread.max_spread_us},
        {"max_spread_near_wrap_us", group.spread.max_spread_near_wrap_us},
        {"longest_silence_us", group.spread.longest_silence_us}};
    entry["parent"] = group.election.parent_at_end
                          ? nlohmann::json(group.addresses[*group.election.parent_at_end])
                          : nlohmann::json(nullptr);
    groups.push_back(entry);
  }
  seed["groups"] = groups;
  return seed;
}

namespace {

// The failing seeds of a campaign, each with the command that replays it.
nlohmann::json FailedSeedsJson(const std::vector<uint64_t>& seeds, const CampaignOptions& options) {
  nlohmann::json failed = nlohmann::json::array();
  for (const uint64_t seed : seeds) {
    failed.push_back({{"seed", SeedText(seed)}, {"replay", ReplayCommand(seed, options)}});
  }
  return failed;
}

}  // namespace

nlohmann::json SummaryJson(const CampaignSummary& summary, const CampaignOptions& options) {
  return {{"seeds_run", summary.seeds_run},
          {"first_seed", SeedText(options.first_seed)},
          {"failed", FailedSeedsJson(summary.failed_seeds, options)},
          {"violations_by_invariant", summary.violations_by_invariant},
          {"groups", summary.groups},
          {"groups_led_below_highest_address", summary.groups_led_below_highest},
          {"longest_settling_after_quiet_us", summary.longest_settling_us},
          {"smallest_settling_slack_us", summary.smallest_settling_slack_us},
          {"largest_spread_us", summary.largest_spread_us},
          {"largest_spread_share_of_limit", summary.largest_spread_share},
          {"largest_spread_near_wrap_us", summary.largest_spread_near_wrap_us},
          {"longest_silence_us", summary.longest_silence_us},
          {"largest_heap_growth_bytes", summary.largest_heap_growth},
          {"largest_pending_growth", summary.largest_pending_growth},
          {"virtual_us", summary.virtual_us}};
}

void ChurnSummary::Add(const ChurnReport& report) {
  ++seeds_run;
  if (!report.ok()) failed_seeds.push_back(report.seed);
  restarts += report.restarts;
  datagrams_delivered += report.datagrams_delivered;
  page_messages += report.page_messages;
  if (report.restarts_between > 0) {
    largest_heap_growth_per_restart = std::max(largest_heap_growth_per_restart,
                                               (report.late_heap_bytes - report.early_heap_bytes) /
                                                   static_cast<int64_t>(report.restarts_between));
  }
}

std::string ChurnReportText(const ChurnReport& report, const CampaignOptions& options) {
  std::string text =
      (report.ok() ? "ok   churn seed " : "FAIL churn seed ") + SeedText(report.seed);
  text += ": " + std::to_string(report.restarts) + " restarts, " +
          std::to_string(report.datagrams_delivered) + " datagrams delivered, " +
          std::to_string(report.page_messages) + " page messages, heap " +
          std::to_string(report.late_heap_bytes - report.early_heap_bytes) + " bytes over " +
          std::to_string(report.restarts_between) + " restarts\n";
  for (const auto& problem : report.problems) text += "  " + problem + "\n";
  if (!report.ok()) text += "  replay: " + ReplayCommand(report.seed, options) + "\n";
  return text;
}

std::string ChurnSummaryText(const ChurnSummary& summary, const CampaignOptions& options) {
  std::string text =
      "pacewire-chaos --churn: " + std::to_string(summary.seeds_run) + " seed(s) from " +
      SeedText(options.first_seed) + ", " + std::to_string(summary.failed_seeds.size()) +
      " failed; " + std::to_string(summary.restarts) + " restarts, " +
      std::to_string(summary.datagrams_delivered) + " datagrams delivered, " +
      std::to_string(summary.page_messages) + " page messages; heap growth at most " +
      std::to_string(summary.largest_heap_growth_per_restart) + " bytes per restart (allowed " +
      std::to_string(kHeapPerRestartBytes) + ")\n";
  for (const uint64_t seed : summary.failed_seeds) {
    text += "  replay: " + ReplayCommand(seed, options) + "\n";
  }
  return text;
}

nlohmann::json ChurnJson(const ChurnReport& report, const CampaignOptions& options) {
  nlohmann::json entry = {{"seed", SeedText(report.seed)},
                          {"ok", report.ok()},
                          {"restarts", report.restarts},
                          {"datagrams_delivered", report.datagrams_delivered},
                          {"page_messages", report.page_messages},
                          {"heap_growth_bytes", report.late_heap_bytes - report.early_heap_bytes},
                          {"restarts_between_heap_probes", report.restarts_between},
                          {"trace_digest", report.trace_digest},
                          {"problems", report.problems}};
  if (!report.ok()) entry["replay"] = ReplayCommand(report.seed, options);
  return entry;
}

nlohmann::json ChurnSummaryJson(const ChurnSummary& summary, const CampaignOptions& options) {
  return {{"seeds_run", summary.seeds_run},
          {"first_seed", SeedText(options.first_seed)},
          {"failed", FailedSeedsJson(summary.failed_seeds, options)},
          {"restarts", summary.restarts},
          {"datagrams_delivered", summary.datagrams_delivered},
          {"page_messages", summary.page_messages},
          {"largest_heap_growth_per_restart_bytes", summary.largest_heap_growth_per_restart}};
}

}  // namespace chaos
