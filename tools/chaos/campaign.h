// What a campaign of seeds found: the failing seeds with their violations, and
// how close the passing ones came to each bound.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/chaos/churn.h"
#include "tools/chaos/command_line.h"
#include "tools/chaos/run.h"

namespace chaos {

struct CampaignSummary {
  uint64_t seeds_run = 0;
  std::vector<uint64_t> failed_seeds;
  std::map<std::string, uint64_t> violations_by_invariant;
  uint64_t groups = 0;
  // Groups whose parent at the end is not the highest address of the group:
  // the protocol allows it (a device back from a restart stays a child).
  uint64_t groups_led_below_highest = 0;
  int64_t longest_settling_us = 0;                 // last role change after the quiet phase began
  int64_t smallest_settling_slack_us = INT64_MAX;  // one-parent bound less the settling
  int64_t largest_spread_us = 0;
  double largest_spread_share = 0;  // of its limit
  int64_t largest_spread_near_wrap_us = 0;
  int64_t longest_silence_us = 0;
  int64_t largest_heap_growth = INT64_MIN;
  int64_t largest_pending_growth = INT64_MIN;
  int64_t virtual_us = 0;

  void Add(const RunReport& report);
};

// One seed in a few lines: the verdict, its violations, the replay command
// and, for a failure (or when asked), the plan.
std::string SeedReportText(const RunReport& report, const CampaignOptions& options, bool with_plan);
std::string SummaryText(const CampaignSummary& summary, const CampaignOptions& options);

struct ChurnSummary {
  uint64_t seeds_run = 0;
  std::vector<uint64_t> failed_seeds;
  uint64_t restarts = 0;
  uint64_t datagrams_delivered = 0;
  uint64_t page_messages = 0;
  int64_t largest_heap_growth_per_restart = INT64_MIN;

  void Add(const ChurnReport& report);
};

std::string ChurnReportText(const ChurnReport& report, const CampaignOptions& options);
std::string ChurnSummaryText(const ChurnSummary& summary, const CampaignOptions& options);
nlohmann::json ChurnJson(const ChurnReport& report, const CampaignOptions& options);
nlohmann::json ChurnSummaryJson(const ChurnSummary& summary, const CampaignOptions& options);

nlohmann::json SeedJson(const RunReport& report, const CampaignOptions& options);
nlohmann::json SummaryJson(const CampaignSummary& summary, const CampaignOptions& options);

}  // namespace chaos
