// pacewire-chaos's command line: which seeds to run, how long the quiet phase
// lasts, and how to report.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/chaos/plan.h"
#include "tools/chaos/run.h"

namespace chaos {

struct CampaignOptions {
  uint64_t first_seed = 1;
  uint64_t seeds = 100;
  PlanSettings plan;
  RunSettings run;
  // Destruction under load (churn.h) instead of the election campaign.
  bool churn = false;
  bool json = false;        // one JSON document on stdout instead of text
  bool show_plans = false;  // print every seed's plan, not only failing ones
  bool progress = true;     // a progress line on stderr
  std::string trace_file;   // with --seed: every event of the LAN, one line each
};

struct CommandLine {
  enum class Action { kRun, kExit };
  Action action = Action::kRun;
  // For kExit: 0 after --help (the help is in `text`), 2 after a bad argument
  // (`text` is the one-line error).
  int exit_status = 0;
  std::string text;
  CampaignOptions options;
};

// `arguments` without the program name.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// The command that runs `seed` alone with the same settings, for a report:
// "pacewire-chaos --seed 0x2a --quiet 45s".
std::string ReplayCommand(uint64_t seed, const CampaignOptions& options);

// "0x2a".
std::string SeedText(uint64_t seed);

}  // namespace chaos
